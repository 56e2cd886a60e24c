#pragma once

// The process-wide default placement that views fall back on: the default origin (a point in
// scene units), the default orientation (rows are the axes) and the default length. They hold
// (0, 0, 0), the identity and 25.0 from start-up until set. One thread, no lock.

#include "core/matrix3.h"
#include "core/vec3.h"

const Vec3& DefaultOrigin();
const Matrix3& DefaultOrientation();
double DefaultLength();

void SetDefaultOrigin(const Vec3& origin);
void SetDefaultOrientation(const Matrix3& orientation);
void SetDefaultLength(double length);
