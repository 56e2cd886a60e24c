#include "render/render_parts.h"

#include "core/check.h"
#include "core/private_heap.h"
#include "core/quadric.h"
#include "render/shading_maths.h"

#include <array>

void RenderParts::Clear() {
    parts.clear();
    surfaceForms.clear();
    surfaceEigenvalues.clear();
}

std::int32_t RenderParts::AddPart(std::int32_t surfaceRoom) {
    ORBELLE_CHECK(surfaceRoom >= 0 && surfaceRoom <= RenderPartMaxSurfaces);
    ORBELLE_CHECK(parts.size() < 0x3FFFFF);  // part index + 1 fills 22 bits of a pixel word
    RenderPart part;
    part.firstSurface = static_cast<std::int32_t>(surfaceForms.size());
    part.surfaceRoom = surfaceRoom;
    TranslateBadAlloc([&] {
        parts.reserve(parts.size() + 1);
        // The eigenvalues first: a refused form array then leaves them only longer.
        const std::size_t slots = surfaceForms.size() + static_cast<std::size_t>(surfaceRoom);
        surfaceEigenvalues.resize(slots, -1.0f);
        surfaceForms.resize(slots);
        parts.push_back(part);
    });
    return static_cast<std::int32_t>(parts.size()) - 1;
}

std::span<const Matrix4W> RenderParts::Surfaces(std::int32_t index) const {
    const RenderPart& part = Part(index);
    return std::span<const Matrix4W>(surfaceForms).subspan(
        static_cast<std::size_t>(part.firstSurface), static_cast<std::size_t>(part.surfaceCount));
}

void RenderParts::SetViewForms(std::int32_t index, std::span<const Matrix4W> surfaces,
                               const Matrix4W& bound) {
    RenderPart& part = Part(index);
    ORBELLE_CHECK(surfaces.size() <= static_cast<std::size_t>(part.surfaceRoom));
    part.surfaceCount = static_cast<std::int32_t>(surfaces.size());
    for (std::size_t s = 0; s < surfaces.size(); ++s) {
        Matrix4W& form = surfaceForms[static_cast<std::size_t>(part.firstSurface) + s];
        form = surfaces[s];
        ConditionQuadric(form);
        surfaceEigenvalues[static_cast<std::size_t>(part.firstSurface) + s] = -1.0f;
    }
    part.bound = bound;
}

double RenderParts::SurfaceEigenvalue(std::int32_t index, std::int32_t surface) {
    const RenderPart& part = Part(index);
    ORBELLE_CHECK(surface >= 0 && surface < part.surfaceCount);
    const auto slot = static_cast<std::size_t>(part.firstSurface + surface);
    float& kept = surfaceEigenvalues[slot];
    if (kept < 0.0f) kept = static_cast<float>(SymEigenMax3(surfaceForms[slot]));
    return kept;
}

Matrix4W QuadricTransform(const Matrix4W& form, const Matrix4W& sourceFromTarget) {
    Matrix4W result = Matrix4Product(Matrix4Product(Matrix4Transpose(sourceFromTarget), form),
                                     sourceFromTarget);
    // Keep the form exactly symmetric.
    for (int i = 0; i < 4; ++i) {
        for (int j = i + 1; j < 4; ++j) {
            const double mean = 0.5 * (result.m[4 * i + j] + result.m[4 * j + i]);
            result.m[4 * i + j] = mean;
            result.m[4 * j + i] = mean;
        }
    }
    return result;
}

void RenderPartsSetFromLocal(RenderParts& parts, std::int32_t index,
                             std::span<const Matrix4W> localSurfaces, const Matrix4W& localBound,
                             const Matrix4W& localFromView) {
    ORBELLE_CHECK(localSurfaces.size() <= static_cast<std::size_t>(RenderPartMaxSurfaces));
    std::array<Matrix4W, RenderPartMaxSurfaces> view;
    for (std::size_t s = 0; s < localSurfaces.size(); ++s) {
        view[s] = QuadricTransform(localSurfaces[s], localFromView);
    }
    parts.SetViewForms(index, std::span<const Matrix4W>(view.data(), localSurfaces.size()),
                       QuadricTransform(localBound, localFromView));
}
