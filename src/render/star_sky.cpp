#include "render/star_sky.h"

#include "core/float_convert.h"
#include "core/private_heap.h"
#include "geometry/star_field.h"
#include "render/q_render.h"

#include <algorithm>
#include <cmath>

namespace {

// Stars this large or larger are drawn at this radius, brighter instead.
constexpr double LargestStarRadius = 1.7;

// Makes room for one more entry; false when the heap refuses the larger array.
bool GrowEntries(StarSky& sky) {
    if (sky.entryCount < sky.entryCapacity) return true;
    const std::int32_t capacity =
        std::max(RoundToInt(sky.entryCount * 1.2 + 1.0), sky.entryCount + 1);
    if (static_cast<std::uint64_t>(capacity) * 2 * sizeof(std::int32_t) > UINT32_MAX) return false;
    void* block = sky.entries.get();
    try {
        PrivateRealloc(&block, static_cast<std::uint32_t>(capacity * 2 * sizeof(std::int32_t)));
    } catch (const KVOutOfMemoryException&) {
        return false;
    }
    (void)sky.entries.release();
    sky.entries.reset(static_cast<std::int32_t*>(block));
    sky.entryCapacity = capacity;
    return true;
}

}  // namespace

void PrepareStarBuffer(QRender& render) {
    std::int32_t* grid = render.SkyBuffer();
    if (grid == nullptr) return;
    StarSky& sky = render.starSky;
    const StarField* field = sky.field;
    const std::int32_t count =
        field != nullptr && field->stars != nullptr ? std::max(field->count, 0) : 0;
    if (count != sky.projectedCount) {
        sky.projected.reset();
        sky.projectedCount = 0;
        if (count > 0) {
            sky.projected = PrivateAllocBlock<ProjectedStar>(static_cast<std::uint32_t>(count));
            sky.projectedCount = count;
        }
    }
    if (sky.entries == nullptr) {
        sky.entries = PrivateAllocBlock<std::int32_t>(2 * StarEntriesInitial);
        sky.entryCapacity = StarEntriesInitial;
    }

    // The chains cover the current level, which is never larger than the buffer.
    const RenderLevel& level = render.Level();
    const std::int32_t width = std::min(level.width, render.AllocatedWidth());
    const std::int32_t height = std::min(level.height, render.AllocatedHeight());
    std::fill_n(grid, static_cast<std::size_t>(render.AllocatedWidth()) *
                          static_cast<std::size_t>(render.AllocatedHeight()), -1);
    sky.entryCount = 0;
    sky.gridWidth = std::max(width, 0);
    sky.gridHeight = std::max(height, 0);
    sky.focal = level.focal;

    const auto& m = sky.viewFromWorld;
    const double f = level.focal;
    const double cx = level.centreX;
    const double cy = level.centreY;
    bool isRefused = false;
    for (std::int32_t i = 0; i < count && !isRefused; ++i) {
        const Star& star = field->stars.get()[i];
        const double z = m[6] * star.x + m[7] * star.y + m[8] * star.z;
        if (!(z > 0.0)) continue;
        const double x = m[0] * star.x + m[1] * star.y + m[2] * star.z;
        const double y = m[3] * star.x + m[4] * star.y + m[5] * star.z;
        double intensity = star.random;
        double radius = star.size;
        if (radius >= LargestStarRadius) {
            intensity = star.random * radius * radius / (LargestStarRadius * LargestStarRadius);
            radius = LargestStarRadius;
        }
        const double px = x * f / z;
        const double py = y * f / z;
        if (px + radius + cx < 0.0 || px - radius + cx > width || py + radius + cy < 0.0 ||
            py - radius + cy > height) {
            continue;
        }
        ProjectedStar& out = sky.projected.get()[i];
        out = ProjectedStar{static_cast<float>(intensity), static_cast<float>(px),
                            static_cast<float>(py), static_cast<float>(radius), star.colour};

        // The last column and row filed are the level's own: a square reaching the right or
        // bottom edge stops there rather than one past the buffer's row.
        const std::int32_t column0 = std::max(RoundToInt(px - radius + cx), 0);
        const std::int32_t column1 = std::min(RoundToInt(px + radius + cx), width - 1);
        const std::int32_t row0 = std::max(RoundToInt(py - radius + cy), 0);
        const std::int32_t row1 = std::min(RoundToInt(py + radius + cy), height - 1);
        for (std::int32_t row = row0; row <= row1 && !isRefused; ++row) {
            std::int32_t* cells = grid + static_cast<std::size_t>(row) * static_cast<std::size_t>(width);
            for (std::int32_t column = column0; column <= column1; ++column) {
                if (!GrowEntries(sky)) {
                    isRefused = true;
                    break;
                }
                std::int32_t* entry = sky.entries.get() + 2 * static_cast<std::size_t>(sky.entryCount);
                entry[0] = i;
                entry[1] = cells[column];
                cells[column] = sky.entryCount++;
            }
        }
    }
    if (isRefused) ThrowOutOfMemory();
}

void StarSkyBlend(const QRender& render, std::array<std::int32_t, 3>& colour,
                  std::int32_t pixelX, std::int32_t pixelY, double x, double y) {
    const std::int32_t* grid = render.SkyBuffer();
    const StarSky& sky = render.starSky;
    if (grid == nullptr || sky.entries == nullptr) return;
    const double scale = sky.focal;
    if (pixelX < 0) {
        pixelX = RoundToInt(scale * x + render.Level().centreX);
        pixelY = RoundToInt(scale * y + render.Level().centreY);
    }
    if (pixelX < 0 || pixelX >= sky.gridWidth || pixelY < 0 || pixelY >= sky.gridHeight) return;
    std::int32_t link = grid[static_cast<std::size_t>(pixelY) * static_cast<std::size_t>(sky.gridWidth) +
                             static_cast<std::size_t>(pixelX)];
    const std::int32_t* entries = sky.entries.get();
    while (link >= 0 && link < sky.entryCount) {
        const std::int32_t index = entries[2 * static_cast<std::size_t>(link)];
        link = entries[2 * static_cast<std::size_t>(link) + 1];
        if (index < 0 || index >= sky.projectedCount) continue;
        const ProjectedStar& star = sky.projected.get()[index];
        const double dx = x * scale - star.x;
        const double dy = y * scale - star.y;
        const double d = 1.0 - (dx * dx + dy * dy) / (static_cast<double>(star.radius) * star.radius);
        if (!(d > 0.0)) continue;
        const double d2 = d * d;
        const std::int32_t a = std::min(RoundToInt(star.intensity * d2 * d2 * 16384.0), 16384);
        for (std::size_t c = 0; c < 3; ++c) {
            const std::int64_t starChannel = static_cast<std::int64_t>((star.colour >> (16 - 8 * c)) & 0xFF) << 8;
            colour[c] = static_cast<std::int32_t>(
                (starChannel * a + static_cast<std::int64_t>(colour[c]) * (16384 - a)) >> 14);
        }
    }
}
