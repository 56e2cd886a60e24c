#include "geometry/shape_forms.h"

#include <cmath>
#include <cstddef>

namespace {

std::size_t Index(FormAxis axis) { return static_cast<std::size_t>(axis) + 1; }

// The form constant + xx x^2 + yy y^2 + zz z^2.
Matrix4W DiagonalForm(double constant, double xx, double yy, double zz) {
    Matrix4W form;
    form.m[0] = constant;
    form.m[5] = xx;
    form.m[10] = yy;
    form.m[15] = zz;
    return form;
}

}  // namespace

void FormSetLinear(Matrix4W& form, FormAxis axis, double value) {
    const std::size_t k = Index(axis);
    form.m[k] = value;
    form.m[4 * k] = value;
}

void FormSetQuadratic(Matrix4W& form, FormAxis i, FormAxis j, double value) {
    const std::size_t a = Index(i);
    const std::size_t b = Index(j);
    form.m[4 * a + b] = value;
    form.m[4 * b + a] = value;
}

Matrix4W FormPlaneAbove(FormAxis axis, double extent) {
    Matrix4W form;
    form.m[0] = -1.0;
    FormSetLinear(form, axis, -1.0 / extent);
    return form;
}

Matrix4W FormPlaneBelow(FormAxis axis, double extent) {
    Matrix4W form;
    form.m[0] = -1.0;
    FormSetLinear(form, axis, 1.0 / extent);
    return form;
}

Matrix4W FormCylinderSide(double r) {
    return DiagonalForm(-1.0, 1.0 / (r * r), 0.0, 1.0 / (r * r));
}

Matrix4W FormCylinderBound(double r, double h) {
    return DiagonalForm(-2.0, 1.0 / (r * r), 4.0 / (h * h), 1.0 / (r * r));
}

Matrix4W FormBoxBound(double a, double b, double c) {
    return DiagonalForm(-3.0, 4.0 / (a * a), 4.0 / (b * b), 4.0 / (c * c));
}

Matrix4W FormEllipsoid(double a, double b, double c) {
    return DiagonalForm(-1.0, 1.0 / (a * a), 1.0 / (b * b), 1.0 / (c * c));
}

Matrix4W ProxySphere(const Vec3& centre, double radius) {
    Matrix4W proxy;
    proxy.m[0] = 1.0;
    proxy.m[4] = centre.x;
    proxy.m[8] = centre.y;
    proxy.m[12] = centre.z;
    proxy.m[15] = radius;
    return proxy;
}

Matrix4W ProxyCapsule(const Vec3& a, const Vec3& b, double radius) {
    Matrix4W proxy = ProxySphere(a, radius);
    proxy.m[1] = 1.0;
    proxy.m[5] = b.x;
    proxy.m[9] = b.y;
    proxy.m[13] = b.z;
    return proxy;
}

Matrix4W ProxyDisc(const Vec3& a, const Vec3& b, const Vec3& direction, double radius) {
    Matrix4W proxy = ProxyCapsule(a, b, radius);
    proxy.m[6] = direction.x;
    proxy.m[10] = direction.y;
    proxy.m[14] = direction.z;
    return proxy;
}

Matrix4W FormCarried(const Matrix4W& form, const Matrix4W& toFrame) {
    // QA first, then the upper triangle of A^T (QA), mirrored.
    Matrix4W qa;
    for (std::size_t r = 0; r < 4; ++r) {
        for (std::size_t c = 0; c < 4; ++c) {
            double sum = 0.0;
            for (std::size_t k = 0; k < 4; ++k) sum += form.m[4 * r + k] * toFrame.m[4 * k + c];
            qa.m[4 * r + c] = sum;
        }
    }
    Matrix4W out;
    for (std::size_t r = 0; r < 4; ++r) {
        for (std::size_t c = r; c < 4; ++c) {
            double sum = 0.0;
            for (std::size_t k = 0; k < 4; ++k) sum += toFrame.m[4 * k + r] * qa.m[4 * k + c];
            out.m[4 * r + c] = sum;
            out.m[4 * c + r] = sum;
        }
    }
    return out;
}

Matrix4W ProxyCarried(const Matrix4W& proxy, const Matrix4W& worldFromLocal) {
    Matrix4W out = proxy;
    for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t r = 0; r < 4; ++r) {
            double sum = 0.0;
            for (std::size_t k = 0; k < 4; ++k) {
                sum += worldFromLocal.m[4 * r + k] * proxy.m[4 * k + c];
            }
            out.m[4 * r + c] = sum;
        }
    }
    return out;
}

Vec3 PointCarried(const Matrix4W& transform, const Vec3& point) {
    const auto& m = transform.m;
    return Vec3{m[4] + m[5] * point.x + m[6] * point.y + m[7] * point.z,
                m[8] + m[9] * point.x + m[10] * point.y + m[11] * point.z,
                m[12] + m[13] * point.x + m[14] * point.y + m[15] * point.z};
}

bool FormIsFinite(const Matrix4W& form) {
    for (double e : form.m) {
        if (!std::isfinite(e)) return false;
    }
    return true;
}

bool FormIsPlane(const Matrix4W& form) {
    for (std::size_t r = 1; r < 4; ++r) {
        for (std::size_t c = 1; c < 4; ++c) {
            if (form.m[4 * r + c] != 0.0) return false;
        }
    }
    return true;
}
