#include "render/q_render.h"

#include "core/check.h"
#include "core/private_heap.h"
#include "core/scalar_maths.h"
#include "render/q_render_internal.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using render_internal::AllocateZeroed;
using render_internal::CheckedProduct;

// Region coordinates are 16-bit, so no side may pass this.
constexpr std::int32_t MaxSide = 32766;

void FreeLightMaps(RenderLightSlot& slot) {
    slot.map.reset();
    slot.mapBackupA.reset();
    slot.mapBackupB.reset();
    slot.idPlaneBackupA.reset();
    slot.idPlaneBackupB.reset();
    slot.idPlane.reset();
    slot.idPlaneWork.reset();
    slot.extraIds = {};
    slot.extraIdsBackupA = {};
    slot.extraIdsBackupB = {};
    slot.dependents.reset();
    slot.dependentPool.reset();
    slot.dependentsBackupB = {};
    slot.region.reset();
    slot.secondRegion.reset();
}

}  // namespace

QRender::QRender() : sqrtTable(AllocateZeroed<std::int32_t>(SqrtTableEntries)) {
    FillSqrtTable(sqrtTable.get());
}

QRender::~QRender() = default;

std::int32_t QRender::ReportProgress(std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
    return 0;
}

std::int32_t QRender::SetSize(std::uint32_t* newTarget, std::int32_t width, std::int32_t height,
                              std::int32_t stride, bool wantExtraPlanes) {
    if (width < RenderMinSide || height < RenderMinSide || stride < width) {
        return RenderSizeTooSmall;
    }
    if (width > MaxSide || height > MaxSide) return RenderSizeNoMemory;
    target = newTarget;
    allocatedWidth = width;
    allocatedHeight = height;
    targetStride = stride;
    extraPlanesWanted = wantExtraPlanes;
    renderWidth = width;
    renderHeight = height;
    return AllocateBuffers();
}

void QRender::FreeFrameBuffers() {
    for (auto& buffer : sampleBuffers) buffer.reset();
    sampleWork.reset();
    for (auto& frame : reducedFrames) frame.reset();
    edgeLineCells.reset();
    skyBuffer.reset();
    tileData.reset();
    extraPlanes.reset();
    extraPlaneCount = 0;
    companionA.reset();
    companionB.reset();
    auxReady = false;
    for (RenderLightSlot& slot : lightSlots) FreeLightMaps(slot);
}

std::int32_t QRender::AllocateBuffers() {
    buffersReady = false;
    try {
        FreeFrameBuffers();
        const std::size_t samples = static_cast<std::size_t>(samplesPerPixel);
        planeCells = CheckedProduct(static_cast<std::size_t>(allocatedWidth) + 2,
                                    static_cast<std::size_t>(allocatedHeight) + 2);
        sampleBuffers[0] = AllocateZeroed<SampleCell>(CheckedProduct(planeCells, samples));
        if (samples > 1) sampleWork = AllocateZeroed<std::int32_t>(256);

        // Reduced frames: odd steps halve the width, even steps the height.
        std::int32_t w = allocatedWidth;
        std::int32_t h = allocatedHeight;
        reducedWidths[0] = w;
        reducedHeights[0] = h;
        for (std::int32_t step = 1; step <= RenderReducedBufferCount; ++step) {
            if (step % 2 == 1) {
                w = (w + 1) / 2 + 4;
            } else {
                h = (h + 1) / 2 + 4;
            }
            reducedWidths[static_cast<std::size_t>(step)] = w;
            reducedHeights[static_cast<std::size_t>(step)] = h;
            reducedFrames[static_cast<std::size_t>(step - 1)] = AllocateZeroed<std::uint32_t>(
                CheckedProduct(static_cast<std::size_t>(w), static_cast<std::size_t>(h)));
        }

        if (options.edgeLines) {
            edgeLineCells = AllocateZeroed<std::int32_t>(planeCells);
            std::fill_n(edgeLineCells.get(), planeCells, -1);
        }
        if (options.sky && !options.flatPreview) {
            skyBuffer = AllocateZeroed<std::int32_t>(CheckedProduct(
                static_cast<std::size_t>(allocatedWidth), static_cast<std::size_t>(allocatedHeight)));
        }

        lightMapSide = std::max(4, RoundToIntClamped(allocatedWidth * lightMapScale));
        const std::size_t mapCells = CheckedProduct(static_cast<std::size_t>(lightMapSide),
                                                    static_cast<std::size_t>(lightMapSide));
        for (std::int32_t i = 0; i < RenderLightSlotCount; ++i) {
            if (!options.shadows || i >= shadowLightCount) continue;
            RenderLightSlot& slot = lightSlots[static_cast<std::size_t>(i)];
            slot.map = AllocateZeroed<LightMapCell>(CheckedProduct(mapCells, samples));
            if (samples > 1) {
                slot.idPlane = AllocateZeroed<std::uint32_t>(CheckedProduct(mapCells, samples));
                slot.idPlaneWork = AllocateZeroed<std::int32_t>(256);
            }
            if (options.perLightDependents) {
                slot.dependents = AllocateZeroed<std::int32_t>(mapCells);
                std::fill_n(slot.dependents.get(), mapCells, std::numeric_limits<std::int32_t>::min());
                slot.dependentPool =
                    AllocateZeroed<std::int32_t>(CheckedProduct(mapCells + mapCells / 4, 3));
            }
            slot.region.emplace();
            slot.secondRegion.emplace();
        }
        if (samples > 1) {
            tileData = AllocateZeroed<std::uint8_t>(
                CheckedProduct(static_cast<std::size_t>((lightMapSide - 1) / 8 + 1), 256));
        }
        if (options.shadows) {
            if (!shadowRegion) shadowRegion.emplace();
            if (!shadowScratchRegion) shadowScratchRegion.emplace();
        }
        if (extraPlanesWanted) {
            extraPlaneWords = CheckedProduct(static_cast<std::size_t>(allocatedHeight),
                                             static_cast<std::size_t>(targetStride));
            extraPlanes = AllocateZeroed<std::uint32_t>(CheckedProduct(
                static_cast<std::size_t>(shadowLightCount) + 2, extraPlaneWords));
            extraPlaneCount = shadowLightCount + 2;
        }
    } catch (const KVOutOfMemoryException&) {
        return RenderSizeNoMemory;
    }
    sizedSamples = samplesPerPixel;
    sizedShadowLights = shadowLightCount;
    BuildLevelTable();
    buffersReady = true;
    return RenderSizeOk;
}

std::int32_t QRender::SetLightCounts(std::int32_t lights, std::int32_t shadowLights) {
    lightCount = std::clamp(lights, 0, RenderLightSlotCount);
    shadowLightCount = std::clamp(shadowLights, 0, lightCount);
    const bool sized = allocatedWidth > 0;
    const bool dependsOnShadowLights = options.shadows || extraPlanesWanted;
    if (sized && dependsOnShadowLights && shadowLightCount > sizedShadowLights) {
        return AllocateBuffers();
    }
    return RenderSizeOk;
}

std::int32_t QRender::SetEdgeLineOption(bool on) {
    if (options.edgeLines == on) return RenderSizeOk;
    options.edgeLines = on;
    return allocatedWidth > 0 ? AllocateBuffers() : RenderSizeOk;
}

std::int32_t QRender::SetSkyOption(bool on) {
    options.sky = on;
    if (!on || options.flatPreview || allocatedWidth <= 0 || skyBuffer) return RenderSizeOk;
    try {
        skyBuffer = AllocateZeroed<std::int32_t>(CheckedProduct(
            static_cast<std::size_t>(allocatedWidth), static_cast<std::size_t>(allocatedHeight)));
    } catch (const KVOutOfMemoryException&) {
        return RenderSizeNoMemory;
    }
    return RenderSizeOk;
}

std::int32_t QRender::SetSamplesPerPixel(std::int32_t samples) {
    samplesPerPixel = std::clamp(samples, 1, 2);
    if (allocatedWidth > 0 && samplesPerPixel != sizedSamples) return AllocateBuffers();
    return RenderSizeOk;
}

void QRender::BuildLightFalloffTables() {
    for (std::int32_t i = 0; i < RenderLightSlotCount; ++i) {
        RenderLightSlot& slot = lightSlots[static_cast<std::size_t>(i)];
        if (slot.enabled != 0 && i < lightCount) {
            bool fresh = false;
            if (!slot.falloffTable) {
                slot.falloffTable = AllocateZeroed<float>(2 * FalloffTablePairs);
                fresh = true;
            }
            if (!fresh && slot.falloffExponent == slot.tableExponent &&
                slot.falloffFactor == slot.tableFactor) {
                continue;
            }
            slot.tableExponent = slot.falloffExponent;
            slot.tableFactor = slot.falloffFactor;
            FillLightFalloffTable(slot.falloffExponent, slot.falloffFactor,
                                  slot.falloffTable.get());
        } else {
            slot.falloffTable.reset();
            slot.falloffExponent = 0.0;
            slot.tableExponent = -777.0;
            slot.tableFactor = -777.0;
        }
    }
}

void QRender::BuildLevelTable() {
    reductionLevel = std::clamp(reductionLevel, 0, RenderMaxLevel);
    RenderLevel level;
    level.width = renderWidth;
    level.height = renderHeight;
    level.centreX = centreX;
    level.centreY = centreY;
    level.focal = focalScale * 1000.0 / viewDistance;
    for (std::int32_t k = 0; k <= RenderMaxLevel; ++k) {
        level.cellStride = level.width + 2;
        levels[static_cast<std::size_t>(k)] = level;
        level.width = (level.width + 1) / 2 + 4;
        level.height = (level.height + 1) / 2 + 4;
        level.centreX = level.centreX * 0.5 + 2.0;
        level.centreY = level.centreY * 0.5 + 2.0;
        level.focal *= 0.5;
    }
}

void QRender::SetDepthScale(double depth, double focal) {
    workingDepth = depth;
    const double ratio = depth / focal;
    if (!(ratio > 0.0) || !std::isfinite(ratio)) {
        depthScale = 0.0;
        depthShift = 0;
        return;
    }
    const int e = std::ilogb(ratio);
    depthScale = std::ldexp(1.0, e + 31);
    depthShift = e + 16;
}

void QRender::HalveDepthScale() {
    SetDepthScale(workingDepth * 0.5, Level().focal);
    const std::size_t cells = planeCells * static_cast<std::size_t>(sizedSamples);
    for (const auto& buffer : sampleBuffers) {
        if (!buffer) continue;
        SampleCell* cell = buffer.get();
        for (std::size_t i = 0; i < cells; ++i) cell[i].depth >>= 1;
    }
}

SampleCell* QRender::SampleBuffer(std::int32_t buffer) const {
    if (buffer < 0 || buffer >= RenderSampleBufferCount) return nullptr;
    return sampleBuffers[static_cast<std::size_t>(buffer)].get();
}

std::uint32_t* QRender::IntermediateFrame(std::int32_t level) const {
    if (level < 0 || level >= RenderMaxLevel) return nullptr;
    return reducedFrames[static_cast<std::size_t>(2 * level)].get();
}

std::uint32_t* QRender::ReducedFrame(std::int32_t level) const {
    if (level < 1 || level > RenderMaxLevel) return nullptr;
    return reducedFrames[static_cast<std::size_t>(2 * level - 1)].get();
}

PassBuffers QRender::PassBuffersFor(bool alternate) const {
    PassBuffers buffers;
    buffers.cells = SampleBuffer(alternate ? 1 : 0);
    buffers.stride = reductionLevel == 0 ? static_cast<std::size_t>(targetStride)
                                         : static_cast<std::size_t>(Level().width);
    if (alternate) {
        buffers.out = extraPlanes.get();
    } else {
        buffers.out = reductionLevel == 0 ? target : ReducedFrame(reductionLevel);
    }
    return buffers;
}

std::uint32_t QRender::QueryPixel(std::int32_t x, std::int32_t y, std::uint32_t* lightMask,
                                  double* depth, std::int32_t buffer, Vec3* normal) const {
    if (buffer < 0 || buffer > 2 || !buffersReady) return 0;
    const SampleCell* cells = SampleBuffer(buffer);
    if (cells == nullptr) return 0;
    if (x < 0 || y < 0 || x >= renderWidth || y >= renderHeight) return 0;
    for (std::int32_t k = 0; k < reductionLevel; ++k) {
        x = x / 2 + 2;
        y = y / 2 + 2;
    }
    const RenderLevel& level = Level();
    if (x >= level.width || y >= level.height) return 0;
    const SampleCell& cell =
        cells[static_cast<std::size_t>(y + 1) * static_cast<std::size_t>(level.cellStride) +
              static_cast<std::size_t>(x) + 1];
    if (lightMask != nullptr) *lightMask = cell.lightMask;
    const double z = cell.depth > 0 ? level.focal * depthScale / cell.depth
                                    : std::numeric_limits<double>::infinity();
    if (depth != nullptr) *depth = z;
    const std::int32_t part = PixelPartIndex(cell.pixel);
    if (normal != nullptr && part >= 0 && part < parts.Count() && cell.depth > 0) {
        const std::int32_t surface = PixelSurface(cell.pixel);
        const auto surfaces = parts.Surfaces(part);
        if (surface < static_cast<std::int32_t>(surfaces.size())) {
            const auto& e = surfaces[static_cast<std::size_t>(surface)].m;
            const Vec3 p{(x - level.centreX + 0.5) * z / level.focal,
                         (y - level.centreY + 0.5) * z / level.focal, z};
            Vec3 n{e[1], e[2], e[3]};
            const bool isPlane = (std::bit_cast<std::uint64_t>(e[15]) >> 32) == 0x7FFFFFFF;
            if (!isPlane) {
                n.x += e[5] * p.x + e[6] * p.y + e[7] * p.z;
                n.y += e[9] * p.x + e[10] * p.y + e[11] * p.z;
                n.z += e[13] * p.x + e[14] * p.y + e[15] * p.z;
            }
            if (n.x * p.x + n.y * p.y + n.z * p.z > 0.0) n = Vec3{-n.x, -n.y, -n.z};
            *normal = n;
        }
    }
    return cell.pixel;
}

void FillLightFalloffTable(double exponent, double factor, float* pairs) {
    const auto falloff = [exponent, factor](double x) {
        const double f = factor * (1.0 - x) * std::pow(x, -exponent);
        return f <= 8.0 ? f : 8.0;  // also a NaN
    };
    double previousX = std::ldexp(1.0, -16);
    double previous = falloff(previousX);
    std::int32_t pair = 0;
    for (std::uint32_t bits = 0x37880000u; bits < 0x3F880000u; bits += 0x80000u) {
        const double x = std::bit_cast<float>(bits);
        const double value = falloff(x);
        pairs[2 * pair] = static_cast<float>(previous);
        pairs[2 * pair + 1] = static_cast<float>((value - previous) / (x - previousX));
        ++pair;
        previous = value;
        previousX = x;
    }
    pairs[2 * pair] = 0.0f;
    pairs[2 * pair + 1] = 0.0f;
}

void FillSqrtTable(std::int32_t* table) {
    for (std::int32_t i = 0; i < SqrtTableEntries; ++i) {
        table[i] = static_cast<std::int32_t>(
            std::floor(std::sqrt(static_cast<double>(i) * 1048576.0) * 32768.0 + 0.5));
    }
}

std::int32_t FixedSqrt(std::int32_t value, std::int32_t shift, const std::int32_t* table) {
    if (value < 1) return 0;
    std::uint32_t v = static_cast<std::uint32_t>(value);
    while ((v & 0x78000000u) == 0) {
        v <<= 4;
        shift += 2;
    }
    const std::uint32_t i = v >> 20;
    const std::int64_t f = v & 0xFFFFF;
    const std::int64_t t0 = table[i];
    const std::int64_t t1 = table[i + 1];
    // Linear interpolation between the entries, in 1/64 steps of the fraction.
    const std::int64_t product = ((t0 - t1 + 64) >> 7) * ((f + 64) >> 7);
    const std::uint32_t step = static_cast<std::uint32_t>(32 - product) >> 6;
    const std::int64_t r = t0 + step;
    if (shift > 0) return static_cast<std::int32_t>((r + (std::int64_t{1} << (shift - 1))) >> shift);
    return static_cast<std::int32_t>(r << -shift);
}
