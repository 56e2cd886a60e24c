#pragma once

// The render benchmarks' scene: fifty spheres, ellipsoids, capped cylinders and boxes, turned
// at random and crowded into the view of an 800 x 600 frame with a 1100-pixel focal length so
// that they overlap. Each shape is kept as plain values too, so a peer renderer can be given
// the same scene.

#include "core/crt_random.h"
#include "core/matrix3.h"
#include "render/q_render.h"
#include "render/span_shade.h"

#include <cstdint>
#include <vector>

namespace fifty_parts {

enum class Kind { Sphere, Ellipsoid, Cylinder, Box };

struct Shape {
    Kind kind = Kind::Sphere;
    Vec3 size{};      // radius (sphere: x), semi-axes, cylinder radius x and half-height y
    Matrix3 rotation;  // view = rotation local + at
    Vec3 at{};
    std::uint32_t colour = 0;
};

// A quadric c + 2 l.p + d.p^2 over (1, x, y, z) with a diagonal quadratic part.
inline Matrix4W DiagonalForm(double c, Vec3 l, Vec3 d) {
    Matrix4W q;
    q.m = {c, l.x, l.y, l.z, l.x, d.x, 0, 0, l.y, 0, d.y, 0, l.z, 0, 0, d.z};
    return q;
}

// The slab |p . axis| <= half as two planes.
inline void AddSlab(std::vector<Matrix4W>& forms, Vec3 axis, double half) {
    const double k = 0.5 / half;
    forms.push_back(DiagonalForm(-1.0, {axis.x * k, axis.y * k, axis.z * k}, {}));
    forms.push_back(DiagonalForm(-1.0, {-axis.x * k, -axis.y * k, -axis.z * k}, {}));
}

inline double Uniform(double lo, double hi) { return lo + (hi - lo) * CrtRand() / 32767.0; }

// The fifty shapes, from the generator's seed 3.
inline std::vector<Shape> Shapes() {
    std::vector<Shape> shapes;
    CrtSrand(3);
    for (int i = 0; i < 50; ++i) {
        Shape s;
        s.kind = static_cast<Kind>(i % 4);
        s.size = Vec3{Uniform(0.3, 1.2), Uniform(0.3, 1.2), Uniform(0.3, 1.2)};
        Vec3 axis{Uniform(-1, 1), Uniform(-1, 1), Uniform(0.1, 1)};
        Vec3Normalize(axis);
        s.rotation = Matrix3FromMatrix4(MakeRotationAboutAxis(axis, Uniform(0.0, 3.1)));
        s.at = Vec3{Uniform(-2.5, 2.5), Uniform(-2.0, 2.0), Uniform(7.0, 12.0)};
        s.colour = (0x406080u + static_cast<std::uint32_t>(i) * 0x030507u) & 0xFFFFFFu;
        shapes.push_back(s);
    }
    return shapes;
}

// The shape's own frame seen from view space: the inverse of its placement.
inline Matrix4W LocalFromView(const Shape& s) {
    const Matrix3 turn = Matrix3Transpose(s.rotation);
    const Vec3 shift = Matrix3TransformVec3(turn, s.at);
    Matrix4W localFromView = EmbedMatrix3(turn, 0);
    localFromView.m[4] = -shift.x;
    localFromView.m[8] = -shift.y;
    localFromView.m[12] = -shift.z;
    return localFromView;
}

// The shape's surfaces and bound in its own coordinates.
inline void ShapeForms(const Shape& s, std::vector<Matrix4W>& forms, Matrix4W& bound) {
    const Vec3 inverse{1 / (s.size.x * s.size.x), 1 / (s.size.y * s.size.y),
                       1 / (s.size.z * s.size.z)};
    forms.clear();
    switch (s.kind) {
        case Kind::Sphere:
            bound = DiagonalForm(-1.0, {}, {inverse.x, inverse.x, inverse.x});
            forms.push_back(bound);
            break;
        case Kind::Ellipsoid:
            bound = DiagonalForm(-1.0, {}, inverse);
            forms.push_back(bound);
            break;
        case Kind::Cylinder:  // about y, capped
            forms.push_back(DiagonalForm(-1.0, {}, {inverse.x, 0.0, inverse.x}));
            AddSlab(forms, {0, 1, 0}, s.size.y);
            bound = DiagonalForm(-2.0, {}, {inverse.x, inverse.y, inverse.x});
            break;
        case Kind::Box:
            AddSlab(forms, {1, 0, 0}, s.size.x);
            AddSlab(forms, {0, 1, 0}, s.size.y);
            AddSlab(forms, {0, 0, 1}, s.size.z);
            bound = DiagonalForm(-3.0, {}, inverse);
            break;
    }
}

// Sets part index of the renderer to the shape, placed in view space.
inline void PlaceShape(QRender& render, std::int32_t index, const Shape& s) {
    std::vector<Matrix4W> forms;
    Matrix4W bound;
    ShapeForms(s, forms, bound);
    RenderPartsSetFromLocal(render.parts, index, forms, bound, LocalFromView(s));
    render.parts.Part(index).colour = s.colour;
}

// Adds the shapes to the renderer's parts, in view space.
inline void AddParts(QRender& render, const std::vector<Shape>& shapes) {
    std::vector<Matrix4W> forms;
    Matrix4W bound;
    for (const Shape& s : shapes) {
        ShapeForms(s, forms, bound);
        const std::int32_t index = render.parts.AddPart(static_cast<std::int32_t>(forms.size()));
        PlaceShape(render, index, s);
    }
}

// The shaded benchmarks' frame: 800 x 600 with a 1100-pixel focal length, a grey background
// and one white point light.
inline constexpr std::int32_t FrameWidth = 800;
inline constexpr std::int32_t FrameHeight = 600;
inline constexpr double FrameFocal = 1100.0;
inline const Vec3 LightInView{-20.0, -30.0, -10.0};

// Sizes the renderer over pixels for that frame, lit by the light, with the fifty parts;
// leaves the renderer unsized when SetSize fails.
inline void SetUpFrame(QRender& render, std::vector<std::uint32_t>& pixels,
                       const std::vector<Shape>& shapes) {
    pixels.assign(static_cast<std::size_t>(FrameWidth * FrameHeight), 0u);
    if (render.SetSize(pixels.data(), FrameWidth, FrameHeight, FrameWidth, false) != RenderSizeOk) {
        return;
    }
    render.centreX = FrameWidth / 2.0;
    render.centreY = FrameHeight / 2.0;
    render.focalScale = FrameFocal / 1000.0;
    render.shade.backgroundColour = 0x808080;
    render.SetLightCounts(1, 0);
    RenderLightSlot& light = render.LightSlot(0);
    light.enabled = 1;
    light.position = LightInView;
    RenderLightSlotSetColours(light, {1.0, 1.0, 1.0}, {0.0, 0.0, 0.0}, 1.0);
    AddParts(render, shapes);
}

}  // namespace fifty_parts
