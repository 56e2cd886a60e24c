// QRender's frame render and the backups of incremental frames.
//
// Backups. After a whole frame AllocAuxBuffers copies the frame words (the first backup set,
// held in the extra planes), the sample cells (sample buffer 1) and the light maps (backup A)
// aside: the background the incremental frames restore from. The caller renders that frame
// with the moving parts hidden, so the backups hold the picture without them.
//
// The change region. Between frames it holds every pixel where the working buffers may
// differ from the backups; outside it they agree. An incremental frame:
//   1. takes the listed parts from the bound geometry again (their new places);
//   2. projects their footprint (the selection region) and unites it with the change region
//      into the work region, which becomes the change region at once, so an abandoned frame
//      leaves no pixel it touched outside it;
//   3. restores the sample cells of the work region from the backup and casts the listed
//      parts over them (a depth overflow halves the depths and restores again);
//   4. restores the frame words of the work region and shades again only the pixels whose
//      id differs from the background's, grown to their neighbours (DeriveSpanRegion); with
//      shadows also those whose light changed, and with the pixel pass the pixels on shadow
//      edges where the listed parts' shadows may fall (CollectMovingShadowEdges);
//   5. keeps the footprint as the change region, and expands a reduced level into the frame.
// Pixels the listed parts left are so restored, pixels they cover drawn, the rest untouched.
//
// A part that starts or stops moving changes the background itself: the complement render
// draws the backup again inside the part's footprint with every part except the moving ones,
// and adds the footprint to the change region, since the working picture now differs there.

#include "core/check.h"
#include "core/private_heap.h"
#include "geometry/scene_geometry.h"
#include "render/cast_frame_pass.h"
#include "render/footprint_region.h"
#include "render/light_layer_resolve.h"
#include "render/light_map.h"
#include "render/pixel_pass.h"
#include "render/pyramid_filter.h"
#include "render/q_render.h"
#include "render/q_render_internal.h"
#include "render/quick_shade.h"
#include "render/scene_render_parts.h"
#include "render/shadow_pass.h"
#include "render/small_parts.h"
#include "render/span_shade.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

namespace {

using render_internal::AllocateZeroed;
using render_internal::CheckedProduct;

// Calls copy(y, x0, x1) for every run of region inside the rectangle.
template <typename Copy>
void ForEachRun(const SpanRegion& region, const RegionRect& clip, Copy copy) {
    if (region.HasNoRows()) return;
    const std::int32_t top = std::max(region.Top(), clip.y0);
    const std::int32_t bottom = std::min(region.Bottom(), clip.y1);
    for (std::int32_t y = top; y < bottom; ++y) {
        for (const std::int16_t* t = region.Row(y); t[0] != SpanRowEnd; t += 2) {
            const std::int32_t x0 = std::max<std::int32_t>(t[0], clip.x0);
            const std::int32_t x1 = std::min<std::int32_t>(t[1], clip.x1);
            if (x0 < x1) copy(y, x0, x1);
        }
    }
}

// Takes the scene geometry's part list away for the life of the object and puts it back when
// the object goes, also when an exception passes.
class DetachedRenderList {
public:
    explicit DetachedRenderList(SceneGeometry& g) : geometry(g), list(std::move(g.renderList)) {}
    ~DetachedRenderList() { geometry.renderList = std::move(list); }
    DetachedRenderList(const DetachedRenderList&) = delete;
    DetachedRenderList& operator=(const DetachedRenderList&) = delete;
    const std::int32_t* List() const { return list.get(); }

private:
    SceneGeometry& geometry;
    PrivateBlockPtr<std::int32_t> list;
};

// True when two backup views have the same lights and shadow sphere.
template <typename View>
bool SameLights(const View& a, const View& b) {
    if (a.lightColours != b.lightColours || a.lightCount != b.lightCount ||
        a.shadowLightCount != b.shadowLightCount) {
        return false;
    }
    for (std::size_t i = 0; i < a.lightPositions.size(); ++i) {
        const Vec3& p = a.lightPositions[i];
        const Vec3& q = b.lightPositions[i];
        if (p.x != q.x || p.y != q.y || p.z != q.z) return false;
    }
    return a.shadowCentre.x == b.shadowCentre.x && a.shadowCentre.y == b.shadowCentre.y &&
           a.shadowCentre.z == b.shadowCentre.z && a.shadowRadius == b.shadowRadius;
}

// The second backup set takes the working dependency lists (the whole frame's) as its own.
void CopyDependentsToSecondSet(RenderLightSlot& slot, std::size_t mapCells) {
    RenderLightSlot::DependentLists& second = slot.dependentsBackupB;
    second.isComplete = false;
    if (!slot.dependents || !slot.dependentPool || !second.heads || !second.pool) return;
    std::copy_n(slot.dependents.get(), mapCells, second.heads.get());
    const std::size_t used = static_cast<std::size_t>(std::max(slot.dependentNext, 0));
    std::copy_n(slot.dependentPool.get(), 3 * used, second.pool.get());
    second.next = slot.dependentNext;
    second.free = slot.dependentFree;
    second.capacity = slot.dependentCapacity;
    second.isComplete = slot.isDependentsComplete;
}

// first's chains (one head per cell of a side x side map) become the second's at the cells of
// region and stay their own elsewhere, laid out afresh so that copies do not pile up.
void TakeChainsInCells(SmallPartChains& first, const SmallPartChains& second,
                       const SpanRegion& region, std::int32_t side) {
    const std::size_t cells = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
    if (first.heads.size() != cells && second.heads.size() != cells) return;
    std::vector<std::uint8_t> isTaken(cells, 0);
    ForEachRun(
        region, RegionRect{0, 0, side, side},
        [&](std::int32_t y, std::int32_t x0, std::int32_t x1) {
            const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(side);
            std::fill(
                isTaken.begin() + static_cast<std::ptrdiff_t>(at + static_cast<std::size_t>(x0)),
                isTaken.begin() + static_cast<std::ptrdiff_t>(at + static_cast<std::size_t>(x1)),
                std::uint8_t{1});
        });
    SmallPartChains merged;
    merged.heads.assign(cells, -1);
    const auto copyChains = [&](const SmallPartChains& from, bool taken) {
        if (from.heads.size() != cells) return;
        for (const std::int32_t marked : from.markedCells) {
            const auto cell = static_cast<std::size_t>(marked);
            if (cell >= cells || (isTaken[cell] != 0) != taken || merged.heads[cell] >= 0) continue;
            std::int32_t last = -1;
            std::int32_t at = from.heads[cell];
            for (std::size_t k = 0; k < from.entries.size() && at >= 0 &&
                                    static_cast<std::size_t>(at) < from.entries.size();
                 ++k) {
                const auto copy = static_cast<std::int32_t>(merged.entries.size());
                merged.entries.push_back(SmallPartChainEntry{
                    from.entries[static_cast<std::size_t>(at)].partPlusOne, -1});
                if (last < 0) {
                    merged.heads[cell] = copy;
                    merged.markedCells.push_back(marked);
                    merged.formerHeads.push_back(-1);
                } else {
                    merged.entries[static_cast<std::size_t>(last)].next = copy;
                }
                last = copy;
                at = from.entries[static_cast<std::size_t>(at)].next;
            }
        }
    };
    copyChains(first, false);
    copyChains(second, true);
    merged.keptEntries = merged.entries.size();
    merged.keptCells = merged.markedCells.size();
    first = std::move(merged);
}

// edges becomes the pixels on a shadow edge (lit bits differing from an axis neighbour's) where
// the shadows of the listed parts (count-prefixed) may fall, grown by the two steps over which
// an edge reaches a pixel's footprint, leaving out those of handled. A part's shadow edge there
// may have moved within those pixels' footprints without any pixel's light changing. Throws
// KVOutOfMemoryException.
void CollectMovingShadowEdges(QRender& render, const std::int32_t* partList,
                              const SpanRegion& handled, SpanRegion& edges) {
    RegionSetEmpty(edges, 0, 0);
    if (partList == nullptr || partList[0] <= 0) return;
    SpanRegion reach;
    SpanRegion footprint;
    RegionSetEmpty(reach, 0, 0);
    for (std::int32_t i = 0; i < render.ShadowLightCount(); ++i) {
        ProjectShadowFootprint(render, partList, footprint, render.LightSlot(i).position);
        RegionCombine(footprint, reach, 1);
    }
    if (reach.HasNoRows()) return;
    GrowForShadowEdges(render, reach);
    RegionCombine(handled, reach, 0);
    CollectShadowEdgePixels(render, reach, render.SampleBuffer(0), edges);
}

void FillOpaqueBlack(std::uint32_t* out, std::size_t stride, const RenderLevel& level) {
    if (out == nullptr) return;
    for (std::int32_t y = 0; y < level.height; ++y) {
        std::fill_n(out + static_cast<std::size_t>(y) * stride, level.width, 0xFF000000u);
    }
}

}  // namespace

void QRender::RenderFrame(const std::int32_t* partList, bool complement,
                          const std::int32_t* changed, std::int32_t force) {
    if (!buffersReady || renderWidth < RenderMinSide || renderHeight < RenderMinSide ||
        renderWidth > allocatedWidth || renderHeight > allocatedHeight) {
        return;
    }
    if (auxReady) {
        const BackupView now = CurrentBackupView();
        const BackupView& kept = backupView;
        // The backups show the picture as it was seen when they were made.
        if (now.width != kept.width || now.height != kept.height || now.level != kept.level ||
            now.focal != kept.focal || now.centreX != kept.centreX || now.centreY != kept.centreY ||
            now.viewFromWorld.m != kept.viewFromWorld.m || !SameLights(now, kept)) {
            auxReady = false;
        }
    }
    if (partList != nullptr && complement && changed != nullptr) {
        RenderComplement(partList, changed);
    } else if (partList != nullptr && auxReady) {
        RenderIncremental(partList, changed, (force & 0xFF) != 0);
    } else {
        // A whole frame; also an incremental one without backups to restore from, so the
        // picture is right whatever the caller knew of them.
        if (sceneGeometry != nullptr) LoadRenderParts(*this, *sceneGeometry, partsViewFromWorld);
        RenderShadedFrame(*this);
    }
}

std::uint32_t* QRender::LayerPlanes() const {
    if (!extraPlanes || extraPlaneCount < shadowLightCount + 2 || !ShadowsActive(*this)) {
        return nullptr;
    }
    return extraPlanes.get() + extraPlaneWords;
}

QRender::BackupView QRender::CurrentBackupView() const {
    BackupView view;
    view.width = renderWidth;
    view.height = renderHeight;
    view.level = std::clamp(reductionLevel, 0, RenderMaxLevel);
    view.focal = focalScale * 1000.0 / viewDistance;
    view.centreX = centreX;
    view.centreY = centreY;
    view.viewFromWorld = partsViewFromWorld;
    for (std::size_t i = 0; i < lightSlots.size(); ++i) {
        const RenderLightSlot& slot = lightSlots[i];
        view.lightPositions[i] = slot.position;
        for (std::size_t c = 0; c < 3; ++c) {
            view.lightColours[i][c] = slot.litTriple[c];
            view.lightColours[i][c + 3] = slot.shadowTriple[c];
        }
    }
    view.lightCount = lightCount;
    view.shadowLightCount = shadowLightCount;
    view.shadowCentre = shadowCentre;
    view.shadowRadius = shadowRadius;
    return view;
}

void QRender::ReloadListedParts(const std::int32_t* list) {
    ReloadRenderParts(*this, ListEntries(list));
}

void QRender::RenderIncremental(const std::int32_t* partList, const std::int32_t* changed,
                                bool isForced) {
    if (isEyeInsideBackups) {
        // The eye is inside a part of the background, which the listed parts do not move: the
        // frame is black whatever they do, as a whole render of it is. Nothing is cast, so the
        // change region and the light maps' regions stay what the backups are restored by.
        std::uint32_t* out = reductionLevel == 0 ? target : ReducedFrame(reductionLevel);
        const std::size_t stride = reductionLevel == 0 ? static_cast<std::size_t>(targetStride)
                                                       : static_cast<std::size_t>(Level().width);
        FillOpaqueBlack(out, stride, Level());
        isEyeInsideWorking = true;
        areLayersOfWorking = false;
        PyramidFilter(*this);
        return;
    }
    ReloadListedParts(partList);
    ReloadListedParts(changed);
    BuildLightFalloffTables();
    const RenderLevel& level = Level();
    ProjectPartOutlines(*this, selectionRegion, changed != nullptr ? changed : partList,
                        RegionRect{-1, -1, level.width + 1, level.height + 1});
    const bool marksThinParts = samplesPerPixel > 1 && edges.isRefined;
    if (marksThinParts) {
        AddSmallPartBands(*this, partList, RegionRect{0, 0, level.width, level.height},
                          selectionRegion, scratchRegion);
    }
    if (edges.isRefined) GrowForPixelPass(*this, selectionRegion);
    RegionCopy(workRegion, changeRegion);
    RegionCombine(selectionRegion, workRegion, 1);
    const bool hasShadows = ShadowsActive(*this);
    if (hasShadows) {
        // The pixels whose shadows the moving parts may have changed are drawn again too.
        UpdateLightMapsIncremental(*this, partList, changed, *shadowRegion);
        RegionCombine(*shadowRegion, workRegion, 1);
        // And where the changed parts' shadows may fall now, whatever the lists say.
        for (std::int32_t i = 0; changed != nullptr && i < shadowLightCount; ++i) {
            ProjectShadowFootprint(*this, changed, *shadowScratchRegion, LightSlot(i).position);
            RegionCombine(*shadowScratchRegion, workRegion, 1);
        }
        RegionClip(workRegion, -1, -1, level.width + 1, level.height + 1);
    }
    RegionCopy(changeRegion, workRegion);

    CopySamplesInRegion(0, workRegion);
    std::int32_t result = CastDone;
    for (std::int32_t rerun = 0;; ++rerun) {
        result = CastFramePass(*this, workRegion, partList, false, 0, level.centreX, level.centreY);
        if (result != CastDepthOverflow || rerun == CastMaxReruns) break;
        HalveDepthScale();
        CopySamplesInRegion(0, workRegion);
    }
    isEyeInsideWorking = result == CastEyeInside;
    std::uint32_t* out = reductionLevel == 0 ? target : ReducedFrame(reductionLevel);
    const std::size_t stride = reductionLevel == 0 ? static_cast<std::size_t>(targetStride)
                                                   : static_cast<std::size_t>(level.width);
    if (result == CastEyeInside) {
        // The whole frame is black now, so all of it differs from the background. The light
        // layers are the background's, so they no longer describe this picture.
        FillOpaqueBlack(out, stride, level);
        RegionSetRect(changeRegion, -1, -1, level.width + 1, level.height + 1);
        areLayersOfWorking = false;
    } else if (options.flatPreview) {
        // The flat preview colours a pixel from its id and its four neighbours' ids, so the
        // pixels beside the ones cast again are coloured again too.
        CopyPixelsInRegion(workRegion, 0);
        BuildOutlineRegion(workRegion, shadeRegion);
        QuickShadeRegion(*this, shadeRegion, false, flatColours);
        BuildOutlineRegion(selectionRegion, changeRegion);
    } else {
        // A frame with a changed list, or forced, records the dependency lists again where
        // they change, so that they describe its picture; the pixels recorded at the cells
        // released for that are tested with it (outside the work region they are the
        // background's as they stand).
        const bool isRecording = hasShadows && (changed != nullptr || isForced) &&
                                 PrepareShadowRefresh(*this, selectionRegion, *shadowScratchRegion);
        if (isRecording) {
            RegionCombine(*shadowScratchRegion, workRegion, 1);
            RegionCombine(*shadowScratchRegion, changeRegion, 1);
        }
        if (marksThinParts) {
            // The cells restored from the backup carry the whole frame's marks; the listed
            // parts are marked again where they are now.
            RollBackSmallPartChains(*this);
            MarkSmallPartsInFrame(*this, partList, false, RegionGetBounds(workRegion));
        }
        CopyPixelsInRegion(workRegion, 0);
        if (hasShadows) {
            shadowRecordingTag = ShadowCellReleased;
            ApplyShadowPass(*this, workRegion, 0, false, isRecording);
            shadowRecordingTag = 0;
        }
        if (isRecording) {
            ReleaseShadowDependents(*this, false);
            // The lists now describe this picture, no longer the backups'.
            bool isComplete = true;
            for (std::int32_t i = 0; i < shadowLightCount; ++i) {
                isComplete = isComplete && LightSlot(i).isDependentsComplete;
            }
            areShadowListsOfWorking = isComplete;
            areShadowListsOfBackups = false;
        }
        // Pixels whose surface stayed but whose light changed differ from the background
        // until a later frame restores them. With the background's light layers they are
        // rebuilt from them (the resolve); without, shaded again.
        std::uint32_t* layers = LayerPlanes();
        const bool isResolving = hasShadows && layers != nullptr && areLayersOfBackups;
        // Refined pixels depend on the parts' exact shapes, not only on the ids: every pixel
        // of the parts' grown footprint is drawn again, and without layers to rebuild the
        // rest from, every pixel of the work region.
        if (edges.isRefined) {
            RegionCopy(shadeRegion, isResolving ? selectionRegion : workRegion);
            RegionClip(shadeRegion, 0, 0, level.width, level.height);
        } else {
            RegionCopy(shadeRegion, workRegion);
            DeriveSpanRegion(*this, shadeRegion, 1, redrawRegion, scratchRegion);
        }
        // The pixel pass's region: the shade region, and with refined pixels rebuilt from
        // their layers, the pixels a shadow edge now crosses.
        const SpanRegion* passRegion = &shadeRegion;
        SpanRegion movedEdges;
        if (hasShadows) {
            CollectShadowChanges(*this, workRegion, *shadowScratchRegion);
            // A refined pixel beside one whose light changed may have a shadow edge move
            // across its footprint, or have had one that left it.
            if (edges.isRefined) {
                GrowForShadowEdges(*this, *shadowScratchRegion);
                // A moving part's shadow edge may also cross the footprints of pixels on
                // another shadow's edge while no pixel's light changes (a sliver of its shadow
                // between pixel centres beside the other's): those are integrated again, and
                // the next frame restores them. The pixels shaded anyway are left out.
                RegionCopy(scratchRegion, *shadowScratchRegion);
                RegionCombine(shadeRegion, scratchRegion, 1);
                CollectMovingShadowEdges(*this, partList, scratchRegion, movedEdges);
            }
            if (isResolving) {
                RegionCopy(scratchRegion, *shadowScratchRegion);
                RegionCombine(shadeRegion, scratchRegion, 0);
                if (edges.isRefined) {
                    CollectShadowEdgePixels(*this, scratchRegion, SampleBuffer(0), redrawRegion);
                    // Those the pass leaves are rebuilt from their layers like the others.
                    RegionCombine(movedEdges, scratchRegion, 1);
                    RegionCombine(movedEdges, redrawRegion, 1);
                    RegionCombine(shadeRegion, redrawRegion, 1);
                    passRegion = &redrawRegion;
                }
            } else {
                RegionCombine(*shadowScratchRegion, shadeRegion, 1);
                RegionCombine(movedEdges, shadeRegion, 1);
            }
        }
        RenderPixelPass(*this, *passRegion, SampleBuffer(0), out, stride);
        ShadeObjectSpans(*this, shadeRegion);
        if (isResolving) {
            CombineLayerBuffers(
                scratchRegion, SampleBuffer(0), static_cast<std::size_t>(level.cellStride), out,
                stride, layers, extraPlaneWords, shadowLightCount, level.width, level.height,
                ResolveBackground{&shade, reductionLevel, Level(0).width, Level(0).height});
        }
        areLayersOfWorking = false;
        RegionCopy(changeRegion, selectionRegion);
        if (hasShadows) {
            RegionCombine(*shadowScratchRegion, changeRegion, 1);
            RegionCombine(movedEdges, changeRegion, 1);
        }
    }
    PyramidFilter(*this);
}

void QRender::SwapBackupSets() {
    std::swap(sampleBuffers[1], sampleBuffers[3]);
    std::swap(extraPlanes, companionB);
    std::swap(smallParts, smallPartsBackupB);
    for (RenderLightSlot& slot : lightSlots) {
        std::swap(slot.mapBackupA, slot.mapBackupB);
        std::swap(slot.idPlaneBackupA, slot.idPlaneBackupB);
        std::swap(slot.extraIdsBackupA, slot.extraIdsBackupB);
        std::swap(slot.smallPartsBackupA, slot.smallPartsBackupB);
        RenderLightSlot::DependentLists& second = slot.dependentsBackupB;
        std::swap(slot.dependents, second.heads);
        std::swap(slot.dependentPool, second.pool);
        std::swap(slot.dependentNext, second.next);
        std::swap(slot.dependentFree, second.free);
        std::swap(slot.dependentCapacity, second.capacity);
        std::swap(slot.isDependentsComplete, second.isComplete);
    }
    std::swap(areShadowListsOfBackups, areShadowListsOfSecondSet);
    std::swap(isEyeInsideBackups, isEyeInsideSecondSet);
}

void QRender::RenderComplement(const std::int32_t* partList, const std::int32_t* changed,
                               bool intoFirstSet) {
    if (!auxReady) return;
    if (intoFirstSet || sampleBuffers[3] == nullptr || companionB == nullptr) {
        DrawBackgroundSet(partList, changed, true);
        return;
    }
    // The second set is drawn as the first one would be, with its own light maps and light
    // layers: the two sets exchange roles for the render and back again, also when it is
    // abandoned.
    struct Exchange {
        QRender& render;
        explicit Exchange(QRender& r) : render(r) { render.SwapBackupSets(); }
        ~Exchange() { render.SwapBackupSets(); }
        Exchange(const Exchange&) = delete;
        Exchange& operator=(const Exchange&) = delete;
    };
    bool isDrawn = false;
    {
        const Exchange exchange(*this);
        isDrawn = DrawBackgroundSet(partList, changed, false);
    }
    TakeSecondSetIntoFirst(!isDrawn);
}

void QRender::TakeSecondSetsThinPartChains(const SpanRegion& region) {
    SmallPartChains& first = smallParts;
    const SmallPartChains& second = smallPartsBackupB;
    if (first.heads.empty() || first.heads.size() != second.heads.size()) return;
    // The frame's own marks go first; the copies join the kept marks of the first set.
    RollBackSmallPartChains(*this);
    const RenderLevel& level = Level();
    const auto stride = static_cast<std::size_t>(level.cellStride);
    const std::size_t limit = second.entries.size();
    TranslateBadAlloc([&] {
        ForEachRun(region, RegionRect{-1, -1, level.width + 1, level.height + 1},
                   [&](std::int32_t y, std::int32_t x0, std::int32_t x1) {
                       for (std::int32_t x = x0; x < x1; ++x) {
                           const std::size_t cell = static_cast<std::size_t>(y + 1) * stride +
                                                    static_cast<std::size_t>(x + 1);
                           std::int32_t head = -1;
                           std::int32_t last = -1;
                           std::int32_t at = second.heads[cell];
                           for (std::size_t k = 0;
                                k < limit && at >= 0 && static_cast<std::size_t>(at) < limit; ++k) {
                               const auto copy = static_cast<std::int32_t>(first.entries.size());
                               first.entries.push_back(SmallPartChainEntry{
                                   second.entries[static_cast<std::size_t>(at)].partPlusOne, -1});
                               if (last < 0) {
                                   head = copy;
                               } else {
                                   first.entries[static_cast<std::size_t>(last)].next = copy;
                               }
                               last = copy;
                               at = second.entries[static_cast<std::size_t>(at)].next;
                           }
                           first.heads[cell] = head;
                       }
                   });
    });
    KeepSmallPartChains(*this);
}

void QRender::TakeSecondSetIntoFirst(bool isBlack) {
    // The pixels the second set was drawn again in: its footprint, the pixels shaded around
    // it and those whose shadows changed; all of them when it went black, or when the first
    // set showed black (the second set then shows the picture everywhere).
    const RenderLevel& level = Level();
    RegionCopy(workRegion, selectionRegion);
    RegionCombine(shadeRegion, workRegion, 1);
    const bool hasShadows = ShadowsActive(*this);
    if (hasShadows) RegionCombine(*shadowRegion, workRegion, 1);
    if (isBlack || isEyeInsideBackups) {
        RegionSetRect(workRegion, -1, -1, level.width + 1, level.height + 1);
    }
    isEyeInsideBackups = isBlack;
    // The maps' cells cast again, with the cells whose 2x2 blocks hold one of them (their
    // flat marks were set again).
    std::vector<SpanRegion> takenCells;
    bool keepsLists = false;
    if (hasShadows) {
        TranslateBadAlloc([&] { takenCells.resize(static_cast<std::size_t>(shadowLightCount)); });
        for (std::int32_t i = 0; i < shadowLightCount; ++i) {
            const RenderLightSlot& slot = LightSlot(i);
            if (slot.secondRegion) {
                CollectBlockCells(*slot.secondRegion, lightMapSide,
                                  takenCells[static_cast<std::size_t>(i)]);
            }
        }
        // The first set's lists are released at those cells and at the cells its pixels
        // taken read, before and after; what was recorded there is tested again below.
        keepsLists =
            !isBlack && PrepareShadowRefresh(*this, workRegion, *shadowScratchRegion, true, 3, 1);
    }
    CopySamplesInRegion(5, workRegion);
    CopyPixelsInRegion(workRegion, 5);
    TakeSecondSetsThinPartChains(workRegion);
    // The working picture differs from the first set there now.
    RegionCombine(workRegion, changeRegion, 1);
    if (!hasShadows) return;
    for (std::int32_t i = 0; i < shadowLightCount; ++i) {
        RenderLightSlot& slot = LightSlot(i);
        if (!slot.map || !slot.mapBackupA || !slot.mapBackupB || !slot.region ||
            !slot.secondRegion) {
            continue;
        }
        SpanRegion& cells = takenCells[static_cast<std::size_t>(i)];
        CopyLightBuffersInRegion(i, cells, 3);
        TranslateBadAlloc([&] {
            TakeChainsInCells(slot.smallPartsBackupA, slot.smallPartsBackupB, cells, lightMapSide);
        });
        // The next frame restores the working map from the first set's there.
        RegionCombine(cells, *slot.region, 1);
    }
    if (keepsLists) {
        RetestFirstSetShadows(*shadowScratchRegion);
    } else {
        // The dependency lists describe the first set no longer.
        areShadowListsOfBackups = false;
    }
}

void QRender::RetestFirstSetShadows(SpanRegion& dependents) {
    const RenderLevel& level = Level();
    // The pixels taken and those recorded at the released cells are tested against the first
    // set's maps as they now stand, and recorded again; the light of a pixel the second set
    // did not show alike may change, and it is shaded again.
    RegionCombine(workRegion, dependents, 1);
    RegionClip(dependents, 0, 0, level.width, level.height);
    CopySamplesInRegion(2, dependents);
    shadowRecordingTag = ShadowCellReleased;
    ApplyShadowPass(*this, dependents, 1, true, true);
    shadowRecordingTag = 0;
    ReleaseShadowDependents(*this, false);
    bool isComplete = true;
    for (std::int32_t i = 0; i < shadowLightCount; ++i) {
        isComplete = isComplete && LightSlot(i).isDependentsComplete;
    }
    areShadowListsOfBackups = isComplete;
    SpanRegion relit;
    CollectShadowChanges(*this, dependents, relit, 1, 2);
    if (relit.HasNoRows()) return;
    if (edges.isRefined) GrowForShadowEdges(*this, relit);
    RegionClip(relit, 0, 0, level.width, level.height);
    const std::size_t stride = reductionLevel == 0 ? static_cast<std::size_t>(targetStride)
                                                   : static_cast<std::size_t>(level.width);
    std::uint32_t* layers = LayerPlanes();
    RenderPixelPass(*this, relit, SampleBuffer(1), extraPlanes.get(), stride, layers,
                    extraPlaneWords);
    ShadeObjectSpansInto(*this, relit, SampleBuffer(1), extraPlanes.get(), stride, layers,
                         extraPlaneWords);
    RegionCombine(relit, changeRegion, 1);
}

void QRender::TestBackgroundSetShadows() {
    const RenderLevel& level = Level();
    SpanRegion& tested = *shadowRegion;
    // The cells cast again, which the second set's copy into the first reads after the lists
    // are released around them.
    std::vector<SpanRegion> cast;
    TranslateBadAlloc([&] { cast.resize(static_cast<std::size_t>(shadowLightCount)); });
    for (std::int32_t i = 0; i < shadowLightCount; ++i) {
        if (LightSlot(i).secondRegion)
            RegionCopy(cast[static_cast<std::size_t>(i)], *LightSlot(i).secondRegion);
    }
    if (PrepareShadowRefresh(*this, selectionRegion, *shadowScratchRegion, true, 1, 2)) {
        // The pixels recorded at the cells cast again and at those the redrawn pixels read,
        // before and now, are tested and recorded again there.
        RegionCombine(*shadowScratchRegion, tested, 1);
        RegionCombine(selectionRegion, tested, 1);
        shadowRecordingTag = ShadowCellReleased;
        ApplyShadowPass(*this, tested, 1, true, true);
        shadowRecordingTag = 0;
        ReleaseShadowDependents(*this, false);
    } else if (options.perLightDependents) {
        // The lists could not tell: every pixel is tested, and the lists made anew with it.
        ResetShadowDependents(*this);
        RegionSetRect(tested, 0, 0, level.width, level.height);
        ApplyShadowPass(*this, tested, 1, true, true);
    } else {
        RegionCombine(selectionRegion, tested, 1);
        ApplyShadowPass(*this, tested, 1, true, false);
    }
    bool isComplete = options.perLightDependents;
    for (std::int32_t i = 0; i < shadowLightCount; ++i) {
        RenderLightSlot& slot = LightSlot(i);
        isComplete = isComplete && slot.isDependentsComplete;
        if (slot.secondRegion) RegionCopy(*slot.secondRegion, cast[static_cast<std::size_t>(i)]);
    }
    // The lists describe the set drawn (while the sets stand exchanged, the second set's).
    areShadowListsOfBackups = isComplete;
}

bool QRender::DrawBackgroundSet(const std::int32_t* partList, const std::int32_t* changed,
                                bool isWorkingSet) {
    const bool hasShadows = ShadowsActive(*this);
    ReloadListedParts(changed);
    BuildLightFalloffTables();
    const RenderLevel& level = Level();
    const std::size_t stride = reductionLevel == 0 ? static_cast<std::size_t>(targetStride)
                                                   : static_cast<std::size_t>(level.width);
    std::uint32_t* frame = extraPlanes.get();
    ProjectPartOutlines(*this, selectionRegion, changed,
                        RegionRect{-1, -1, level.width + 1, level.height + 1});
    if (edges.isRefined) GrowForPixelPass(*this, selectionRegion);
    // A set that showed black, the eye inside one of its parts, has no picture to keep.
    if (isEyeInsideBackups) {
        RegionSetRect(selectionRegion, -1, -1, level.width + 1, level.height + 1);
    }
    // The working picture differs from the first set there now.
    if (isWorkingSet) RegionCombine(selectionRegion, changeRegion, 1);
    // The set's cells as they were, to tell the pixels whose surface changes.
    if (hasShadows) CopySamplesInRegion(2, selectionRegion);
    // The parts' shadows join or leave the background too: the pixels that read the light
    // map cells they change are tested and shaded again in the backup.
    if (hasShadows)
        UpdateBackgroundLightMaps(*this, partList, changed, *shadowRegion, isWorkingSet);

    std::int32_t result = CastDone;
    for (std::int32_t rerun = 0;; ++rerun) {
        result =
            CastFramePass(*this, selectionRegion, partList, true, 1, level.centreX, level.centreY);
        if (result != CastDepthOverflow || rerun == CastMaxReruns) break;
        HalveDepthScale();
    }
    if (result == CastEyeInside) {
        // The eye inside a part of the background: the set drawn is black, its light layers
        // rebuild black too, and the working picture differs from it everywhere. Its lists no
        // longer describe it.
        FillOpaqueBlack(frame, stride, level);
        FillBlackLayers(LayerPlanes(), extraPlaneWords, stride, shadowLightCount, level.width,
                        level.height);
        if (isWorkingSet) RegionSetRect(changeRegion, -1, -1, level.width + 1, level.height + 1);
        areShadowListsOfBackups = false;
        isEyeInsideBackups = true;
        return false;
    }
    isEyeInsideBackups = false;
    if (options.flatPreview) {
        BuildOutlineRegion(selectionRegion, shadeRegion);
        QuickShadeCells(*this, shadeRegion, SampleBuffer(1), frame, stride, flatColours);
        return true;
    }
    if (samplesPerPixel > 1 && edges.isRefined) {
        // The thin parts are marked in the cells cast again, and the marks kept as the
        // whole frame's, which later frames restore their cells from; the marks of frames
        // since then are taken back first.
        RollBackSmallPartChains(*this);
        MarkSmallPartsInFrame(*this, partList, true, RegionGetBounds(selectionRegion), 1,
                              &selectionRegion);
        KeepSmallPartChains(*this);
    }
    RegionCopy(shadeRegion, selectionRegion);
    if (hasShadows) {
        // The set's new pixels and those whose light may have changed are tested and shaded
        // with their light layers; the lists describe the set again.
        TestBackgroundSetShadows();
        RegionCombine(*shadowRegion, shadeRegion, 1);
        if (isWorkingSet) RegionCombine(*shadowRegion, changeRegion, 1);
    }
    RegionClip(shadeRegion, 0, 0, level.width, level.height);
    // The set's layers (the second set's too while it stands in for the first) follow its
    // picture.
    std::uint32_t* layers = LayerPlanes();
    RenderPixelPass(*this, shadeRegion, SampleBuffer(1), frame, stride, layers, extraPlaneWords);
    ShadeObjectSpansInto(*this, shadeRegion, SampleBuffer(1), frame, stride, layers,
                         extraPlaneWords);
    return true;
}

void QRender::AllocateBackups(bool withSecondSet) {
    const std::size_t cells = CheckedProduct(planeCells, static_cast<std::size_t>(sizedSamples));
    if (!sampleBuffers[1]) sampleBuffers[1] = AllocateZeroed<SampleCell>(cells);
    if (!extraPlanes) {
        extraPlaneWords = CheckedProduct(static_cast<std::size_t>(allocatedHeight),
                                         static_cast<std::size_t>(targetStride));
        extraPlanes = AllocateZeroed<std::uint32_t>(extraPlaneWords);
        extraPlaneCount = 1;
    }
    const std::size_t frameWords =
        CheckedProduct(extraPlaneWords, static_cast<std::size_t>(extraPlaneCount));
    if (!sampleBuffers[2] || !companionA) {
        sampleBuffers[2] = AllocateZeroed<SampleCell>(cells);
        companionA = AllocateZeroed<std::uint32_t>(frameWords);
    }
    if (withSecondSet && (!sampleBuffers[3] || !companionB)) {
        sampleBuffers[3] = AllocateZeroed<SampleCell>(cells);
        companionB = AllocateZeroed<std::uint32_t>(frameWords);
    }
    const std::size_t mapCells =
        CheckedProduct(CheckedProduct(static_cast<std::size_t>(lightMapSide),
                                      static_cast<std::size_t>(lightMapSide)),
                       static_cast<std::size_t>(sizedSamples));
    for (RenderLightSlot& slot : lightSlots) {
        if (!slot.map) continue;
        if (!slot.mapBackupA) slot.mapBackupA = AllocateZeroed<LightMapCell>(mapCells);
        if (withSecondSet && !slot.mapBackupB) {
            slot.mapBackupB = AllocateZeroed<LightMapCell>(mapCells);
        }
        if (withSecondSet && slot.dependents && slot.dependentPool) {
            const std::size_t side = static_cast<std::size_t>(lightMapSide);
            RenderLightSlot::DependentLists& second = slot.dependentsBackupB;
            if (!second.heads) second.heads = AllocateZeroed<std::int32_t>(side * side);
            if (!second.pool) {
                second.pool =
                    AllocateZeroed<std::int32_t>(CheckedProduct(side * side + side * side / 4, 3));
            }
        }
        if (sizedSamples > 1) {
            if (!slot.idPlaneBackupA) slot.idPlaneBackupA = AllocateZeroed<std::uint32_t>(mapCells);
            if (withSecondSet && !slot.idPlaneBackupB) {
                slot.idPlaneBackupB = AllocateZeroed<std::uint32_t>(mapCells);
            }
        }
    }
}

std::int32_t QRender::AllocAuxBuffers() {
    auxReady = false;
    // Nothing is kept of buffers that a failed sizing left missing.
    if (!buffersReady) return -1;
    const bool withSecondSet = sceneGeometry != nullptr && sceneGeometry->renderList != nullptr;
    try {
        RegionSetEmpty(scratchRegion, 0, 0);
        AllocateBackups(withSecondSet);
    } catch (const KVOutOfMemoryException&) {
        return -1;
    }
    if (withSecondSet) {
        // The second set's marked cells read chains of their own, so that a set drawn again
        // does not re-point the heads the other one's cells read.
        try {
            TranslateBadAlloc([&] { smallPartsBackupB = smallParts; });
        } catch (const KVOutOfMemoryException&) {
            return -1;
        }
    }
    const RenderLevel& level = Level();
    RegionSetRect(workRegion, 0, 0, level.width, level.height);
    CopyPixelsInRegion(workRegion, 1);
    CopyPixelsInRegion(workRegion, 2);
    if (withSecondSet) CopyPixelsInRegion(workRegion, 4);
    RegionSetRect(workRegion, -1, -1, level.width + 1, level.height + 1);
    CopySamplesInRegion(1, workRegion);
    CopySamplesInRegion(2, workRegion);
    if (withSecondSet) CopySamplesInRegion(4, workRegion);
    RegionSetRect(workRegion, 0, 0, lightMapSide, lightMapSide);
    for (std::int32_t i = 0; i < RenderLightSlotCount; ++i) {
        RenderLightSlot& slot = lightSlots[static_cast<std::size_t>(i)];
        if (!slot.map) continue;
        CopyLightBuffersInRegion(i, workRegion, 1);
        if (withSecondSet) {
            CopyLightBuffersInRegion(i, workRegion, 2);
            CopyDependentsToSecondSet(slot, static_cast<std::size_t>(lightMapSide) *
                                                static_cast<std::size_t>(lightMapSide));
        }
        // The thin parts marked in the maps go with them.
        try {
            TranslateBadAlloc([&] {
                slot.smallPartsBackupA = slot.smallParts;
                if (withSecondSet) slot.smallPartsBackupB = slot.smallParts;
            });
        } catch (const KVOutOfMemoryException&) {
            return -1;
        }
        // The working map and backup A agree everywhere.
        if (slot.region) RegionSetEmpty(*slot.region, 0, 0);
    }
    // The working buffers and the backups agree everywhere.
    ResetRegions();
    areShadowListsOfBackups = areShadowListsOfWorking;
    areShadowListsOfSecondSet = withSecondSet && areShadowListsOfWorking;
    areLayersOfBackups = areLayersOfWorking;
    isEyeInsideBackups = isEyeInsideWorking;
    isEyeInsideSecondSet = withSecondSet && isEyeInsideWorking;
    backupView = CurrentBackupView();
    auxReady = true;
    if (!withSecondSet) return 0;

    // The second set is drawn again without the visible parts of the scene's list and the two
    // sets exchange roles, so that incremental frames of those parts restore the picture
    // without them and the second set keeps the whole picture. Until the draw both sets hold
    // the same picture, maps, layers, thin-part chains and lists, so the roles are exchanged
    // first (by pointer, nothing is copied) and the set drawn is then the first one, which is
    // what a complement render of the first set draws.
    SwapBackupSets();
    const auto listed = ListEntries(sceneGeometry->renderList.get());
    try {
        visibleList.assign(1, 0);
        for (const std::int32_t index : listed) {
            const PartRenderRecord* record = sceneGeometry->Part(index);
            if (record != nullptr && record->visible != 0) visibleList.push_back(index);
        }
    } catch (const std::bad_alloc&) {
        auxReady = false;
        return -1;
    }
    visibleList[0] = static_cast<std::int32_t>(visibleList.size()) - 1;
    // The first set is drawn without the parts, as a complement render draws it (with
    // shadows its light maps, layers and the shadows the parts cast on the rest included).
    if (visibleList[0] > 0) {
        // The list is detached while its parts are drawn, so the render takes it as given; it
        // is put back also when the render is abandoned or runs out of memory.
        DetachedRenderList detached(*sceneGeometry);
        try {
            RenderComplement(detached.List(), visibleList.data(), true);
        } catch (const KVOutOfMemoryException&) {
            auxReady = false;
            return -1;
        } catch (...) {
            auxReady = false;
            throw;
        }
    }
    return 0;
}

void QRender::CopyPixelsInRegion(const SpanRegion& region, std::int32_t mode) {
    if (!buffersReady || mode < 0) return;
    const RenderLevel& level = Level();
    std::uint32_t* out = reductionLevel == 0 ? target : ReducedFrame(reductionLevel);
    const std::size_t stride = reductionLevel == 0 ? static_cast<std::size_t>(targetStride)
                                                   : static_cast<std::size_t>(level.width);
    std::uint32_t* first = extraPlanes.get();
    const std::uint32_t* from = nullptr;
    std::uint32_t* to = nullptr;
    if (mode == 0) {
        from = first;
        to = out;
    } else if (mode == 1) {
        from = out;
        to = first;
    } else if (mode == 2) {
        from = first;
        to = companionA.get();
    } else if (mode % 2 == 1) {
        from = companionB.get();
        to = first;
    } else {
        from = first;
        to = companionB.get();
    }
    if (from == nullptr || to == nullptr) return;
    // The light layers' planes go with plane 0 between the backups.
    const std::int32_t planes = mode >= 2 && options.shadows ? extraPlaneCount : 1;
    ForEachRun(region, RegionRect{0, 0, level.width, level.height},
               [&](std::int32_t y, std::int32_t x0, std::int32_t x1) {
                   const std::size_t at =
                       static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x0);
                   for (std::int32_t p = 0; p < planes; ++p) {
                       const std::size_t plane = static_cast<std::size_t>(p) * extraPlaneWords;
                       std::memcpy(to + plane + at, from + plane + at,
                                   static_cast<std::size_t>(x1 - x0) * sizeof(std::uint32_t));
                   }
               });
}

void QRender::CopySamplesInRegion(std::int32_t mode, const SpanRegion& region) {
    static constexpr std::int32_t Pairs[8][2] = {{1, 0}, {0, 1}, {1, 2}, {2, 1},
                                                 {1, 3}, {3, 1}, {1, 3}, {3, 2}};
    if (!buffersReady || mode < 0 || mode > 7) return;
    const SampleCell* from = SampleBuffer(Pairs[mode][0]);
    SampleCell* to = SampleBuffer(Pairs[mode][1]);
    if (from == nullptr || to == nullptr) return;
    const RenderLevel& level = Level();
    const std::size_t stride = static_cast<std::size_t>(level.cellStride);
    ForEachRun(region, RegionRect{-1, -1, level.width + 1, level.height + 1},
               [&](std::int32_t y, std::int32_t x0, std::int32_t x1) {
                   const std::size_t at =
                       static_cast<std::size_t>(y + 1) * stride + static_cast<std::size_t>(x0 + 1);
                   for (std::int32_t s = 0; s < sizedSamples; ++s) {
                       const std::size_t plane = static_cast<std::size_t>(s) * planeCells;
                       std::memcpy(static_cast<void*>(to + plane + at), from + plane + at,
                                   static_cast<std::size_t>(x1 - x0) * sizeof(SampleCell));
                   }
               });
}

void QRender::CopyLightBuffersInRegion(std::int32_t light, const SpanRegion& region,
                                       std::int32_t flags) {
    if (light < 0 || light >= RenderLightSlotCount) return;
    RenderLightSlot& slot = lightSlots[static_cast<std::size_t>(light)];
    const bool toBackupA = (flags & 1) != 0;
    const bool viaB = (flags & 2) != 0;
    LightMapCell* other = viaB ? slot.mapBackupB.get() : slot.map.get();
    const LightMapCell* from = toBackupA ? other : slot.mapBackupA.get();
    LightMapCell* to = toBackupA ? slot.mapBackupA.get() : other;
    if (from == nullptr || to == nullptr) return;
    std::uint32_t* otherPlane = viaB ? slot.idPlaneBackupB.get() : slot.idPlane.get();
    const std::uint32_t* planeFrom = toBackupA ? otherPlane : slot.idPlaneBackupA.get();
    std::uint32_t* planeTo = toBackupA ? slot.idPlaneBackupA.get() : otherPlane;
    const bool withPlanes = sizedSamples > 1 && planeFrom != nullptr && planeTo != nullptr;
    const std::size_t side = static_cast<std::size_t>(lightMapSide);
    LightExtraIds& otherIds = viaB ? slot.extraIdsBackupB : slot.extraIds;
    const LightExtraIds& idsFrom = toBackupA ? otherIds : slot.extraIdsBackupA;
    LightExtraIds& idsTo = toBackupA ? slot.extraIdsBackupA : otherIds;
    const bool withIds = withPlanes && (!idsFrom.heads.empty() || !idsTo.heads.empty());
    ForEachRun(region, RegionRect{0, 0, lightMapSide, lightMapSide},
               [&](std::int32_t y, std::int32_t x0, std::int32_t x1) {
                   const std::size_t count = static_cast<std::size_t>(x1 - x0);
                   for (std::int32_t s = 0; s < sizedSamples; ++s) {
                       const std::size_t at = static_cast<std::size_t>(s) * side * side +
                                              static_cast<std::size_t>(y) * side +
                                              static_cast<std::size_t>(x0);
                       std::memcpy(static_cast<void*>(to + at), from + at,
                                   count * sizeof(LightMapCell));
                       if (withPlanes) {
                           std::memcpy(planeTo + at, planeFrom + at, count * sizeof(std::uint32_t));
                       }
                   }
                   if (!withIds) return;
                   const std::size_t at =
                       static_cast<std::size_t>(y) * side + static_cast<std::size_t>(x0);
                   for (std::size_t c = at; c < at + count; ++c) {
                       CopyExtraIds(idsFrom, idsTo, side * side, c);
                   }
               });
}

void QRender::SaveRegionBuffers() {
    CopyPixelsInRegion(changeRegion, 1);
    CopySamplesInRegion(1, selectionRegion);
    // The pixels whose light alone changed keep their light masks beside their colours.
    CopySamplesInRegion(1, changeRegion);
    // The backups take the picture the lists were recorded for, if they were, and keep light
    // layers only when the saved pixels' layers were written with them.
    areShadowListsOfBackups = areShadowListsOfWorking;
    areLayersOfBackups = areLayersOfBackups && areLayersOfWorking;
    // A black working picture is saved whole (its change region is the whole frame), and so is
    // a whole frame; an incremental frame that is not black was not drawn over black backups.
    isEyeInsideBackups = isEyeInsideWorking;
    if (!options.shadows) return;
    for (std::int32_t i = 0; i < RenderLightSlotCount; ++i) {
        const RenderLightSlot& slot = lightSlots[static_cast<std::size_t>(i)];
        if (slot.map && slot.region) CopyLightBuffersInRegion(i, *slot.region, 1);
    }
}

void QRender::ResetRegions() {
    RegionSetEmpty(changeRegion, 0, 0);
    RegionSetEmpty(redrawRegion, 0, 0);
    RegionSetEmpty(workRegion, 0, 0);
}
