#include "render/look_at_view.h"

#include <cmath>

std::optional<Matrix4W> ViewFromLookAt(const Vec3& eye, const Vec3& target, const Vec3& up) {
    Vec3 forward{target.x - eye.x, target.y - eye.y, target.z - eye.z};
    if (!(Vec3Normalize(forward) > 0.0)) return std::nullopt;
    const Vec3 down{-up.x, -up.y, -up.z};
    Vec3 right = Vec3Cross(down, forward);
    if (!(Vec3Normalize(right) > 0.0)) return std::nullopt;
    const Vec3 axisY = Vec3Cross(forward, right);
    Matrix4W m;
    m.m[0] = 1.0;
    const Vec3 axes[3] = {right, axisY, forward};
    for (int i = 0; i < 3; ++i) {
        const Vec3& a = axes[i];
        m.m[4 * (i + 1)] = -Vec3Dot(a, eye);
        m.m[4 * (i + 1) + 1] = a.x;
        m.m[4 * (i + 1) + 2] = a.y;
        m.m[4 * (i + 1) + 3] = a.z;
    }
    return m;
}
