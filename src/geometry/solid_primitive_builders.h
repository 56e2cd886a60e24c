#pragma once

// Builders of the solid primitives: the sphere, closed cylinder, box, cone frustum, tapered
// prism, sphere zone, flat-sided cylinder, ellipsoid, spheroid and faceted cylinder. Each
// turns the dimensions of one part into its shape in part coordinates: the part is centred on
// the origin, and shapes of revolution turn about the y axis from y = -h/2 to y = h/2. Only
// the spheroid is written in scene coordinates, from its own centre and axis.
//
// Every builder overwrites all it owns in the record: surfaceCount, shapeClass, the surfaces,
// the collision proxy, the bounding quadric and the feature table (corners in part
// coordinates; a shape without corners and edges gets an empty table). The feature table is
// written anew on every build, so its corners always describe the part's present dimensions
// and the shape build may carry them into world coordinates once per build.
//
// Builders check nothing: the shape build raises the listed dimensions to a minimum first,
// makes sure the record has room for the surfaces, and refuses a part whose forms come out
// infinite or not a number. They throw KVOutOfMemoryException when the feature table or the
// wrap map cannot be allocated, leaving the record partly written; a mapping object's Build
// passes its own exceptions out.
//
// The shapes with a revolution mapping take the run of profile records that the shape build
// lends them (empty when the part has no mapping object): they describe the part's outline
// from bottom to top in it and build the part's mapping object from it.

#include "core/vec3.h"
#include "geometry/part_render_record.h"
#include "texture/rev_tex.h"
#include "texture/surface_mapping_entry.h"

#include <cstdint>
#include <span>

// Sphere of radius r (shape type 1): one surface; a sphere proxy; the bound is the surface.
void BuildSphereShape(PartRenderRecord& part, double r, std::span<Rtp> segments);

// Closed cylinder of radius r and height h (type 2): the side, then the planes y >= -h/2 and
// y <= h/2. A capsule proxy when 2r <= h, else a disc; two rim edges.
void BuildCylinderShape(PartRenderRecord& part, double r, double h, std::span<Rtp> segments);

// Box of sides a (x), b (y), c (z) (type 3): six planes, x, y, z, minus side first; a capsule
// proxy along the longest side; eight corners and twelve edges. With a texture image it gets a
// box wrap map.
void BuildBoxShape(PartRenderRecord& part, double a, double b, double c);

// Cone frustum of height h with radius r1 at y = -h/2 and r2 at y = h/2 (type 4): the cone,
// then the two end planes. Neither radius may fall below 0.001 of the other.
void BuildFrustumShape(PartRenderRecord& part, double h, double r1, double r2,
                       std::span<Rtp> segments);

// Prism of width t (x) and length l (y) whose depth along z changes linearly from d1 at
// y = -l/2 to d2 at y = l/2 (type 6): six planes; a sphere proxy.
void BuildTaperedPrismShape(PartRenderRecord& part, double t, double l, double d2, double d1);

// Sphere of radius r centred at height d, cut to the slab |y| <= h/2 (type 7): the sphere,
// then the two planes; an edge for each plane that cuts the sphere. A zone that the slab
// misses has no revolution mapping: its mapping object is destroyed.
void BuildSphereZoneShape(PartRenderRecord& part, double r, double h, double d,
                          std::span<Rtp> segments);

// Closed cylinder of radius r and height h with four flats at r cos(pi/8) from the axis
// (type 8): the side, the four flats (x, then z), the two end planes; sixteen corners. With
// a texture image it gets a flat-sided cylinder wrap map.
void BuildFlatSidedCylinderShape(PartRenderRecord& part, double r, double h);

// Axis-aligned ellipsoid of semi-axes a, b, c (type 9). With a surface mapping list (heads
// not empty) it writes its entry head into heads[0] and the list's first entry.
void BuildEllipsoidShape(PartRenderRecord& part, double a, double b, double c,
                         std::span<Rtp> segments, std::span<SurfaceMappingEntry> heads);

// Ellipsoid of revolution about the axis through centre along axis, semi-axis l along it and
// radius r across it (type 12), in scene coordinates: the part's placement becomes the
// identity.
void BuildSpheroidShape(PartRenderRecord& part, const Vec3& centre, const Vec3& axis, double l,
                        double r);

// Closed cylinder of radius r and height h with facetCount facets at angle facetAngle cut
// into each rim (type 19): the side, the end planes, the top facets, the bottom facets. A
// count of 0 or less leaves the plain cylinder.
void BuildFacetedCylinderShape(PartRenderRecord& part, std::int32_t facetCount, double r, double h,
                               double facetAngle);

// True when the part's material carries a texture image ready to be mapped.
bool PartHasTextureImage(const PartRenderRecord& part);
