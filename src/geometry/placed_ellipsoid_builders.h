#pragma once

// Builders of the placed and cut ellipsoids: the pair of shaped ellipsoids and the ellipsoid
// placed by a point and two directions, which write the part's placement themselves, and the
// ellipsoid with a curved cut. Conventions as for the solid primitive builders
// (solid_primitive_builders.h); KVOutOfMemoryException when the feature table cannot be
// allocated.

#include "core/vec3.h"
#include "geometry/part_render_record.h"
#include "texture/surface_mapping_entry.h"

#include <span>

// The part frame of a shape placed at origin with its y axis along up and its x axis along
// the part of across square to up; z = x cross y. Directions that give no frame (zero, or
// across parallel to up) leave a placement that is not finite, which the shape build refuses.
void SetPlacementFromDirections(PartRenderRecord& part, const Vec3& origin, const Vec3& up,
                                const Vec3& across);

// Ellipsoid of semi-axes a (x), b (y), c (z) placed at origin along up and across (type 28):
// one surface, which is also its bound. With heads (the container's head scratch, empty when
// the part has no surface mapping list) the ellipsoid is mapped as surface 0.
void BuildPlacedEllipsoidShape(PartRenderRecord& part, const Vec3& origin, const Vec3& up,
                               const Vec3& across, double a, double b, double c,
                               std::span<SurfaceMappingEntry> heads);

// Pair of shaped ellipsoids placed at origin along up and across (type 27): surface 0 passes
// through x = a and x = -(2 - f) a / f and has semi-axes b (y) and c (z); surface 1 is
// surface 0 turned about x by the angle whose half-angle tangent is t. Shape factors outside
// (0, 2) give no closed solid and so no bound: the part is then unbuildable. With heads both
// surfaces are mapped as the ellipsoids they are.
void BuildPlacedSolidShape(PartRenderRecord& part, const Vec3& origin, const Vec3& up,
                           const Vec3& across, double a, double b, double c, double f, double t,
                           std::span<SurfaceMappingEntry> heads);

// Ellipsoid of semi-axes p0 (x), p1 (y), p6 (z) cut by a second quadric through the two points
// of its xy ellipse at half-angle tangents p2 and p3, shaped by p4, p5 and p7 (type 29). With
// heads the ellipsoid and the cut are mapped, the cut as the ellipsoid, hyperboloid or
// elliptic cylinder its form is.
void BuildCutEllipsoidShape(PartRenderRecord& part, double p0, double p1, double p2, double p3,
                            double p4, double p5, double p6, double p7,
                            std::span<SurfaceMappingEntry> heads);
