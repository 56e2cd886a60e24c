#pragma once

// A view transform from an eye point looking at a target, for tools and tests that place a
// camera by points rather than through a document's camera.

#include "core/matrix4.h"
#include "core/vec3.h"

#include <optional>

// The w-first viewFromWorld that puts eye at the origin, target on the +z axis and up towards
// -y (image rows grow downwards), with x completing a right-handed frame. Empty when eye and
// target coincide or up is parallel to the line of sight.
std::optional<Matrix4W> ViewFromLookAt(const Vec3& eye, const Vec3& target, const Vec3& up);
