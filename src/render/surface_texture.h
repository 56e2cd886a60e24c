#pragma once

// Texture colour of one visible surface point: the part's image pyramid sampled where the
// point lies in the image, at the level whose texel size matches the pixel's footprint there.
//
// Colours come out on the scale of the lighting model's surface colour, 128 per unit of an
// 8-bit channel (0..32767): a pyramid entry keeps 7 bits a channel, so a white texel gives
// 32512 where a white base colour gives 32640.
//
// Planar mapping. A part with a texture and no mapping source of its own takes the image
// flat: part-space x and y are the texel position from the image centre, one unit a texel of
// the full-size image. The footprint F (texels squared that a pixel covers along its longer
// axis) is the larger eigenvalue of the Gram matrix of the two screen-step derivatives of
// (x, y) on the point's tangent plane, and picks the level:
//
//   F <= 0.25, 0.5, 1.0, 1.32, 1.75, 2.3, 3.0: magnification 0 .. 6 (twice the resolution);
//   F <= 6: the image itself (level 0); then level k for the first bound above F of
//   12, 20, 32, 48, 80, 128, 192, 320, 512, 768, 1280, 2048 (k = 1 .. 12), 12 beyond.
//
// A missing level is built on demand; when it cannot be built the image itself is read.
//
// Sampling is bilinear with 8-bit weights, two channels at once in one 32-bit word (the
// pyramid's biased, halved channels leave room for the rounding of each half). An image that
// tiles repeats in both directions and is opaque. A decal (a bordered image) exists only inside
// the image: its samples are composited front to back by their alpha, and what stays
// uncovered (all of it outside the image) shows the part's base colour.
//
// Wrapped primitives. A box or a flat-sided cylinder with a wrap map lays its surfaces, by
// surface index, onto the mapping object's surface coordinates: an angle u around the part
// (its perimeter scaled by k to a full turn) and a length v along it (k Y, and the end faces
// beyond the body). The mapping object's tiles, rotated copies of the image scattered over
// the two bands of its default mapping, cover (u, v): each band's cells hold chains of the
// tiles that may reach them. v, moved by the part's phase (below), is taken modulo the
// mapping's length; band 1 overhangs band 0 at both its ends, so a point there looks at band 1
// first and band 0 under it. Each tile
// turns (u, v) into image texels about its centre and its own scale; the footprint is the
// pixel's size on the surface (w^2 times the squared secant of the view angle, at least w^2)
// times k^2 times the tile's scale squared.
//
// Surface mapping lists. An ellipsoid, a hyperboloid of one sheet or an elliptic cylinder
// with an entry in the part's surface mapping list takes its angle and length from the entry's
// coordinate functions (surface_tex_coords.h), in the entry's own frame, and reaches the same
// tiles; the coordinates' angle per unit of distance takes the place of k. An elliptic
// cylinder's angle grows along its section, which gives bump maps their frame there.
//
// Corner rods. A corner rod with a wrap map takes the angle around its axis and the length
// measure along it (geometry/corner_rod_wrap.h), both in units of the local section's
// perimeter over 2 pi, and reaches the material's tiles as above. A rod whose start A lies at
// the end B of another textured rod continues that rod's length measure, so a chain of rods
// shows one texture through its joints.
//
// Revolution mappings. A part whose own mapping object keeps angles (every sphere and the other
// shapes of revolution without a custom mapping) takes the angle u around its y axis and the
// length v of the point along its profile, measured in units of the local radius r so that u
// and v keep the image's shape (a sphere's v is Mercator's); the material's tiles cover (u, v)
// as above, the footprint divided by r^2. The profile record is the one of the surface whose
// profile passes nearest the point.
//
// Material caps. Near the poles of an ellipsoid's entry and of an angle-keeping revolution
// mapping a pair of the material's edge caps, the one the part's phase picks, covers the point, as
// the custom mappings' caps do theirs (below), with the distance d from the cap's start along v
// (from -bandHalfHeight and bandHalfHeight for an ellipsoid, from where the profile first and last
// turns steeper than 45 degrees for a revolution) placed at the logarithmic radius rho = lInner
// e^d: the map keeps angles, and where d is 0 a cap's tiles meet the body's at the same scale. A
// cap reaches d below its inner length and rho within its disc; the footprint grows by rho^2. On an
// ellipsoid a cap fades out over the body near the edge of the square of 0.9 of its radius,
// over about five pixels, so that no hard seam shows where it ends.
//
// Custom revolution mappings. A part whose own mapping object lays its own tiles takes the
// angle u as above and the arc length v along its profile, and reaches its own tiles, at the
// footprint's own scale. With poles, the mapping's band runs from lStart to lEnd of its band 0
// and a cap covers each pole: a point before the band's start reads the first cap alone, one
// beyond its end the second cap alone, and a point on the band reads the caps that reach it
// (first cap, then second) before the band under them. A cap's plane point lies at the distance
// rho from its pole along v (v itself, or the mapping's length less v) in the point's
// direction around the axis, (z, x) / r * rho at the first pole and (x, z) / r * rho at the
// second, so that neither shows the image reversed; a cap reaches rho up to its outer length.
// A cap's height gradient, in its plane, is turned back into the directions of growing u and v.
// A mapping without poles reads its two bands as the wrapped primitives do.
//
// Texture phase. Each part keeps a phase, a fraction of a turn (65536 a turn), so that parts
// of one material do not all show the same patch of it. Before the bands are searched, the
// body's length coordinate moves by that fraction of the mapping's length, g = v / L +
// phase / 65536 and v = (g - floor(g)) L; a cap's plane point turns by the phase about the pole
// (RotateByQuarterTurnAngle) before its cell is found, and the height gradient read there
// turns back by minus the phase. Corner rods keep their own length measure through their
// joints and ignore the phase; so does the six-face tiling of surface mapping list entries. A
// custom mapping with poles reads its band between its caps where it lies, turning only its
// caps.

// Bump lighting. A part whose material has a bump amount B (its "Bump" value) and whose image
// has a height map shades with its normal tilted by the map's slope. The map's full height
// range (0..255) stands for a relief B / BumpAmountPerTexel texels deep, so an amount of 100
// lifts the brightest texel one texel above the darkest and a negative amount sinks it. The
// pyramid keeps heights halved, so the lookup leaves 2^15 times the height gradient (in steps
// of the 0..255 range) in the renderer's bump vector:
// along the part's texel axes for the planar mapping, along the surface's angle and length
// directions for the others; the shading moves the surface gradient G by
// -B 2^-40 |G| BumpScale times that vector, so that G / |G| tilts by exactly the slope of the
// relief for the planar mapping at one part unit a texel.
#include "core/matrix4.h"
#include "core/vec3.h"
#include "geometry/corner_rod_wrap.h"

#include <array>
#include <cstdint>
#include <vector>

class CustomRevTex;
class ObjectTex;
struct PolarMap;
struct SurfaceMappingEntry;
class QRender;
struct BufferArray;
struct TexPyramid;

inline constexpr double BumpAmountPerTexel = 100.0;
inline constexpr double BumpScale = 0x1p25 / (BumpAmountPerTexel * 255.0);

// A pyramid level as the lookup reads it: magnification 0..6 or level 0..12.
struct TextureLevelChoice {
    bool isMagnified = false;
    std::int32_t index = 0;
};

// The level for the squared footprint F, by the table above (NaN counts as beyond it).
TextureLevelChoice SurfaceTextureLevel(double footprint);

// How a part's surfaces reach the image.
enum class TextureMapping : std::uint8_t {
    Planar = 0,             // part-space x and y are texels
    Box = 1,                // wrap map of a box, through the mapping object's tiles
    FlatSidedCylinder = 2,  // wrap map of a flat-sided cylinder, likewise
    SurfaceList = 3,        // the part's surface mapping list, likewise
    Revolution = 4,         // the part's own angle-keeping revolution mapping, likewise
    CustomRevolution = 5,   // the part's own custom revolution mapping and its own tiles
    CornerRod = 6,          // wrap map of a corner rod, through the material's tiles
};

// One part's texture as the span shading reads it: about 280 bytes.
struct PartTexture {
    TexPyramid* pyramid = nullptr;  // null: the part shades in its own colour
    Matrix4W partFromView;          // w-first, view space to part space
    TextureMapping mapping = TextureMapping::Planar;
    // Wrapped primitives: the scale k of the surface coordinates and the wrap map's three
    // measures a, b, c of its bevelled or rounded faces.
    std::array<double, 4> primitive{};
    // Wrapped primitives: the mapping object whose bands hold the tiles (never null then), and
    // each band's cell row length along v.
    const CustomRevTex* tiles = nullptr;
    std::array<double, 2> bandCellLengths{};
    // CustomRevolution with poles: each cap's cell side in its plane.
    std::array<double, 2> capCellLengths{};
    // SurfaceList and Revolution: the material's polar caps (the pair of edge caps the phase
    // picks, MaterialCapPair) and each one's cell side in its plane; null where the material
    // has none.
    std::array<const PolarMap*, 2> materialCaps{};
    std::array<double, 2> materialCapCellLengths{};
    // SurfaceList: the material's first six edge caps as the faces of the six-face tiling of
    // the entries, each with its cell side; all null unless the material has six.
    std::array<const PolarMap*, 6> faceMaps{};
    std::array<double, 6> faceMapCellLengths{};
    // Revolution with poles: the caps cover the length coordinate before capLengths[0] and
    // after capLengths[1].
    bool hasRevolutionCaps = false;
    std::array<double, 2> capLengths{};
    // SurfaceList: the part's entries (SurfaceMappingEntry buffers from firstIndex on).
    const BufferArray* surfaceList = nullptr;
    // Revolution, and SurfaceList surfaces without an entry: the part's own mapping object,
    // whose surface records give the length coordinate along the profile.
    const ObjectTex* revolution = nullptr;
    // CornerRod: the rod's wrap frame and the length measure at which its start A lies.
    CornerRodWrapFrame cornerRod{};
    double cornerRodStart = 0;
    // The part's texture phase, 0..65535 for one turn: the body's length coordinate moves
    // by phase / 65536 of the mapping's length, and the caps' planes turn by it.
    std::int32_t phase = 0;
    std::int32_t bumpAmount = 0;   // the material's bump amount; 0 shades without bumps
    std::uint32_t baseColour = 0;  // 0xRRGGBB: fills what no sample covers
    std::uint8_t hasTint = 0;
    std::array<std::uint8_t, 3> tintColour{0x80, 0x80, 0x80};  // red, green, blue; 0x80 neutral
};

// The textures of the renderer's parts, by part index, and the bump vector the last lookup
// that ran bump mapping left, in view space.
struct PartTextures {
    std::vector<PartTexture> parts;
    Vec3 bumpVector{};

    // The texture of part index, null when the part has none.
    const PartTexture* Find(std::int32_t index) const {
        if (index < 0 || static_cast<std::size_t>(index) >= parts.size()) return nullptr;
        const PartTexture& texture = parts[static_cast<std::size_t>(index)];
        return texture.pyramid != nullptr ? &texture : nullptr;
    }
};

// The texture colour (red, green, blue on the 128 scale) of the view-space point p of part
// on the surface whose gradient there is n (any length). With bumpWanted and a pyramid that
// holds a height map, also writes the height gradient into render.partTextures.bumpVector;
// flipNormal is the side of the surface that faces the eye, for mappings with a tangent
// frame. Builds the pyramid levels it needs; never fails: without any readable level the
// point takes the base colour.
void ShadeSurfacePoint(QRender& render, const PartTexture& part,
                       std::array<std::int32_t, 3>& outColour, TexPyramid& pyramid,
                       std::int32_t surface, bool bumpWanted, bool flipNormal, const Vec3& p,
                       const Vec3& n);

// The seam fade of a point (x, y) of a face or cap plane, in units of its disc radius, at the
// distance rho from its centre (same units), for a pixel of that size there: 0 for no fade, -1
// where the plane is not used (outside the square of half-side 0.9), else the weight 1..65536
// (65536 for 1). Inside the square the fade starts at tf, about five pixels in from its edge,
// tf = max(0, 0.9 - 5 pixel / (sqrt(rho^2 + 1.5625) + 0.75)), and each axis beyond it falls
// smoothly to 0 at 0.9: with t = (2 |x| - (tf + 0.9)) / (0.9 - tf), 0.5 - (0.75 - 0.25 t^2) t.
std::int32_t SeamFadeWeight(double x, double y, double rho, double pixel);

// The six-face tiling of a surface mapping list entry's angle-keeping coordinates (u, v)
// (ellipsoids, hyperboloids and elliptic cylinders alike), read on the unit sphere of the map: face
// 0 is the pole where v falls, face 1 the pole where it grows, faces 2..5 the points of the equator
// at u = 0, pi/2, pi and 3 pi/2. A point's position on face i is its stereographic projection about
// the face's centre, tan of half its angle from it, in the direction of its angle around it (as the
// polar caps lay it at the poles), with the plane's stretch per unit of (u, v) and the plane's
// directions of growing u and v.
struct SurfaceFacePoint {
    double x = 0;
    double y = 0;
    double stretch = 0;
    std::array<double, 2> alongU{};
    std::array<double, 2> alongV{};
};
SurfaceFacePoint SurfaceFacePointOf(std::int32_t face, double u, double v);

// The angle h per plane unit at which an entry's faces lie about their centres (2 / h plane
// units per unit of tan(theta / 2)). An ellipsoid's is 2 pi over the perimeter of its
// cross-section (the ellipse of its two smaller semi-axes, around which the map's angle turns
// once at the equator): the map's own angle per unit of length there lies either side of it at
// the four faces of the equator, for either form of the map, and it changes smoothly with the
// semi-axes where the map changes form. 0 for an ellipsoid without a cross-section. Hyperboloids
// and elliptic cylinders take a fixed 0.01, their faces laid at the same size whatever the
// surface's.
double SurfaceFaceScale(const SurfaceMappingEntry& entry);

// The perimeter of the ellipse of semi-axes a and b (4 max(a, b) when one of them is 0; 0 when
// both are, or for a negative or non-finite one).
double EllipsePerimeter(double a, double b);

// The face whose centre lies nearest the point (u, v).
std::int32_t NearestSurfaceFace(double u, double v);

// The reach of a face disc of radius R (plane units) on an entry whose coordinates turn h
// radians per plane unit (h' = h, f = R h / 2): along the angle 2 atan(f) / h and along the
// length ln((1 + f) / (1 - f)) / h, both 10^100 from f = 1 on. The entry caches f with them
// (fadeRatio, fadeLimits) and works them out again only when f changes.
std::array<double, 2> SurfaceFaceLimits(SurfaceMappingEntry& entry, double radius, double h);

// The pair of a material's edge caps that a part of texture phase phase (0..65535) reads:
// ((mapCount / 2) x phase) >> 16. The count in that rule is mapCount, the number of edge caps
// the material holds (VersaTex::VTPMaps), not the number of pairs: the caps come two to a
// pair, so mapCount / 2 is the number of whole pairs and the phase spreads them evenly over
// the turn. A material with a single pair (two caps) thus always gives pair 0, and one with
// three gives pair 2 just below a full turn.
std::int32_t MaterialCapPair(std::size_t mapCount, std::int32_t phase);

// True when part's lighting is tilted by its height map: a bump amount and a height map.
bool IsBumpMapped(const PartTexture& part);

// The surface gradient g moved by the bump vector the lookup left, for the bump amount: the
// rule at the top of this file.
Vec3 BumpedGradient(const Vec3& g, std::int32_t amount, const Vec3& bumpVector);
