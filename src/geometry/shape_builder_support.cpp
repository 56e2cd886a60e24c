#include "geometry/shape_builder_support.h"

#include "core/private_heap.h"
#include "texture/object_tex.h"

#include <algorithm>
#include <new>

void SetShape(PartRenderRecord& part, std::int32_t surfaceCount, std::int32_t shapeClass) {
    part.surfaceCount = surfaceCount;
    part.shapeClass = shapeClass;
}

Rtp StraightProfile(double y1, double y2, double r1, double r2, double largest, double slope,
                    ProfilePosition position) {
    Rtp profile;
    profile.y1 = y1;
    profile.y2 = y2;
    profile.r1 = r1;
    profile.r2 = r2;
    profile.maxr = largest;
    profile.a = slope;
    profile.type = static_cast<std::int16_t>(ProfileKind::Straight);
    profile.obs = static_cast<std::int16_t>(position);
    return profile;
}

Rtp EllipticProfile(double yCentre, double y1, double y2, double r1, double r2, double largest,
                    double a, double b) {
    Rtp profile;
    profile.yOffset = yCentre;
    profile.y1 = y1;
    profile.y2 = y2;
    profile.r1 = r1;
    profile.r2 = r2;
    profile.maxr = largest;
    profile.a = a;
    profile.b = b;
    profile.type =
        static_cast<std::int16_t>(a < b ? ProfileKind::EllipticPolar : ProfileKind::Elliptic);
    profile.obs = static_cast<std::int16_t>(ProfilePosition::Side);
    return profile;
}

void BuildMapping(PartRenderRecord& part, std::span<Rtp> segments, std::size_t count) {
    if (segments.empty() || part.objectTex == nullptr) return;
    part.objectTex->Build(segments.first(count));
}

void BuildClosedMapping(PartRenderRecord& part, std::span<Rtp> segments, double h, double r1,
                        double r2, double sideSlope) {
    if (segments.size() < 3) return;
    segments[0] = StraightProfile(-h / 2, -h / 2, 0.0, r1, r1, 1.0, ProfilePosition::BottomCap);
    segments[1] =
        StraightProfile(-h / 2, h / 2, r1, r2, std::max(r1, r2), sideSlope, ProfilePosition::Side);
    segments[2] = StraightProfile(h / 2, h / 2, r2, 0.0, r2, -1.0, ProfilePosition::TopCap);
    BuildMapping(part, segments, 3);
}

Matrix4W UprightCapsule(double h, double radius) {
    return ProxyCapsule(Vec3{0, -h / 2, 0}, Vec3{0, h / 2, 0}, radius);
}

FormAxis LongestAxis(double a, double b, double c) {
    if (c > a && c > b) return FormAxis::Z;
    return a >= b ? FormAxis::X : FormAxis::Y;
}

Vec3 AlongAxis(FormAxis axis, double v) {
    switch (axis) {
        case FormAxis::X:
            return Vec3{v, 0, 0};
        case FormAxis::Y:
            return Vec3{0, v, 0};
        case FormAxis::Z:
            return Vec3{0, 0, v};
    }
    return Vec3{};
}


WrapMapRecord& WrapMapOf(PartRenderRecord& part) {
    if (part.wrapMap == nullptr) {
        part.wrapMap = new (PrivateAlloc(sizeof(WrapMapRecord))) WrapMapRecord{};
    }
    return *part.wrapMap;
}

FeatureEdge CircleEdge(std::int32_t surface, std::int32_t otherSurface, double height) {
    FeatureEdge edge{surface, otherSurface, FeatureCurve::TwoCurved};
    edge.plane = height == 0.0 ? std::array<double, 4>{0, 0, 1, 0}
                               : std::array<double, 4>{-1, 0, 1 / height, 0};
    return edge;
}
