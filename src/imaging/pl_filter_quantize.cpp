#include "imaging/pl_filter_quantize.h"

#include "core/float_convert.h"
#include "imaging/pl_bmp.h"
#include "imaging/pl_text_exception.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace {

// Colour cells: the top 5 bits of each channel. Coordinates are kept in the byte order of
// a pixel (blue, green, red), so channel k of a cell is byte k of the pixels it holds.
constexpr int CellSteps = 32;
constexpr int CellCount = CellSteps * CellSteps * CellSteps;
constexpr int PaletteEntries = 256;
constexpr std::uint32_t MaxCellCount = 65535;

using Colour = std::array<std::uint8_t, 3>;  // blue, green, red

int CellIndex(int blue5, int green5, int red5) {
    return red5 * CellSteps * CellSteps + green5 * CellSteps + blue5;
}

// The 8 corners of the colour cube, which both built palettes start with.
constexpr std::array<Colour, 8> Corners = {{{0, 0, 0},
                                            {31, 0, 0},
                                            {0, 31, 0},
                                            {0, 0, 31},
                                            {31, 31, 0},
                                            {0, 31, 31},
                                            {31, 0, 31},
                                            {31, 31, 31}}};

struct Cell {
    std::int16_t index = -1;  // palette index found for the cell, -1 none yet
    std::uint16_t count = 0;  // pixels in the cell, saturating
};

// A box of cells for median cut: corners and count-weighted average in cell units.
struct Box {
    Colour min{};
    Colour max{};
    Colour average{};
    std::uint32_t count = 0;
};

std::array<std::uint8_t, 1024> MakeFixedPalette() {
    std::array<std::uint8_t, 1024> palette{};
    const auto set = [&palette](int entry, int red, int green, int blue) {
        std::uint8_t* p = palette.data() + 4 * entry;
        p[0] = static_cast<std::uint8_t>(blue);
        p[1] = static_cast<std::uint8_t>(green);
        p[2] = static_cast<std::uint8_t>(red);
        p[3] = 0;
    };
    // The static colours of the Windows system palette, red, green, blue.
    static constexpr int LowStatic[10][3] = {
        {0, 0, 0},     {128, 0, 0},   {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
        {128, 0, 128}, {0, 128, 128}, {192, 192, 192}, {192, 220, 192}, {166, 202, 240}};
    static constexpr int HighStatic[10][3] = {
        {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},   {0, 255, 0},
        {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255}, {255, 255, 255}};
    static constexpr int HalfIntensity[6][3] = {{128, 128, 255}, {128, 255, 128}, {128, 255, 255},
                                                {255, 128, 128}, {255, 128, 255}, {255, 255, 128}};
    static constexpr int Levels[6] = {0, 81, 133, 177, 217, 255};
    for (int i = 0; i < 10; ++i) {
        set(i, LowStatic[i][0], LowStatic[i][1], LowStatic[i][2]);
        set(246 + i, HighStatic[i][0], HighStatic[i][1], HighStatic[i][2]);
    }
    for (int i = 0; i < 6; ++i)
        set(10 + i, HalfIntensity[i][0], HalfIntensity[i][1], HalfIntensity[i][2]);
    for (int i = 0; i < 216; ++i) set(16 + i, Levels[i / 36], Levels[(i / 6) % 6], Levels[i % 6]);
    for (int i = 0; i < 14; ++i) set(232 + i, 196 + 3 * i, 196 + 3 * i, 196 + 3 * i);
    return palette;
}

// The working state of one quantisation: the histogram, the median-cut boxes and the
// destination palette.
class Quantizer {
public:
    Quantizer(const PLBmp& sourceBmp, PLBmp& destBmp) : source(sourceBmp), dest(destBmp) {}

    void CountPixels() {
        for (std::int32_t y = 0; y < source.GetHeight(); ++y) {
            const std::uint8_t* row = source.GetLineArray()[y];
            for (std::int32_t x = 0; x < source.GetWidth(); ++x) {
                Cell& cell = CellOf(row + 4 * x);
                if (cell.count < MaxCellCount) ++cell.count;
            }
        }
    }

    void MedianCut();
    void Popularity();
    void MapPixels(int ditherType);

private:
    Cell& CellOf(const std::uint8_t* bgr) {
        return cells[static_cast<std::size_t>(CellIndex(bgr[0] >> 3, bgr[1] >> 3, bgr[2] >> 3))];
    }
    const Cell& CellAt(int blue5, int green5, int red5) const {
        return cells[static_cast<std::size_t>(CellIndex(blue5, green5, red5))];
    }
    void Measure(Box& box) const;
    std::uint8_t Lookup(const std::uint8_t* bgr);

    const PLBmp& source;
    PLBmp& dest;
    std::vector<Cell> cells = std::vector<Cell>(CellCount);
    std::array<Box, PaletteEntries> boxes{};
};

void Quantizer::Measure(Box& box) const {
    std::uint64_t total = 0;
    std::array<std::uint64_t, 3> sums{};
    Colour low = {31, 31, 31};
    Colour high = {0, 0, 0};
    for (int r = box.min[2]; r <= box.max[2]; ++r) {
        for (int g = box.min[1]; g <= box.max[1]; ++g) {
            for (int b = box.min[0]; b <= box.max[0]; ++b) {
                const std::uint32_t count = CellAt(b, g, r).count;
                if (count == 0) continue;
                const Colour at = {static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g),
                                   static_cast<std::uint8_t>(r)};
                for (std::size_t k = 0; k < 3; ++k) {
                    low[k] = std::min(low[k], at[k]);
                    high[k] = std::max(high[k], at[k]);
                    sums[k] += std::uint64_t{count} * at[k];
                }
                total += count;
            }
        }
    }
    if (total == 0) {
        box.count = 0;
        return;
    }
    box.min = low;
    box.max = high;
    for (std::size_t k = 0; k < 3; ++k) box.average[k] = static_cast<std::uint8_t>(sums[k] / total);
    box.count = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, MaxCellCount));
    // A single cell cannot be split.
    if (box.min == box.max) box.count = 1;
}

void Quantizer::MedianCut() {
    for (std::size_t i = 0; i < Corners.size(); ++i) {
        boxes[i] = {Corners[i], Corners[i], Corners[i], 1};
    }
    constexpr int WholeCube = 8;
    boxes[WholeCube] = {{0, 0, 0}, {31, 31, 31}, {0, 0, 0}, 0};
    Measure(boxes[WholeCube]);
    for (int n = WholeCube + 1; n < PaletteEntries; ++n) {
        int largest = WholeCube;
        for (int i = WholeCube + 1; i < n; ++i) {
            if (boxes[static_cast<std::size_t>(i)].count >
                boxes[static_cast<std::size_t>(largest)].count) {
                largest = i;
            }
        }
        Box& old = boxes[static_cast<std::size_t>(largest)];
        if (old.count <= 1) {
            std::fill(boxes.begin() + n, boxes.end(), Box{});
            break;
        }
        Box& added = boxes[static_cast<std::size_t>(n)];
        added = old;
        // Split along red when its extent is the largest, else along the larger of blue and
        // green (green on a tie).
        const auto extent = [&old](std::size_t k) { return old.max[k] - old.min[k]; };
        std::size_t axis = 1;
        if (extent(2) >= extent(1) && extent(2) >= extent(0)) {
            axis = 2;
        } else if (extent(1) < extent(0)) {
            axis = 0;
        }
        if (extent(axis) == 2) {
            old.min[axis] = old.max[axis];
            added.max[axis] = added.min[axis];
        } else {
            std::uint8_t split = old.average[axis];
            if (split == old.max[axis]) --split;
            old.max[axis] = split;
            added.min[axis] = static_cast<std::uint8_t>(split + 1);
        }
        Measure(old);
        Measure(added);
    }
    std::uint8_t* palette = dest.GetPalette();
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        for (std::size_t k = 0; k < 3; ++k) {
            palette[4 * i + k] =
                static_cast<std::uint8_t>((boxes[i].min[k] + boxes[i].max[k]) * 255 / 62);
        }
        palette[4 * i + 3] = 0;
    }
}

void Quantizer::Popularity() {
    std::array<Colour, PaletteEntries> colours{};
    std::array<std::uint32_t, PaletteEntries> counts{};
    std::copy(Corners.begin(), Corners.end(), colours.begin());
    // Entries 8 to 255 stay sorted by count, most frequent first; a cell enters when it
    // beats the last entry, after the entries of equal count. Cells on the upper faces of the
    // cube are left to the corners.
    constexpr std::size_t First = Corners.size();
    for (int r = 0; r < CellSteps - 1; ++r) {
        for (int g = 0; g < CellSteps - 1; ++g) {
            for (int b = 0; b < CellSteps - 1; ++b) {
                const std::uint32_t count = CellAt(b, g, r).count;
                if (count <= counts.back()) continue;
                std::size_t at = First;
                while (counts[at] >= count) ++at;
                std::copy_backward(colours.begin() + static_cast<std::ptrdiff_t>(at),
                                   colours.end() - 1, colours.end());
                std::copy_backward(counts.begin() + static_cast<std::ptrdiff_t>(at),
                                   counts.end() - 1, counts.end());
                colours[at] = {static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g),
                               static_cast<std::uint8_t>(r)};
                counts[at] = count;
            }
        }
    }
    std::uint8_t* palette = dest.GetPalette();
    for (std::size_t i = 0; i < colours.size(); ++i) {
        for (std::size_t k = 0; k < 3; ++k) {
            palette[4 * i + k] = static_cast<std::uint8_t>(colours[i][k] * 255 / 31);
        }
        palette[4 * i + 3] = 0;
    }
}

std::uint8_t Quantizer::Lookup(const std::uint8_t* bgr) {
    Cell& cell = CellOf(bgr);
    if (cell.index >= 0) return static_cast<std::uint8_t>(cell.index);
    const std::uint8_t* palette = dest.GetPalette();
    int best = 0;
    int bestDistance = INT32_MAX;
    for (int i = 0; i < PaletteEntries; ++i) {
        int distance = 0;
        for (int k = 0; k < 3; ++k) {
            const int d = bgr[k] - palette[4 * i + k];
            distance += d * d;
        }
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    cell.index = static_cast<std::int16_t>(best);
    return static_cast<std::uint8_t>(best);
}

void Quantizer::MapPixels(int ditherType) {
    const std::int32_t width = source.GetWidth();
    const std::int32_t height = source.GetHeight();
    if (ditherType == PLFilterQuantize::FloydSteinbergDither) {
        // Two rows of accumulated error with one pixel of margin on each side.
        const std::size_t rowLength = 3 * static_cast<std::size_t>(width) + 6;
        std::vector<double> current(rowLength, 0.0);
        std::vector<double> below(rowLength, 0.0);
        const std::uint8_t* palette = dest.GetPalette();
        for (std::int32_t y = 0; y < height; ++y) {
            const std::uint8_t* in = source.GetLineArray()[y];
            std::uint8_t* out = dest.GetLineArray()[y];
            // Serpentine: even rows run left to right, odd rows right to left.
            const int step = y % 2 == 0 ? 1 : -1;
            for (std::int32_t i = 0; i < width; ++i) {
                const std::int32_t x = step > 0 ? i : width - 1 - i;
                const std::size_t at = 3 * static_cast<std::size_t>(x + 1);
                const std::size_t ahead = at + static_cast<std::size_t>(3 * step);
                const std::size_t behind = at - static_cast<std::size_t>(3 * step);
                std::array<double, 3> wanted{};
                std::uint8_t colour[3];
                for (std::size_t k = 0; k < 3; ++k) {
                    wanted[k] = std::clamp(
                        in[4 * x + static_cast<std::int32_t>(k)] + current[at + k], 0.0, 255.0);
                    colour[k] = static_cast<std::uint8_t>(TruncToInt32(wanted[k]));
                }
                const std::uint8_t index = Lookup(colour);
                out[x] = index;
                for (std::size_t k = 0; k < 3; ++k) {
                    const double error = wanted[k] - palette[4 * index + k];
                    current[ahead + k] += error * 7.0 / 16.0;
                    below[behind + k] += error * 3.0 / 16.0;
                    below[at + k] += error * 5.0 / 16.0;
                    below[ahead + k] += error * 1.0 / 16.0;
                }
            }
            std::swap(current, below);
            std::fill(below.begin(), below.end(), 0.0);
        }
        return;
    }
    // The ordered pattern, indexed by row & 3 plus 4 times (columns left to the row's end) & 3.
    static constexpr int Pattern[16] = {-7, 1, -5, 3, 5, -3, 7, -1, -4, 4, -6, 2, 8, 0, 6, -2};
    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* in = source.GetLineArray()[y];
        std::uint8_t* out = dest.GetLineArray()[y];
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t colour[3] = {in[4 * x], in[4 * x + 1], in[4 * x + 2]};
            if (ditherType == PLFilterQuantize::OrderedDither) {
                const std::int32_t c = width - 1 - x;
                const int offset = 2 * Pattern[(y & 3) + (c & 3) * 4];
                for (std::uint8_t& channel : colour) {
                    channel = static_cast<std::uint8_t>(std::clamp(channel + offset, 0, 255));
                }
            }
            out[x] = Lookup(colour);
        }
    }
}

}  // namespace

PLFilterQuantize::PLFilterQuantize(int palette, int dither)
    : paletteType(palette), ditherType(dither) {}

const std::array<std::uint8_t, 1024>& PLFilterQuantize::GetFixedPalette() {
    static const std::array<std::uint8_t, 1024> palette = MakeFixedPalette();
    return palette;
}

void PLFilterQuantize::Apply(const PLBmp& source, PLBmp& dest) const {
    if (&source == &dest) {
        ApplyInPlace(dest);
        return;
    }
    if (source.GetBitsPerPixel() != 32) {
        throw PLTextException(
            PLErrFormatNotSupported,
            "Colour quantisation of " + source.GetPixelFormat().GetName() + " not supported.");
    }
    dest.CreateFromData(source.GetWidth(), source.GetHeight(), PLPixelFormat::I8, nullptr, 0,
                        source.GetResolution());
    try {
        // The histogram belongs to one application, so applying the filter twice counts
        // each image once.
        Quantizer quantizer(source, dest);
        const bool isFixed = paletteType == FixedPalette || paletteType == UserPalette;
        if (!isFixed) quantizer.CountPixels();
        if (paletteType == MedianCutPalette) {
            quantizer.MedianCut();
        } else if (paletteType == PopularityPalette) {
            quantizer.Popularity();
        } else if (isFixed) {
            dest.CopyPalette(GetFixedPalette().data());
        }
        quantizer.MapPixels(ditherType);
    } catch (const std::bad_alloc&) {
        throw PLTextException(PLErrNoMemory, "Out of memory.");
    }
}

void PLFilterQuantizeBitmap(int paletteType, int ditherType, const PLBmp& source, PLBmp& dest) {
    PLFilterQuantize(paletteType, ditherType).Apply(source, dest);
}
