#pragma once

// Pieces the shape builders share: the shape's surface count and class, profile records of the
// revolution mapping, the upright and axis-aligned collision proxies, the rim edges of a
// closed shape of revolution, and the part's wrap map.

#include "core/matrix4.h"
#include "core/vec3.h"
#include "geometry/feature_table.h"
#include "geometry/part_render_record.h"
#include "geometry/shape_forms.h"
#include "geometry/wrap_map_record.h"
#include "texture/rev_tex.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// Where a profile record lies on the outline.
enum class ProfilePosition : std::int16_t { Side = 0, BottomCap = 1, TopCap = 2 };

// Sets the surfaces in use and the mask of the curved ones.
void SetShape(PartRenderRecord& part, std::int32_t surfaceCount, std::int32_t shapeClass);

// A straight profile record (a cap or a side): from height y1 and radius r1 to y2 and r2.
Rtp StraightProfile(double y1, double y2, double r1, double r2, double largest, double slope,
                    ProfilePosition position);

// An elliptic profile record about centre height yCentre, equatorial semi-axis a and polar
// semi-axis b: prolate (measured from the pole) when a < b.
Rtp EllipticProfile(double yCentre, double y1, double y2, double r1, double r2, double largest,
                    double a, double b);

// Lays the part's revolution mapping along the first count profile records (nothing without
// records or a mapping object).
void BuildMapping(PartRenderRecord& part, std::span<Rtp> segments, std::size_t count);

// The outline of a closed shape of revolution: bottom cap, straight side, top cap.
void BuildClosedMapping(PartRenderRecord& part, std::span<Rtp> segments, double h, double r1,
                        double r2, double sideSlope);

// A capsule along the y axis from -h/2 to h/2.
Matrix4W UprightCapsule(double h, double radius);

// The axis an elongated proxy lies along: z only when c exceeds both others, otherwise x when
// a is at least b, else y.
FormAxis LongestAxis(double a, double b, double c);

// The point v along the axis.
Vec3 AlongAxis(FormAxis axis, double v);

// The two rim edges of a closed shape of revolution: each end plane meets the side.
inline constexpr std::array<FeatureEdge, 2> RimEdges{{
    {1, 0, FeatureCurve::PlaneCurved},
    {2, 0, FeatureCurve::PlaneCurved},
}};

// An edge where two curved surfaces meet in the circle y = height: its plane -1 + y/height = 0,
// or y = 0 written without the constant.
FeatureEdge CircleEdge(std::int32_t surface, std::int32_t otherSurface, double height);

// The part's wrap map, made when it has none (the shape build frees it before every build);
// throws KVOutOfMemoryException.
WrapMapRecord& WrapMapOf(PartRenderRecord& part);
