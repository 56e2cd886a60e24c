#pragma once

// The forms the shape builders write again and again: axis planes, the side of a cylinder
// about y, the standard bounding quadrics, collision proxies, and the carrying of a form into
// another frame. All are symmetric w-first forms over (1, x, y, z) (see part_render_record.h);
// a form is written whole, every element not named being 0.

#include "core/matrix4.h"
#include "core/vec3.h"

#include <cstdint>

// Coordinate axes as the forms index them: x 0, y 1, z 2.
enum class FormAxis : std::int32_t { X = 0, Y = 1, Z = 2 };

// Sets the linear term of axis in both mirrors (elements 1 + i and 4 (1 + i)).
void FormSetLinear(Matrix4W& form, FormAxis axis, double value);

// Sets the quadratic term of axes i and j in both mirrors (on the diagonal when i = j).
void FormSetQuadratic(Matrix4W& form, FormAxis i, FormAxis j, double value);

// The half-spaces axis >= -extent/2 and axis <= extent/2: element 0 = -1, the linear term
// -1/extent or +1/extent. An extent of 0 gives infinities, which the shape build refuses.
Matrix4W FormPlaneAbove(FormAxis axis, double extent);
Matrix4W FormPlaneBelow(FormAxis axis, double extent);

// The infinite cylinder x^2 + z^2 <= r^2 about the y axis: element 0 = -1, elements 5 and
// 15 = 1/r^2.
Matrix4W FormCylinderSide(double r);

// The ellipsoid through both rim circles of a cylinder of radius r and height h about y:
// element 0 = -2, elements 5 and 15 = 1/r^2, element 10 = 4/h^2.
Matrix4W FormCylinderBound(double r, double h);

// The ellipsoid through the eight corners of a box of sides a, b, c: element 0 = -3, elements
// 5, 10, 15 = 4/a^2, 4/b^2, 4/c^2.
Matrix4W FormBoxBound(double a, double b, double c);

// The axis-aligned ellipsoid of semi-axes a, b, c: element 0 = -1, elements 5, 10, 15 =
// 1/a^2, 1/b^2, 1/c^2.
Matrix4W FormEllipsoid(double a, double b, double c);

// Collision proxies (see ProxyKind): A in column 0 and B in column 1 with w = 1, the
// direction C in column 2 with w = 0, the radius in element 15.
Matrix4W ProxySphere(const Vec3& centre, double radius);
Matrix4W ProxyCapsule(const Vec3& a, const Vec3& b, double radius);
Matrix4W ProxyDisc(const Vec3& a, const Vec3& b, const Vec3& direction, double radius);

// The form Q carried into the frame that toFrame maps to: toFrame^T Q toFrame, so that the
// result at p equals Q at toFrame p. toFrame is affine (row 0 = 1, 0, 0, 0); the result is
// written exactly symmetric.
Matrix4W FormCarried(const Matrix4W& form, const Matrix4W& toFrame);

// The proxy carried through the placement worldFromLocal: its points A and B and its
// direction C are transformed, its radius kept (placements are rigid).
Matrix4W ProxyCarried(const Matrix4W& proxy, const Matrix4W& worldFromLocal);

// The point (x, y, z) carried through an affine w-first transform.
Vec3 PointCarried(const Matrix4W& transform, const Vec3& point);

// True when every element of the form is finite.
bool FormIsFinite(const Matrix4W& form);

// True when the form's quadratic block is all zero (a plane, or a constant).
bool FormIsPlane(const Matrix4W& form);
