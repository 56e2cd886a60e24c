#pragma once

// Building one part of a scene geometry from its compact record: the record is widened into
// the container's working record, its sizes kept from collapsing, its mapping objects made,
// kept or dropped, the builder of its shape type run in part coordinates, the render header
// filled, and the built shape carried into world coordinates with the part's placement.
//
// A part whose forms come out infinite or not a number (a zero radius, a zero spheroid axis,
// parameters that are not numbers), whose bounding quadric holds no point (a sphere zone whose
// slab misses its sphere), or whose record has no room for the surfaces its shape needs, is
// unbuildable: it is left with no surfaces, a bounding quadric that holds no point,
// a zero-radius proxy and bounds at its origin, an empty feature table and visible 0, and its
// build result is PartBuildUnbuildable. Nothing that is not finite reaches the renderer, the
// octree or the collision tests.
//
// The bowl, the revolved pair and the cored solid (types 20, 21, 22) can be built from
// parameters that describe no solid: they keep the shape their builder wrote, visible, with a
// build result of PartBuildUnbuildable, which the dimension editors take as a step too far.
// The corner rod (type 26) reports 1 when it had to lessen its bend or tilt a section
// direction back; it is built all the same.

#include "core/matrix4.h"
#include "core/vec3.h"

#include <cstdint>

class SceneGeometry;
struct WorkingPartRecord;

// Result of BuildPartShape for a part index the table does not hold.
inline constexpr std::int32_t PartBuildNoEntry = -12;

// Result of BuildPartShape for a part that gives no valid shape (see above).
inline constexpr std::int32_t PartBuildUnbuildable = -1;

// Builds the render record of part partIndex from its compact record, or, when working is
// given, from that working record (record is then read only for a composite's extension; a
// composite built from a working record without a record is unbuildable). The container's
// working record receives the part widened, its size parameters raised to 1e-4 of the largest.
// The render record gets its shape type, part id, colours, shading colour, fraction,
// visibility (flag 0x80 clear), option flags, material (the record's texture handle, or the
// container's default material when it names none or a stale one), mapping objects (made
// for a material with a texture image, dropped without one), its shape, and, for the shape
// types placed by position and rotation (all but 10, 11, 12, 26, 27 and 28), its placement.
// Unless keepMarks the selection and highlight marks are cleared. bindTextures points the
// mapping object at the material even when it was kept. typeThirteenWhole builds a composite
// with every element a surface inside a sphere of radius 990 as bound, when its record has
// room for them; otherwise the composite is built in the usual form, element 0 its bound.
// Returns the build result (also kept as the record's buildResult): 0,
// PartBuildUnbuildable (an unbuildable part, or one of types 20 to 22 without a valid solid), or PartBuildNoEntry when the table has no part partIndex (nothing
// changes then). Throws KVOutOfMemoryException when a mapping object, feature table or wrap
// map cannot be allocated; a mapping object's build passes its own exceptions out.
std::int32_t BuildPartShape(SceneGeometry& geometry, const std::uint8_t* record,
                            std::int32_t partIndex, bool keepMarks, bool bindTextures,
                            bool typeThirteenWhole, const WorkingPartRecord* working = nullptr);

// The surface form of one composite element in part coordinates. In the element's own frame,
// with s = -1 when flip is set and +1 otherwise: s z <= 0 when f0 = f1 = 0; s y <= 0 when
// f0 = f2 = 0; s x <= 0 when f1 = f2 = 0; s (f0 x^2 + f1 y^2 + f2 z^2 - f3) <= 0 otherwise.
// The element's frame is turned by its rotation vector, has its origin at scale x position in
// part coordinates, and one of its units spans scale units of the part.
Matrix4W ElementSurface(bool flip, double f0, double f1, double f2, double f3, double scale,
                        const Vec3& rotation, const Vec3& position);
