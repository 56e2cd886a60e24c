#pragma once

// QRender: the software renderer of implicit quadric parts. One object owns what a frame needs:
// the output target (32-bit 0xAARRGGBB words given from outside), the per-pixel sample buffers,
// the reduced copies of the frame, the parts in view space, the per-light shadow maps, the span
// regions that bound incremental work, and the tables of the integer stages.
//
// Sizing. SetSize allocates every frame-sized buffer for the options, the samples per pixel and
// the light counts in force. Those buffers depend on the counts, so changing the light counts
// or the samples per pixel after SetSize sizes them again (SetLightCounts,
// SetSamplesPerPixel): a light count grown behind the buffers' back would write past the light
// maps and the extra planes. Every size is computed in size_t and checked; a size that does not
// fit, or an allocation the private heap refuses, makes SetSize report -1, and until a later
// SetSize succeeds nothing renders (BuffersReady is false).
//
// Sample buffers. A SampleCell holds a pixel's PixelWord, its light mask and its depth word.
// Each buffer has a one-cell border (pixel (x, y) is cell (x + 1, y + 1)) so that neighbour
// reads need no bounds tests; with several samples per pixel the planes follow each other.
// Buffer 0 is the working frame; buffers 1 to 3 are the backups of incremental rendering.
//
// Depth words are integers proportional to the inverse depth, larger nearer: a point at view
// depth z has word depthScale x focal / z, so z = focal x depthScale / word.

#include "core/matrix4.h"
#include "core/private_block.h"
#include "core/vec3.h"
#include "render/edge_lines.h"
#include "render/light_extra_ids.h"
#include "render/part_order.h"
#include "render/render_interrupt.h"
#include "render/render_parts.h"
#include "render/shade_settings.h"
#include "render/small_parts.h"
#include "render/span_region.h"
#include "render/star_sky.h"
#include "render/surface_texture.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// One sample of the frame: 12 bytes.
struct SampleCell {
    std::uint32_t pixel = 0;      // PixelWord: id and marks; 0 = nothing covers the sample
    std::uint32_t lightMask = 0;  // bit 31 - i: light i lights it; bit 15 - i: light i faces it
    std::int32_t depth = 0;       // depth word; 0 where nothing covers the sample
};
static_assert(sizeof(SampleCell) == 12);

// One cell of a light's id map: 8 bytes.
struct LightMapCell {
    std::uint32_t id = 0;  // PixelWord id layout; bit 30 flat, bit 29 more ids, bit 31 empty
    std::int32_t depth = 0;
};
static_assert(sizeof(LightMapCell) == 8);

// PixelWord bits: 31 finished by the pixel pass, 29 small-part chain, 28 highlight, 27
// selection, 5..26 part index + 1 (0: no surface), 0..4 surface index.
inline constexpr std::uint32_t PixelFinished = 0x80000000u;
inline constexpr std::uint32_t PixelSmallPartChain = 0x20000000u;
inline constexpr std::uint32_t PixelHighlight = 0x10000000u;
inline constexpr std::uint32_t PixelSelected = 0x08000000u;
inline constexpr std::uint32_t PixelIdMask = 0x07FFFFFFu;

// The id of surface of part index: (index + 1) x 32 + surface.
inline std::uint32_t PixelIdOf(std::int32_t partIndex, std::int32_t surface) {
    return static_cast<std::uint32_t>(partIndex + 1) * 32u + static_cast<std::uint32_t>(surface);
}
// The part index of a pixel word, -1 when no surface covers it.
inline std::int32_t PixelPartIndex(std::uint32_t word) {
    return static_cast<std::int32_t>((word & PixelIdMask) >> 5) - 1;
}
inline std::int32_t PixelSurface(std::uint32_t word) { return static_cast<std::int32_t>(word & 31); }

// The fill word of a part whose flat colours are still to be computed.
inline constexpr std::uint32_t FlatColoursPending = 0x80000000u;

// One part's flat-preview colours, 0xAARRGGBB.
struct FlatPartColours {
    std::uint32_t fill = FlatColoursPending;
    std::uint32_t edge = 0;
};

inline constexpr std::int32_t RenderLightSlotCount = 16;
inline constexpr std::int32_t RenderSampleBufferCount = 4;
inline constexpr std::int32_t RenderMaxLevel = 4;
inline constexpr std::int32_t RenderReducedBufferCount = 8;
inline constexpr std::int32_t RenderMinSide = 8;
inline constexpr std::int32_t SqrtTableEntries = 2049;
inline constexpr std::int32_t FalloffTablePairs = 257;

// SetSize results.
inline constexpr std::int32_t RenderSizeOk = 0;
inline constexpr std::int32_t RenderSizeNoMemory = -1;
inline constexpr std::int32_t RenderSizeTooSmall = -2;

// Which buffers the view wants besides the frame; set before SetSize.
struct RenderOptions {
    bool shadows = false;             // per-light maps for the shadow lights
    bool edgeLines = false;           // the pixel pass's edge-line buffer
    bool sky = false;                 // the star sky buffer
    bool flatPreview = false;         // flat preview mode: no sky buffer, no shadows or stars
    bool perLightDependents = false;  // per-light lists of the pixels a map cell shades
};

// The cells and the frame a pass works on, with the frame's row stride in words; null where
// not allocated.
struct PassBuffers {
    SampleCell* cells = nullptr;
    std::uint32_t* out = nullptr;
    std::size_t stride = 0;
};

// One reduction level: level 0 is the render size; each deeper level halves the size (plus
// a margin of 4), the focal length and, about (-4, -4), the centre.
struct RenderLevel {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t cellStride = 0;  // width + 2
    double centreX = 0.0;
    double centreY = 0.0;
    double focal = 0.0;
};

// One light slot: what the renderer knows of a light, and the light's shadow map.
struct RenderLightSlot {
    std::uint8_t enabled = 0;
    std::array<double, 3> colour{1.0, 1.0, 1.0};
    std::array<double, 3> terms{0.25, 0.25, 0.25};
    Vec3 position{};  // view space

    // The lighting model's integer colours: colour x intensity x 1024, rounded, lit and in
    // shadow (RenderLightSlotSetColours); a light with a range lights nothing at or beyond it.
    std::array<std::int32_t, 3> litTriple{};
    std::array<std::int32_t, 3> shadowTriple{};
    bool hasRange = false;
    double range = 0.0;

    // Falloff f(x) = k (1 - x) x^-e, tabulated (BuildLightFalloffTables).
    double falloffExponent = 0.0;  // e
    double falloffFactor = 0.0;    // k
    double tableExponent = -777.0;  // the e and k the table was built for; -777 none
    double tableFactor = -777.0;
    PrivateBlockPtr<float> falloffTable;  // 257 pairs (value, slope)

    // The shadow map (slots below the shadow light count, with shadows on).
    std::int32_t axisCode = 0;
    PrivateBlockPtr<LightMapCell> map;          // side x side x samples
    PrivateBlockPtr<std::uint32_t> idPlane;     // several samples: side x side x samples
    PrivateBlockPtr<std::int32_t> idPlaneWork;  // several samples: 256 entries
    PrivateBlockPtr<std::int32_t> dependents;   // list heads, side x side
    PrivateBlockPtr<std::int32_t> dependentPool;  // (cells + cells / 4) x 3 words
    std::optional<SpanRegion> region;
    std::optional<SpanRegion> secondRegion;

    // The map's backups for incremental frames (AllocAuxBuffers): A is the background the
    // frames restore from, B the second set that exists with a scene part list. The id plane
    // backups exist with several samples.
    PrivateBlockPtr<LightMapCell> mapBackupA;
    PrivateBlockPtr<LightMapCell> mapBackupB;
    PrivateBlockPtr<std::uint32_t> idPlaneBackupA;
    PrivateBlockPtr<std::uint32_t> idPlaneBackupB;
    // Two samples: the ids met behind a cell's two hits, of the working map and each backup.
    LightExtraIds extraIds;
    LightExtraIds extraIdsBackupA;
    LightExtraIds extraIdsBackupB;

    // The light's view of its map (SetupLightView, light_map.h): a view-space point p has
    // light-space coordinates lightFromView (p - position) (rows), and a light-space point
    // (x, y, z) in front of the light falls on cell floor(mapScale x / z + mapU),
    // floor(mapScale y / z + mapV). hasMapView is false while the view is degenerate (the
    // light at the shadow centre); every point is then lit.
    bool hasMapView = false;
    std::array<double, 9> lightFromView{};
    double mapU = 0.0;
    double mapV = 0.0;
    double mapScale = 0.0;
    double mapDepthScale = 0.0;  // map depth word = mapDepthScale / light-space depth
    // The parts in the light's space, by part index as in QRender::parts.
    RenderParts lightParts;
    // The dependency lists (shadow_pass.h): the next never-used entry of the pool, its
    // capacity in entries, and whether every tested pixel found room in it.
    std::int32_t dependentNext = 0;
    std::int32_t dependentFree = -1;  // entries given back by released cells, -1 none
    std::int32_t dependentCapacity = 0;
    bool isDependentsComplete = false;
    // The second backup set's dependency lists, laid out as the ones above: copied from them
    // by AllocAuxBuffers and exchanged with them as the sets exchange roles.
    struct DependentLists {
        PrivateBlockPtr<std::int32_t> heads;
        PrivateBlockPtr<std::int32_t> pool;
        std::int32_t next = 0;
        std::int32_t free = -1;
        std::int32_t capacity = 0;
        bool isComplete = false;
    };
    DependentLists dependentsBackupB;
    // The thin parts marked in the working map (MarkSmallPartsInLightMap), by map cell, and
    // those of the backups' pictures.
    SmallPartChains smallParts;
    SmallPartChains smallPartsBackupA;
    SmallPartChains smallPartsBackupB;
};

class SceneGeometry;

class QRender {
public:
    // A renderer with the defaults of an unsized view: no buffers yet (BuffersReady false),
    // one sample per pixel, one light, one shadow light, focal scale and light-map scale 1,
    // depth constants 0.25 and 2.5, the poll mask -1. Allocates its span regions and the
    // square-root table; throws KVOutOfMemoryException.
    QRender();
    virtual ~QRender();

    QRender(const QRender&) = delete;
    QRender& operator=(const QRender&) = delete;

    // Progress hook of the long passes (current of from..to, stage); 0 continues. A derived
    // view may throw to abort.
    virtual std::int32_t ReportProgress(std::int32_t current, std::int32_t from, std::int32_t to,
                                        std::int32_t stage);

    // Points the renderer at target (width x height words, rows stride words apart; may be
    // null, then nothing writes to it) and allocates the buffers. The render size becomes the
    // full size. Returns RenderSizeTooSmall (-2, nothing changed) when a side is below 8 or
    // the stride below the width, RenderSizeNoMemory (-1) when a size does not fit or the heap
    // refuses (the buffers made before stay, the failed one is null, nothing renders until a
    // later SetSize succeeds), else 0. wantExtraPlanes asks for the planes of the light layers.
    virtual std::int32_t SetSize(std::uint32_t* target, std::int32_t width, std::int32_t height,
                                 std::int32_t stride, bool wantExtraPlanes);

    // Renders one frame into the output. partList null: the whole frame (the parts reloaded
    // from the scene geometry first when one is bound, see LoadRenderParts). partList a
    // count-prefixed list of part indices: an incremental frame over the backups of
    // AllocAuxBuffers, which must hold the picture without those parts; only where the listed
    // parts were drawn last (the change region) or are now (their footprint) is restored and
    // drawn again, and the change region becomes their new footprint; a changed list given
    // without complement bounds the frame with its parts' footprint instead. With complement
    // set and a changed list the frame is not drawn: the background backup (the second set
    // when a scene part list made one) is drawn again inside the footprint of the changed
    // parts with every part except the listed ones (a part that starts moving leaves the
    // background, one that stops joins it), and that footprint joins the change region.
    // With shadows (shadow_pass.h) the frames carry the parts' shadows too: an incremental
    // frame also restores and tests again the pixels whose shadows the parts may have moved,
    // and those whose light changed join the change region; a complement render also does so
    // in the backup and adds them to the change region, or, with a second backup set, in that
    // set with its light maps (the change region stays). Frames always follow the shadows; an
    // incremental frame given a changed list, or force (its low byte), also tests where the
    // changed parts' shadows may fall (ProjectShadowFootprint) and records the dependency
    // lists again where it changes them, so that they describe its picture
    // (SaveRegionBuffers hands them to the backups with it). Without sized buffers, or with a render size that does not fit or
    // is below 8, nothing is drawn; an incremental frame without backups renders the whole
    // frame instead, and a complement render without them does nothing.
    // UserAbortRender from the row polls passes through, leaving the frame part drawn.
    virtual void RenderFrame(const std::int32_t* partList, bool complement,
                             const std::int32_t* changed, std::int32_t force);

    // Keeps the frame just rendered as the background of incremental frames, for the frame's
    // size, level, focal length, centre and view, its lights (counts, positions and colours)
    // and shadow sphere (a frame seen or lit otherwise renders whole and drops the backups
    // until they are made again): allocates the backups that are missing
    // and copies the frame words, the sample cells (with their border) and the light maps
    // into them. With a scene part list (the bound geometry's renderList) a second set is
    // made and the first is drawn again without the visible listed parts; the list is
    // detached for that render and put back whatever happens. Returns 0, or -1 when the
    // buffers are not sized or the heap refuses a buffer (the backups are then not ready, and
    // incremental frames render the whole frame). UserAbortRender from that render passes
    // through, the backups not ready.
    std::int32_t AllocAuxBuffers();

    // True when AllocAuxBuffers made the backups for the buffers of the last SetSize.
    bool AuxBuffersReady() const { return auxReady; }

    // Copies the frame words of the region's pixels (the current level's, rows and columns
    // held to the level). Mode 0: first backup set to the output; 1: output to the first set;
    // 2: first set to companion A; 3 and any odd mode above: companion B to the first set;
    // other even modes: first set to companion B. Missing buffers copy nothing.
    void CopyPixelsInRegion(const SpanRegion& region, std::int32_t mode);

    // Copies the sample cells of the region's pixels (cell (x + 1, y + 1) for pixel (x, y);
    // the one-cell border is reached by x or y = -1 and the level's width or height), every
    // sample plane. Mode 0: buffer 1 to 0; 1: 0 to 1; 2: 1 to 2; 3: 2 to 1; 4 and 6: 1 to 3;
    // 5: 3 to 1; 7: 3 to 2. Missing buffers copy nothing.
    void CopySamplesInRegion(std::int32_t mode, const SpanRegion& region);

    // Copies light's map cells of the region (map rows and columns). flags bit 0 set: from
    // the working map (bit 1 clear) or backup B (bit 1 set) to backup A; clear: from backup A
    // to the working map (bit 1 clear) or backup B (bit 1 set). With several samples the
    // second sample's cells and the id planes go too. Missing maps copy nothing.
    void CopyLightBuffersInRegion(std::int32_t light, const SpanRegion& region,
                                  std::int32_t flags);

    // Saves what the working buffers hold into the first backup set: the frame words under
    // the change region, the sample cells under the selection region and, with shadows, each
    // light's map cells under that light's region.
    void SaveRegionBuffers();

    // Empties the change region, the redraw region and the work region: the working buffers
    // are taken to equal the backups everywhere.
    void ResetRegions();

    // Sets the light count (0..16) and the shadow light count (0..the light count), clamping
    // both. When the buffers are sized and the counts grow past what they were sized for,
    // they are sized again; returns SetSize's result then, else 0.
    std::int32_t SetLightCounts(std::int32_t lights, std::int32_t shadowLights);

    // Sets the samples per pixel (1 or 2, clamped) and sizes the buffers again when they are
    // sized and the count changed; returns SetSize's result then, else 0.
    std::int32_t SetSamplesPerPixel(std::int32_t samples);

    // Sets the edge-line option (the edge index map that outlines share their lines through)
    // and sizes the buffers again when they are sized and the option changed; returns
    // SetSize's result then, else 0.
    std::int32_t SetEdgeLineOption(bool on);

    // Sets the sky option and, when the buffers are sized and the sky buffer is wanted but
    // missing, makes it alone (the other buffers keep their contents); returns 0, or
    // RenderSizeNoMemory when the buffer cannot be made.
    std::int32_t SetSkyOption(bool on);

    std::int32_t LightCount() const { return lightCount; }
    std::int32_t ShadowLightCount() const { return shadowLightCount; }
    std::int32_t SamplesPerPixel() const { return samplesPerPixel; }

    // True when the last SetSize allocated everything.
    bool BuffersReady() const { return buffersReady; }
    std::int32_t AllocatedWidth() const { return allocatedWidth; }
    std::int32_t AllocatedHeight() const { return allocatedHeight; }
    std::uint32_t* Target() const { return target; }
    std::int32_t TargetStride() const { return targetStride; }

    // Rebuilds the falloff tables of the enabled lights below the light count whose exponent
    // or factor changed, and frees the tables of the others. Throws KVOutOfMemoryException.
    void BuildLightFalloffTables();

    // Shades the pixels of region (current level pixels) again from the cells the last cast
    // left, without casting: when lights, colours, textures or selected bytes changed but
    // nothing moved. In the flat preview mode straight from the ids (QuickShadeRegion), else
    // as the frame render shades (with the pixel pass on, region grows by the pixels whose
    // integration reads it and they are refined again), the cells' light masks first taken to
    // the lights as they stand (a shadow light's lit bits stay as the last shadow pass left
    // them). Mode 0 shades the working picture
    // (and the light layers when they are of it) and rebuilds the full frame from the level;
    // mode 1 shades the first backup set (sample buffer 1 into the backup frame words, and the
    // layers when they are of the backups; nothing without backups), so that incremental
    // frames restore the new colours; a negative mode shades the working picture with its
    // light layers whatever they held. Throws KVOutOfMemoryException.
    void Reshade(SpanRegion& region, std::int32_t mode = 0);

    // Fills the level table from the render size, the reduction level (held to 0..4), the
    // focal length (focal scale x 1000 / view distance) and the centre.
    void BuildLevelTable();
    const RenderLevel& Level() const { return levels[static_cast<std::size_t>(reductionLevel)]; }
    const RenderLevel& Level(std::int32_t level) const {
        return levels[static_cast<std::size_t>(level)];
    }

    // Sets the working depth constant and the depth scale: with e the base-2 exponent of
    // depth / focal, the scale is 2^(e + 31) and the shift e + 16.
    void SetDepthScale(double depth, double focal);

    // After a depth overflow: halves the working depth constant (and so the depth scale, for
    // the current level's focal length) and every depth word of the sample buffers.
    void HalveDepthScale();

    // The PixelWord of the sample under screen pixel (x, y) of sample buffer 0, 1 or 2, or 0
    // when the pixel lies outside the render size or the buffer is not allocated. Writes, for
    // the outputs that are not null: the light mask; the view depth (infinity where nothing
    // covers the sample); the normal of the surface seen there (its gradient, turned to face
    // the eye; untouched where nothing covers it).
    std::uint32_t QueryPixel(std::int32_t x, std::int32_t y, std::uint32_t* lightMask,
                             double* depth, std::int32_t buffer, Vec3* normal) const;

    // Plane 0 of sample buffer 0..3 (null when not allocated); the planes of several samples
    // follow at PlaneCells() apart.
    SampleCell* SampleBuffer(std::int32_t buffer) const;
    std::size_t PlaneCells() const { return planeCells; }
    // The reduced frame of level 1..4 (null at level 0: the target), LevelWidth words a row.
    std::uint32_t* ReducedFrame(std::int32_t level) const;
    // The half-expanded frame between level + 1 and level (0..3): level + 1's columns doubled
    // into level's rows, Level(level + 1).width words a row; null when not allocated.
    std::uint32_t* IntermediateFrame(std::int32_t level) const;
    std::uint32_t* ExtraPlanes() const { return extraPlanes.get(); }
    // What a pass shades with the alternate-buffer flag clear: the working sample buffer and
    // the current level's output; set: the second sample buffer (the first backup) and the
    // backup's frame words (the first extra plane), where the frames drawn over the backups
    // go.
    PassBuffers PassBuffersFor(bool alternate) const;
    // The sky buffer (options.sky without the flat preview): one star chain head per pixel of
    // the allocated size; null when not allocated.
    std::int32_t* SkyBuffer() const { return skyBuffer.get(); }
    // The edge index map (options.edgeLines): one entry per sample cell, -1 between pixel
    // passes; null when not allocated.
    std::int32_t* EdgeIndexMap() const { return edgeLineCells.get(); }
    // Words of the extra planes: extraPlaneCount planes of height x stride, 0 without.
    std::size_t ExtraPlanesWords() const {
        return extraPlanes ? extraPlaneWords * static_cast<std::size_t>(extraPlaneCount) : 0;
    }
    // The light layers (light_layer_resolve.h), kept in the extra planes when SetSize was
    // asked for them and shadows are active: plane 1 holds each pixel's base word (laid out
    // as the current level's output) and plane 2 + i shadow light i's word, so the layer
    // words of light i lie LayerPlaneWords() x (i + 1) past the base. Null otherwise.
    std::uint32_t* LayerPlanes() const;
    std::size_t LayerPlaneWords() const { return extraPlaneWords; }
    std::int32_t LightMapSide() const { return lightMapSide; }
    const RenderLightSlot& LightSlot(std::int32_t i) const {
        return lightSlots[static_cast<std::size_t>(i)];
    }
    RenderLightSlot& LightSlot(std::int32_t i) { return lightSlots[static_cast<std::size_t>(i)]; }

    // The square-root table: entry i = sqrt(i x 2^20) x 32768, rounded.
    const std::int32_t* SqrtTable() const { return sqrtTable.get(); }

    // ---- Set by the view before a render ----
    RenderOptions options;
    std::int32_t renderWidth = 0;
    std::int32_t renderHeight = 0;
    std::int32_t reductionLevel = 0;
    double focalScale = 1.0;
    double viewDistance = 1.0;
    double centreX = 0.0;  // the projection centre in pixels
    double centreY = 0.0;
    double lightMapScale = 1.0;
    double depthConstant = 0.25;       // the camera's nearest depth before overflow
    double lightDepthConstant = 2.5;
    // The shared surface slot table of the scene geometry: per id (part index + 1) x 32 +
    // surface a 16-bit group; equal non-zero groups order coincident hits by id. May be null.
    const std::uint16_t* slotTable = nullptr;
    std::size_t slotTableEntries = 0;
    std::uint32_t backgroundColour = 0x0097979F;
    std::array<std::uint32_t, 5> colourWords{0xFF4F4F6F, 0x0097979F, 0xFFB0B0CA, 0xFFA8A8B0,
                                             0x00FFFFFF};
    RenderPollState poll;
    // Reduced levels expand with the nearest filter (2 x 2 copies) when set; else level L
    // expands with the five-tap filter when L >= cubicFromLevel, with the linear one below.
    bool isNearestExpansion = false;
    std::int32_t cubicFromLevel = 1;
    // The background, depth cue, fog and lighting-model switches of the shading stage.
    ShadeSettings shade;
    // The pixel pass's switch and the outlines' width and colour (edge_lines.h), and its arrays.
    EdgeSettings edges;
    EdgeScratch edgeScratch;
    // The chains of the parts too thin for the pixel grid, by cell (small_parts.h): those the
    // working cells and the first backup set's cells read (the whole frame's, kept, and the
    // incremental frames' after them), and those of the second set's cells, which exchange
    // places with them as the sets exchange roles.
    SmallPartChains smallParts;
    SmallPartChains smallPartsBackupB;

    // The parts in view space.
    RenderParts parts;
    // The parts' flat-preview colours by part index, computed when first drawn; a whole frame
    // and an attribute sync set them pending again.
    std::vector<FlatPartColours> flatColours;
    // The textures of the parts, by part index, and the bump vector the lookup leaves.
    PartTextures partTextures;
    // The scene's stars and their projection into the sky.
    StarSky starSky;
    // The geometry the parts were loaded from and the view they were seen from
    // (LoadRenderParts); null when the parts were set by hand. While bound, RenderFrame takes
    // every part (a whole frame) or the listed parts (an incremental one) from it again, and
    // AllocAuxBuffers reads its part list. It must outlive the renders.
    SceneGeometry* sceneGeometry = nullptr;
    Matrix4W partsViewFromWorld = ToWFirstMatrix(MakeIdentity());

    // ---- Kept by the casting stages ----
    double workingDepth = 0.25;  // the depth constant as last halved
    double depthScale = 0.0;
    std::int32_t depthShift = 0;
    // The frame's part order and its sort scratch; they grow with the part count and are
    // reused from frame to frame.
    std::vector<std::int32_t> partOrder;
    std::vector<PartKeyPair> partSortScratch;

    // The renderer's span regions (the change, selection, outline and redraw regions and
    // scratch), allocated with the renderer; two further regions with shadows.
    SpanRegion changeRegion;
    SpanRegion selectionRegion;
    SpanRegion outlineRegion;
    SpanRegion redrawRegion;
    SpanRegion workRegion;
    SpanRegion scratchRegion;
    SpanList outlineList;
    std::optional<SpanRegion> shadowRegion;
    std::optional<SpanRegion> shadowScratchRegion;
    // The pixels an incremental frame shades: the candidate area, narrowed to what changed.
    SpanRegion shadeRegion;

    // ---- Shadows (light_map.h, shadow_pass.h) ----
    // The sphere every light's map covers: its centre in view space and its radius. Unless
    // isShadowRadiusReady is set, a whole frame sets the radius from the centre's depth, the
    // weight and the horizontal field of view.
    Vec3 shadowCentre{};
    double shadowRadius = 0.1;
    double shadowRadiusWeight = 1.0;
    bool isShadowRadiusReady = false;
    // One byte per pixel of the current level, zero between frames: where the dependency
    // lists name a pixel (sized with the first incremental frame that needs it).
    std::vector<std::uint8_t> shadowPixelMarks;
    // The dependency lists describe the picture in the working buffers (set by a whole frame,
    // cleared by an incremental one), and the picture in the backups (set by AllocAuxBuffers
    // from the first, cleared when a whole frame records them again). Ticks trust the lists
    // only in the second case and test the whole frame otherwise.
    bool areShadowListsOfWorking = false;
    bool areShadowListsOfBackups = false;
    // The second backup set's lists (RenderLightSlot::dependentsBackupB) describe its picture;
    // exchanged with areShadowListsOfBackups as the sets exchange roles.
    bool areShadowListsOfSecondSet = false;
    // Where a recording shadow pass records: 0 at every cell, ShadowCellReleased only at the
    // cells released for the frame (shadow_pass.h).
    std::int32_t shadowRecordingTag = 0;
    // Likewise the light layers: a whole frame writes them (of the working picture), and
    // AllocAuxBuffers takes them as the backups'; only then do incremental frames resolve the
    // pixels whose shadows alone changed from them instead of shading them again.
    bool areLayersOfWorking = false;
    bool areLayersOfBackups = false;
    // The eye lies inside a visible part of the picture in the working buffers, of the backups
    // and of the second backup set (exchanged with the backups' as the sets exchange roles):
    // such a picture is opaque black. Incremental frames over black backups stay black, as a
    // whole render of them is, and a set drawn again over black is drawn whole.
    bool isEyeInsideWorking = false;
    bool isEyeInsideBackups = false;
    bool isEyeInsideSecondSet = false;

private:
    // What the backups were made for: the frame's size, level, focal length, centre and view.
    struct BackupView {
        std::int32_t width = 0;
        std::int32_t height = 0;
        std::int32_t level = 0;
        double focal = 0.0;
        double centreX = 0.0;
        double centreY = 0.0;
        Matrix4W viewFromWorld;
        // The lights (positions and colours) and the shadow maps' sphere.
        std::array<Vec3, RenderLightSlotCount> lightPositions{};
        std::array<std::array<std::int32_t, 6>, RenderLightSlotCount> lightColours{};
        std::int32_t lightCount = 0;
        std::int32_t shadowLightCount = 0;
        Vec3 shadowCentre{};
        double shadowRadius = 0.0;
    };

    // Incremental frames (q_render_frame.cpp).
    void RenderIncremental(const std::int32_t* partList, const std::int32_t* changed,
                           bool isForced);
    // intoFirstSet draws the first backup set even when a second one exists.
    void RenderComplement(const std::int32_t* partList, const std::int32_t* changed,
                          bool intoFirstSet = false);
    // A complement render into the first backup set; isWorkingSet clear when the sets
    // exchanged roles for the second one (the working picture, the change region and the
    // dependency lists then stay as they are). False when the eye lies inside a part of the
    // background: the set is then black (its frame words 0xFF000000 and its light layers
    // rebuilding them so), the working output as it was.
    bool DrawBackgroundSet(const std::int32_t* partList, const std::int32_t* changed,
                           bool isWorkingSet);
    // The shadow pass of the set a complement render draws (the second set while the sets
    // stand exchanged): the pixels it drew again and those its dependency lists name at the
    // cells cast again and at the cells the redrawn pixels read before and now, or every
    // pixel when the lists cannot tell, are tested against its maps; the lists are released
    // at those cells first and recorded again there.
    void TestBackgroundSetShadows();
    // Exchanges the first and the second backup sets (sample cells, frame words, light maps,
    // thin-part chains).
    void SwapBackupSets();
    // Copies the second backup set into the first where a complement render drew it again
    // (everywhere, with isBlack: the eye inside a part of the background turned it black).
    void TakeSecondSetIntoFirst(bool isBlack);
    // After the copy: the pixels of dependents (those recorded at the first set's released
    // cells) and the pixels taken are tested against the first set's maps and recorded again;
    // those whose light changed are shaded again in the first set and join the change region.
    void RetestFirstSetShadows(SpanRegion& dependents);
    // Gives the first set's cells of region copies of the second set's thin-part chains there,
    // kept as the whole frame's, so the cells copied from the second set read their own parts.
    void TakeSecondSetsThinPartChains(const SpanRegion& region);
    void ReloadListedParts(const std::int32_t* list);
    // The frame's size, level, focal length, centre and view as they stand.
    BackupView CurrentBackupView() const;
    // Allocates the missing backups; throws KVOutOfMemoryException.
    void AllocateBackups(bool withSecondSet);
    // Allocates every buffer for the stored size; returns 0 or -1.
    std::int32_t AllocateBuffers();
    void FreeFrameBuffers();

    std::uint32_t* target = nullptr;
    std::int32_t allocatedWidth = 0;
    std::int32_t allocatedHeight = 0;
    std::int32_t targetStride = 0;
    bool extraPlanesWanted = false;
    bool buffersReady = false;

    std::int32_t samplesPerPixel = 1;
    std::int32_t lightCount = 1;
    std::int32_t shadowLightCount = 1;
    // What the buffers were sized for.
    std::int32_t sizedSamples = 0;
    std::int32_t sizedShadowLights = 0;

    std::size_t planeCells = 0;  // (width + 2) x (height + 2)
    std::array<PrivateBlockPtr<SampleCell>, RenderSampleBufferCount> sampleBuffers;
    PrivateBlockPtr<std::int32_t> sampleWork;  // several samples: 256 entries
    std::array<PrivateBlockPtr<std::uint32_t>, RenderReducedBufferCount> reducedFrames;
    std::array<std::int32_t, RenderReducedBufferCount + 1> reducedWidths{};
    std::array<std::int32_t, RenderReducedBufferCount + 1> reducedHeights{};
    PrivateBlockPtr<std::int32_t> edgeLineCells;   // one per cell, -1
    PrivateBlockPtr<std::int32_t> edgeLineEntries;  // 100 entries
    PrivateBlockPtr<std::int32_t> skyBuffer;        // width x height
    PrivateBlockPtr<std::uint8_t> tileData;         // several samples: 256 bytes per band
    PrivateBlockPtr<std::uint32_t> extraPlanes;     // extraPlaneCount x height x stride
    std::size_t extraPlaneWords = 0;                // height x stride
    std::int32_t extraPlaneCount = 0;  // shadow lights + 2 from SetSize, else 1 from the backups
    PrivateBlockPtr<std::uint32_t> companionA;  // the third copy of the frame words
    PrivateBlockPtr<std::uint32_t> companionB;  // the second backup set's frame words
    bool auxReady = false;
    BackupView backupView;
    std::vector<std::int32_t> visibleList;  // count-prefixed, the visible parts of a list
    std::int32_t lightMapSide = 4;
    std::array<RenderLightSlot, RenderLightSlotCount> lightSlots;
    std::array<RenderLevel, RenderMaxLevel + 1> levels{};
    PrivateBlockPtr<std::int32_t> sqrtTable;

};

// Fills the 257 (value, slope) pairs of the falloff f(x) = k (1 - x) x^-e, each value held to
// at most 8 (NaN gives 8): 16 samples an octave from 2^-16 to 1, found by the float bits of x.
void FillLightFalloffTable(double exponent, double factor, float* pairs);

// Fills the 2049 entries of the square-root table.
void FillSqrtTable(std::int32_t* table);

// The fixed-point square root of value under shift: sqrt(value) x 2^(15 - shift) to within the
// table's interpolation, for the value normalised by fours; 0 for a value below 1.
std::int32_t FixedSqrt(std::int32_t value, std::int32_t shift, const std::int32_t* table);
