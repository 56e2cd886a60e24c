#include "geometry/shape_surface_count.h"

#include "core/float_convert.h"

#include <algorithm>
#include <cmath>

namespace {

// round() of a parameter, halves away from zero, held to 0..limit; NaN gives 0.
std::int32_t RoundedCount(double value, std::int32_t limit) {
    if (std::isnan(value)) return 0;
    return std::clamp(TruncToInt32(std::round(std::clamp(value, -1.0, limit + 1.0))), 0, limit);
}

}  // namespace

std::int32_t FacetedCylinderFacetCount(double p3) {
    return RoundedCount(p3, FacetedCylinderMaxFacets);
}

std::int32_t HoledSolidHoleCount(double p5) { return RoundedCount(p5, HoledSolidMaxHoles); }

std::int32_t ShapeSurfaceCount(ShapeType type, double countParam, std::uint32_t elementCount) {
    switch (type) {
        case ShapeType::Torus:
        case ShapeType::RevolvedPair:
        case ShapeType::Ring:
        case ShapeType::PlacedSolid:
        case ShapeType::CutEllipsoid:
            return 2;
        case ShapeType::Cylinder:
        case ShapeType::Frustum:
        case ShapeType::SphereZone:
        case ShapeType::Bowl:
        case ShapeType::FlaredSolid:
            return 3;
        case ShapeType::Rod:
        case ShapeType::RoundedCylinder:
        case ShapeType::RoundedFrustum:
        case ShapeType::CoredSolid:
        case ShapeType::CornerRod:
            return 4;
        case ShapeType::SmoothPlate:
            return 5;
        case ShapeType::Box:
        case ShapeType::TaperedPrism:
        case ShapeType::CutRod:
            return 6;
        case ShapeType::FlatSidedCylinder:
        case ShapeType::RoundedBox:
            return 7;
        case ShapeType::RoundedOctagon:
            return 8;
        case ShapeType::FacetedCylinder:
            return 2 * FacetedCylinderFacetCount(countParam) + 3;
        case ShapeType::HoledSolid:
            return HoledSolidHoleCount(countParam) + 4;
        case ShapeType::Composite:
            return static_cast<std::int32_t>(
                       std::clamp(elementCount, CompositeMinElements, CompositeMaxElements)) -
                   1;
        default:
            return 1;
    }
}
