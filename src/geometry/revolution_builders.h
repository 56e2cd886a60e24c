#pragma once

// Builders of the solids of revolution bounded by quadrics through rim circles: the bowl cut
// from a spheroid, the waisted or capped pair (also the torus stand-in) and the cored solid.
// They share the conventions of the solid primitive builders (solid_primitive_builders.h):
// part coordinates with y the axis of revolution, every field the builder owns rewritten on
// each build, KVOutOfMemoryException when the feature table cannot be allocated.
//
// Their parameters can describe no solid; they then still write a shape (so that the part
// keeps a drawable form) but return PartBuildUnbuildable, which the shape build keeps as the
// part's build result and the dimension editors take as "try a smaller step".

#include "geometry/part_render_record.h"

#include <cstdint>

// Spheroid of radius r across and half-length l along y, with the ellipsoidal cutout of radial
// semi-axis cutRadius and axial semi-axis cutSteepness centred at y = cutDepth taken out, cut
// by the plane y <= planeOffset (type 20): the spheroid, the outside of the cutout, the plane.
// Returns 0, or -1 when the cut leaves no bowl of an accepted kind (the feature table is then
// empty).
std::int32_t BuildBowlShape(PartRenderRecord& part, double l, double r, double cutSteepness,
                            double cutRadius, double cutDepth, double planeOffset);

// Solid of revolution between two quadrics through the rim circles of radius rb at y = -h and
// rt at y = h (types 5 and 21). Depth d > 0 makes a surface whose radius half-way is about d
// (exactly d when rb = rt); d <= 0 a cap reaching the axis at y = -+|d|. The smaller depth
// gives surface 0, the larger surface 1. Returns 0, or -1 when the depths give no solid (the
// larger depth below 0.001 of the smaller rim, or a neck too narrow for a deep cap); surface 1
// is then a copy of surface 0.
std::int32_t BuildRevolvedPairShape(PartRenderRecord& part, double h, double rb, double rt,
                                    double d0, double d1);

// The torus stand-in of big radius bigR and small radius smallR (type 5): the pair through
// rims of radius bigR at y = -+smallR whose surfaces pass through bigR - smallR and
// bigR + smallR half-way.
void BuildTorusShape(PartRenderRecord& part, double smallR, double bigR);

// Hollow solid of revolution between y = -h and y = h (type 22): the core through the inner
// rims (innerBottom, innerTop) of depth coreSize, the wall through the outer rims (outerBottom,
// outerTop) of waist neckRadius, the two end planes. Returns 0, or -1 when the core size is
// below -0.99 h (it is built at -0.99 h), the neck below 0.001 of the smaller outer rim, or the
// core breaks through the wall between the end planes.
std::int32_t BuildCoredSolidShape(PartRenderRecord& part, double h, double innerBottom,
                                  double outerBottom, double innerTop, double outerTop,
                                  double coreSize, double neckRadius);
