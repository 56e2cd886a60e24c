#pragma once

// Rotations as 3x3 matrices: axis and angle, rotation vectors (w = t*a, angle t = |w|),
// Euler angles, frames about an axis, and the eigen-frame of a symmetric matrix (in
// sym_eigen3.h). Rotations are right-handed: Rx(t) has rows (1, 0, 0), (0, cos t, -sin t),
// (0, sin t, cos t), and likewise for y and z. All angles are radians.

#include "core/matrix3.h"
#include "core/vec3.h"

#include <array>

// (1 - cos t) a a^T + cos t I + sin t [a]x for a unit axis a.
Matrix3 Matrix3FromAxisAngle(const Vec3& axis, double angle);
// Rodrigues: I + (sin t / t) K + 2 (sin(t/2) / t)^2 K*K with K = [w]x; below t = 1e-16 the
// series limits 1 and 0.5 are used, so (0, 0, 0) gives the identity.
Matrix3 RotationFromVector(const Vec3& w);
// The rotation vector of R, with |w| in [0, pi]. Near a half turn the axis comes from the
// symmetric part of R, where the antisymmetric part has lost its precision.
Vec3 RotationToVector(const Matrix3& r);
// The unit axis and the angle in [0, pi] of R; an angle of 0 gives the axis (1, 0, 0).
void Matrix3ToAxisAngle(const Matrix3& r, Vec3& axis, double& angle);
// Rz(a) * Ry(b) * Rx(c).
Matrix3 Matrix3FromEulerZYX(double a, double b, double c);
// Rx(x) * Ry(y) * Rz(z).
Matrix3 RotationFromEulerXYZ(double x, double y, double z);
// The angles (x, y, z) of R = Rx(x) Ry(y) Rz(z). Returns 1, or 0 at gimbal lock (m2 at
// +-1), where y is +-pi/2, z is 0 and x carries the whole remaining turn.
int Matrix3ToEulerXYZ(const Matrix3& r, Vec3& angles);
// Ry(a2) * Rz(a1) * Ry(a0) for angles (a0, a1, a2).
Matrix3 RotationFromEulerYZY(const std::array<double, 3>& angles);
// (a0, a1, a2) with R = Ry(a2) Rz(a1) Ry(a0), a1 in [0, pi] and a0, a2 in (-pi, pi]. At the
// poles (a1 at 0 or pi) only a0 + a2 or a2 - a0 is defined, and it is split in halves.
std::array<double, 3> EulerYZYFromRotation(const Matrix3& r);
// A frame whose third column is (x, y, z) as given (not normalised); the second column is
// a unit vector perpendicular to it and the first is second x third.
Matrix3 BasisFromAxis(double x, double y, double z);
// The rotation taking the y axis onto the unit vector d by the shortest arc, accurate right
// down to -y. For d = -y, where every arc is shortest, it is the half turn about the x axis.
Matrix3 RotationFromYAxis(const Vec3& d);
