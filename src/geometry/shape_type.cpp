#include "geometry/shape_type.h"

bool ShapeTypeIsValid(ShapeType type) {
    const auto value = static_cast<std::int32_t>(type);
    return value >= 1 && value <= ShapeTypeCount;
}

bool ShapeTypeIsPlacedByParameters(ShapeType type) {
    switch (type) {
        case ShapeType::Rod:
        case ShapeType::CutRod:
        case ShapeType::Spheroid:
        case ShapeType::CornerRod:
        case ShapeType::PlacedSolid:
        case ShapeType::PlacedEllipsoid:
            return true;
        default:
            return false;
    }
}
