#include "render/render_parts.h"

#include "core/crt_random.h"
#include "core/quadric.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

namespace {

double FormValue(const Matrix4W& q, const Vec4& v) {
    const double p[4] = {v.w, v.x, v.y, v.z};
    double sum = 0.0;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) sum += p[i] * q.m[4 * i + j] * p[j];
    }
    return sum;
}

double RandomUnit() { return CrtRand() / 16383.5 - 1.0; }

TEST(RenderParts, TransformedFormTakesTheValuesOfTheOriginal) {
    CrtSrand(7);
    for (int trial = 0; trial < 50; ++trial) {
        SCOPED_TRACE(trial);
        Matrix4W form;
        for (int i = 0; i < 4; ++i) {
            for (int j = i; j < 4; ++j) {
                form.m[4 * i + j] = form.m[4 * j + i] = RandomUnit();
            }
        }
        Matrix4W localFromView;
        localFromView.m[0] = 1.0;
        for (int i = 4; i < 16; ++i) localFromView.m[i] = RandomUnit() * 2.0;
        const Matrix4W viewForm = QuadricTransform(form, localFromView);
        for (int k = 0; k < 5; ++k) {
            const Vec4 view{1.0, RandomUnit() * 5, RandomUnit() * 5, RandomUnit() * 5};
            const Vec4 local = Matrix4TransformVec4(localFromView, view);
            EXPECT_NEAR(FormValue(viewForm, view), FormValue(form, local), 1e-9 * 200);
        }
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) EXPECT_EQ(viewForm.m[4 * i + j], viewForm.m[4 * j + i]);
        }
    }
}

TEST(RenderParts, SurfacesAreConditionedOnceWhenSet) {
    RenderParts parts;
    EXPECT_EQ(parts.AddPart(2), 0);
    EXPECT_EQ(parts.AddPart(1), 1);
    Matrix4W plane;  // z >= 5: -z + 5 <= 0, as 2 b z + c with b = -0.5
    plane.m[0] = 5.0;
    plane.m[3] = plane.m[12] = -0.5;
    Matrix4W sphere;
    sphere.m = {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const Matrix4W forms[2] = {sphere, plane};
    parts.SetViewForms(0, forms, sphere);
    ASSERT_EQ(parts.Surfaces(0).size(), 2u);
    EXPECT_EQ(parts.Surfaces(0)[0].m[0], -1.0);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(parts.Surfaces(0)[1].m[15]) >> 32, 0x7FFFFFFFu);
    EXPECT_EQ(parts.Surfaces(0)[1].m[0], 5.0);
    EXPECT_EQ(parts.Part(1).firstSurface, 2);
    EXPECT_EQ(parts.Surfaces(1).size(), 0u);
}

}  // namespace
