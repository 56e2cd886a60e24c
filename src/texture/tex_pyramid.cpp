#include "texture/tex_pyramid.h"

#include "core/private_block.h"
#include "core/private_heap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace {

constexpr int MaxTapDistance = 8;  // 2^floor(11 / 3), the widest blur tap of level 12
constexpr std::uint32_t ZeroFormPixel = 0x40404040;
constexpr std::uint8_t ZeroFormByte = 0x40;

// Byte size of a count0 x count1 x unitBytes buffer, or nothing when it does not fit the
// private heap's 32-bit sizes.
std::optional<std::uint32_t> BufferBytes(std::int64_t count0, std::int64_t count1,
                                         std::int64_t unitBytes) {
    if (count0 <= 0 || count1 <= 0) return std::nullopt;
    const std::uint64_t bytes = static_cast<std::uint64_t>(count0) *
                                static_cast<std::uint64_t>(count1) *
                                static_cast<std::uint64_t>(unitBytes);
    if (bytes > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(bytes);
}

// Allocates from the private heap, turning a refusal into null: the pyramid's callers are
// defined to see -1, never the exception.
template <typename T>
T* TryAlloc(std::optional<std::uint32_t> bytes) {
    if (!bytes) return nullptr;
    try {
        return static_cast<T*>(PrivateAlloc(*bytes));
    } catch (const KVOutOfMemoryException&) {
        return nullptr;
    }
}

int WrapIndex(int i, int count) {
    const int r = i % count;
    return r < 0 ? r + count : r;
}

std::uint32_t ToChannelForm(std::uint32_t argb) {
    const std::uint32_t alpha = argb >> 24;
    return (((argb >> 1) & 0x007F7F7Fu) + 0x00404040u) | ((((alpha + 1) >> 1) + 0x40u) << 24);
}

std::uint8_t ToChannelForm(std::uint8_t v) {
    return static_cast<std::uint8_t>(((v + 1) >> 1) + ZeroFormByte);
}

// (a + 2b + c + 2) >> 2 on all four channels, two at a time in the 16-bit halves of a word.
std::uint32_t BlurTaps(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    constexpr std::uint32_t Mask = 0x00FF00FFu;
    const std::uint32_t low =
        (((a & Mask) + 2 * (b & Mask) + (c & Mask) + 0x00020002u) >> 2) & Mask;
    const std::uint32_t high = ((((a >> 8) & Mask) + 2 * ((b >> 8) & Mask) + ((c >> 8) & Mask) +
                                 0x00020002u) >> 2) & Mask;
    return low | (high << 8);
}

std::uint8_t BlurTaps(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    return static_cast<std::uint8_t>((a + 2 * b + c + 2) >> 2);
}

// Copies a line of count elements into scratch with d wrapped elements on each side:
// scratch[i] = line[(i - d) mod count]. The wrap goes by modulo when the line is shorter than
// the tap distance.
template <typename T>
void WrapLine(const T* line, int count, int d, T* scratch) {
    if (count < d) {
        for (int i = 0; i < count + 2 * d; ++i) scratch[i] = line[WrapIndex(i - d, count)];
        return;
    }
    const auto d0 = static_cast<std::size_t>(d);
    const auto n = static_cast<std::size_t>(count);
    std::memcpy(scratch, line + (n - d0), d0 * sizeof(T));
    std::memcpy(scratch + d0, line, n * sizeof(T));
    std::memcpy(scratch + d0 + n, line, d0 * sizeof(T));
}

// The row pass: each row blurred along itself, through one wrapped copy of the row.
template <typename T>
void BlurRows(T* pixels, int w, int h, int d, T* line) {
    for (int y = 0; y < h; ++y) {
        T* row = pixels + static_cast<std::ptrdiff_t>(y) * w;
        WrapLine(row, w, d, line);
        for (int x = 0; x < w; ++x) row[x] = BlurTaps(line[x], line[x + d], line[x + 2 * d]);
    }
}

// The column pass, walked in row order: row y becomes the blur of rows y - d, y and y + d
// (wrapped), whole rows at a time, so memory is read and written in sequence rather than down
// columns whose power-of-two strides make the cache lines evict each other. Rows are
// overwritten in order, so the originals still to be read are kept aside in `kept`
// (2d + 1 rows): the first d rows, which the last d rows take as their lower taps, and a ring
// of the last d + 1 rows, from which each row takes its upper tap. An image of at most 2d rows
// is blurred from a copy of all of them.
template <typename T>
void BlurColumns(T* pixels, int w, int h, int d, T* kept) {
    const auto width = static_cast<std::ptrdiff_t>(w);
    const std::size_t rowBytes = static_cast<std::size_t>(w) * sizeof(T);
    auto row = [&](int y) { return pixels + y * width; };
    if (h <= 2 * d) {
        std::memcpy(kept, pixels, rowBytes * static_cast<std::size_t>(h));
        for (int y = 0; y < h; ++y) {
            const T* above = kept + WrapIndex(y - d, h) * width;
            const T* centre = kept + y * width;
            const T* below = kept + WrapIndex(y + d, h) * width;
            T* out = row(y);
            for (int x = 0; x < w; ++x) out[x] = BlurTaps(above[x], centre[x], below[x]);
        }
        return;
    }
    T* head = kept;
    T* ring = kept + d * width;
    std::memcpy(head, pixels, rowBytes * static_cast<std::size_t>(d));
    for (int y = 0; y < h; ++y) {
        // Row y - d + h (for y < d) and row y + d (below h) are not yet overwritten.
        const T* above = y >= d ? ring + ((y - d) % (d + 1)) * width : row(y - d + h);
        const T* below = y + d < h ? row(y + d) : head + (y + d - h) * width;
        T* centre = ring + (y % (d + 1)) * width;
        T* out = row(y);
        std::memcpy(centre, out, rowBytes);
        for (int x = 0; x < w; ++x) out[x] = BlurTaps(above[x], centre[x], below[x]);
    }
}

// The level's blur: pass count 2 when j is a multiple of 3, else 3; tap distance 2^(j / 3).
// Each pass blurs the rows, then the columns.
template <typename T>
void BlurLevel(T* pixels, int w, int h, int k, T* scratch) {
    const int j = k > 0 ? k - 1 : 0;
    const int d = 1 << (j / 3);
    const int passCount = j % 3 == 0 ? 2 : 3;
    T* line = scratch;
    T* kept = scratch + w + 2 * MaxTapDistance;
    for (int pass = 0; pass < passCount; ++pass) {
        BlurRows(pixels, w, h, d, line);
        BlurColumns(pixels, w, h, d, kept);
    }
}

// Fills a new level: the zero form in the margins when bordered, the interior (the padded
// source converted for level 0, the level below copied otherwise) centred in it, then blurs.
template <typename T>
T* MakeLevel(const TexPyramid& p, int k, const T* below, int belowWidth, int belowHeight,
             T zeroForm, T* scratch) {
    const int w = p.levelWidths[k];
    const int h = p.levelHeights[k];
    T* level = TryAlloc<T>(BufferBytes(w, h, sizeof(T)));
    if (level == nullptr) return nullptr;
    const int marginX = (w - belowWidth) / 2;
    const int marginY = (h - belowHeight) / 2;
    for (int y = 0; y < h; ++y) {
        T* to = level + static_cast<std::ptrdiff_t>(y) * w;
        const int inside = y - marginY;
        if (inside < 0 || inside >= belowHeight) {
            std::fill(to, to + w, zeroForm);
            continue;
        }
        std::fill(to, to + marginX, zeroForm);
        std::fill(to + marginX + belowWidth, to + w, zeroForm);
        const T* from = below + static_cast<std::ptrdiff_t>(inside) * belowWidth;
        if (k == 0) {
            for (int x = 0; x < belowWidth; ++x) to[marginX + x] = ToChannelForm(from[x]);
        } else {
            std::memcpy(to + marginX, from, static_cast<std::size_t>(belowWidth) * sizeof(T));
        }
    }
    BlurLevel(level, w, h, k, scratch);
    return level;
}

// Builds entry k of one level chain (colour or map), building missing entries below first.
template <typename T>
int BuildLevelChain(TexPyramid& p, std::array<T*, TexPyramidLevelCount>& levels,
                    const T* paddedSource, T zeroForm, T* scratch, int k) {
    if (k >= 1 && levels[k - 1] == nullptr &&
        BuildLevelChain(p, levels, paddedSource, zeroForm, scratch, k - 1) != 0) {
        return -1;
    }
    PrivateFreeAndClear(levels[k]);
    const T* below = k == 0 ? paddedSource : levels[k - 1];
    const int belowWidth = k == 0 ? p.paddedWidth : p.levelWidths[k - 1];
    const int belowHeight = k == 0 ? p.paddedHeight : p.levelHeights[k - 1];
    levels[k] = MakeLevel<T>(p, k, below, belowWidth, belowHeight, zeroForm, scratch);
    return levels[k] != nullptr ? 0 : -1;
}

int BuildColourLevel(TexPyramid& p, int k) {
    return BuildLevelChain(p, p.colourLevels, p.paddedSource, ZeroFormPixel, p.rowScratch, k);
}

int BuildMapLevel(TexPyramid& p, int k) {
    return BuildLevelChain(p, p.mapLevels, p.paddedMapSource, ZeroFormByte, p.mapRowScratch, k);
}

// The blur scratch: one wrapped row of the widest level, then the 2d + 1 rows the column pass
// keeps aside at the widest tap distance.
std::int64_t ScratchLength(const TexPyramid& p) {
    const std::int64_t widest = p.levelWidths[TexPyramidLevelCount - 1];
    return widest + 2 * MaxTapDistance + (2 * MaxTapDistance + 1) * widest;
}

// Magnifies one plane set of srcW x srcH elements of channelCount 8-bit channels twice in each
// direction: a vertical pass into 16-bit sums, then a horizontal pass that scales the sums of
// 64 x 64 weights into the channel form. Weights (w1..w4) place the two outputs of source
// element i between its neighbours: out(2i) leans back, out(2i + 1) forward.
template <typename T, int ChannelCount>
T* Magnify(const T* source, int srcW, int srcH, const std::array<std::int32_t, 4>& weights) {
    const auto [w1, w2, w3, w4] = weights;
    const int magW = 2 * srcW;
    const int magH = 2 * srcH;
    PrivateBlockPtr<std::int16_t> temporary(
        TryAlloc<std::int16_t>(BufferBytes(static_cast<std::int64_t>(srcW) * magH, ChannelCount, 2)));
    if (temporary == nullptr) return nullptr;
    T* out = TryAlloc<T>(BufferBytes(magW, magH, sizeof(T)));
    if (out == nullptr) return nullptr;

    auto channel = [](T v, int ch) { return static_cast<std::int32_t>((v >> (8 * ch)) & 0xFF); };
    std::int16_t* temp = temporary.get();
    for (int i = 0; i < srcH; ++i) {
        const T* r0 = source + static_cast<std::ptrdiff_t>(WrapIndex(i - 2, srcH)) * srcW;
        const T* r1 = source + static_cast<std::ptrdiff_t>(WrapIndex(i - 1, srcH)) * srcW;
        const T* r2 = source + static_cast<std::ptrdiff_t>(i) * srcW;
        const T* r3 = source + static_cast<std::ptrdiff_t>(WrapIndex(i + 1, srcH)) * srcW;
        const T* r4 = source + static_cast<std::ptrdiff_t>(WrapIndex(i + 2, srcH)) * srcW;
        std::int16_t* even = temp + static_cast<std::ptrdiff_t>(2 * i) * srcW * ChannelCount;
        std::int16_t* odd = even + static_cast<std::ptrdiff_t>(srcW) * ChannelCount;
        for (int x = 0; x < srcW; ++x) {
            for (int ch = 0; ch < ChannelCount; ++ch) {
                even[x * ChannelCount + ch] = static_cast<std::int16_t>(
                    w4 * channel(r0[x], ch) + w3 * channel(r1[x], ch) + w2 * channel(r2[x], ch) +
                    w1 * channel(r3[x], ch));
                odd[x * ChannelCount + ch] = static_cast<std::int16_t>(
                    w1 * channel(r1[x], ch) + w2 * channel(r2[x], ch) + w3 * channel(r3[x], ch) +
                    w4 * channel(r4[x], ch));
            }
        }
    }

    // sum / 2 + 0x40800 is the channel form with rounding, scaled by 2^12.
    auto finish = [](std::int32_t sum) {
        std::int32_t v = sum / 2 + 0x40800;
        v = v < 0 ? 0 : (v > 0xFF000 ? 0xFF000 : v);
        return static_cast<std::uint32_t>(v >> 12);
    };
    for (int y = 0; y < magH; ++y) {
        const std::int16_t* row = temp + static_cast<std::ptrdiff_t>(y) * srcW * ChannelCount;
        T* to = out + static_cast<std::ptrdiff_t>(y) * magW;
        for (int j = 0; j < srcW; ++j) {
            const std::int16_t* c0 = row + WrapIndex(j - 2, srcW) * ChannelCount;
            const std::int16_t* c1 = row + WrapIndex(j - 1, srcW) * ChannelCount;
            const std::int16_t* c2 = row + j * ChannelCount;
            const std::int16_t* c3 = row + WrapIndex(j + 1, srcW) * ChannelCount;
            const std::int16_t* c4 = row + WrapIndex(j + 2, srcW) * ChannelCount;
            std::uint32_t evenWord = 0;
            std::uint32_t oddWord = 0;
            for (int ch = 0; ch < ChannelCount; ++ch) {
                evenWord |= finish(w4 * c0[ch] + w3 * c1[ch] + w2 * c2[ch] + w1 * c3[ch]) << (8 * ch);
                oddWord |= finish(w1 * c1[ch] + w2 * c2[ch] + w3 * c3[ch] + w4 * c4[ch]) << (8 * ch);
            }
            to[2 * j] = static_cast<T>(evenWord);
            to[2 * j + 1] = static_cast<T>(oddWord);
        }
    }
    return out;
}

void FreeColourPart(TexPyramid& p) {
    PrivateFreeAndClear(p.paddedSource);
    PrivateFreeAndClear(p.rowScratch);
    PrivateFreeAndClear(p.cornerMap);
    for (auto& level : p.colourLevels) PrivateFreeAndClear(level);
    for (auto& level : p.colourMagnified) PrivateFreeAndClear(level);
}

void BuildCornerMap(TexPyramid& p) {
    const int pw = p.paddedWidth;
    auto alphaAt = [&](int x, int y) {
        return p.paddedSource[static_cast<std::ptrdiff_t>(y) * pw + x] >> 24;
    };
    std::uint8_t* corner = p.cornerMap;
    for (int y = 0; y <= p.height; ++y) {
        for (int x = 0; x <= p.width; ++x) {
            const std::uint32_t a[4] = {alphaAt(x + 1, y + 1), alphaAt(x + 2, y + 1),
                                        alphaAt(x + 1, y + 2), alphaAt(x + 2, y + 2)};
            bool allClear = true;
            bool allOpaque = true;
            for (std::uint32_t v : a) {
                allClear = allClear && v == 0;
                allOpaque = allOpaque && v == 0xFF;
            }
            *corner++ = allClear ? TexCornerTransparent : (allOpaque ? TexCornerOpaque : TexCornerMixed);
        }
    }
}

}  // namespace

TexPyramid::~TexPyramid() { TexPyramidFree(*this); }

void TexPyramidInit(TexPyramid& pyramid) {
    TexPyramidFree(pyramid);
    pyramid.kernelWeights = {};
    pyramid.levelWidths = {};
    pyramid.levelHeights = {};
    pyramid.paddedWidth = pyramid.paddedHeight = 0;
    pyramid.width = pyramid.height = 0;
    pyramid.magnifiedWidth = pyramid.magnifiedHeight = 0;
    pyramid.bordered = pyramid.borderedCopy = 0;
}

void TexPyramidFree(TexPyramid& pyramid) {
    FreeColourPart(pyramid);
    TexPyramidDropMap(pyramid);
}

void TexPyramidDropMap(TexPyramid& pyramid) {
    for (auto& level : pyramid.mapLevels) PrivateFreeAndClear(level);
    for (auto& level : pyramid.mapMagnified) PrivateFreeAndClear(level);
    PrivateFreeAndClear(pyramid.mapRowScratch);
    PrivateFreeAndClear(pyramid.paddedMapSource);
}

bool TexPyramidHasImage(const TexPyramid& pyramid) { return pyramid.paddedSource != nullptr; }

bool TexPyramidHasMap(const TexPyramid& pyramid) { return pyramid.paddedMapSource != nullptr; }

int TexPyramidSetImage(TexPyramid& pyramid, const std::uint32_t* pixels, std::int32_t rowPitch,
                       std::int32_t width, std::int32_t height, bool bordered) {
    // The largest buffer is a magnification: (2 * padded width) x (2 * padded height) words.
    constexpr std::int32_t MaxSide = 1 << 20;
    if (pixels == nullptr || width <= 0 || height <= 0 || width > MaxSide || height > MaxSide ||
        rowPitch < width) {
        return -1;
    }
    const int border = bordered ? 4 : 0;
    if (!BufferBytes(2 * static_cast<std::int64_t>(width + border + 2 * TexPyramidLevelMargins.back()),
                     2 * static_cast<std::int64_t>(height + border + 2 * TexPyramidLevelMargins.back()),
                     4)) {
        return -1;
    }

    const std::uint8_t flag = bordered ? 1 : 0;
    if (pyramid.paddedSource != nullptr &&
        (width != pyramid.width || height != pyramid.height || flag != pyramid.bordered)) {
        TexPyramidDropMap(pyramid);
    }
    pyramid.width = width;
    pyramid.height = height;
    pyramid.bordered = pyramid.borderedCopy = flag;
    pyramid.paddedWidth = width + border;
    pyramid.paddedHeight = height + border;
    for (int k = 0; k < TexPyramidLevelCount; ++k) {
        const int margin = bordered ? 2 * TexPyramidLevelMargins[k] : 0;
        pyramid.levelWidths[k] = width + margin;
        pyramid.levelHeights[k] = height + margin;
    }
    pyramid.magnifiedWidth = 2 * pyramid.paddedWidth;
    pyramid.magnifiedHeight = 2 * pyramid.paddedHeight;

    FreeColourPart(pyramid);
    pyramid.rowScratch = TryAlloc<std::uint32_t>(BufferBytes(ScratchLength(pyramid), 1, 4));
    pyramid.paddedSource =
        TryAlloc<std::uint32_t>(BufferBytes(pyramid.paddedWidth, pyramid.paddedHeight, 4));
    if (bordered && pyramid.paddedSource != nullptr) {
        pyramid.cornerMap = TryAlloc<std::uint8_t>(BufferBytes(width + 1, height + 1, 1));
    }
    if (pyramid.rowScratch == nullptr || pyramid.paddedSource == nullptr ||
        (bordered && pyramid.cornerMap == nullptr)) {
        TexPyramidFree(pyramid);
        return -1;
    }

    const int inset = bordered ? 2 : 0;
    if (bordered) {
        std::memset(pyramid.paddedSource, 0,
                    static_cast<std::size_t>(pyramid.paddedWidth) * pyramid.paddedHeight * 4);
    }
    for (int y = 0; y < height; ++y) {
        std::memcpy(pyramid.paddedSource +
                        static_cast<std::ptrdiff_t>(y + inset) * pyramid.paddedWidth + inset,
                    pixels + static_cast<std::ptrdiff_t>(y) * rowPitch,
                    static_cast<std::size_t>(width) * 4);
    }
    if (BuildColourLevel(pyramid, 0) != 0) {
        TexPyramidFree(pyramid);
        return -1;
    }
    if (bordered) BuildCornerMap(pyramid);
    return 0;
}

int TexPyramidSetMap(TexPyramid& pyramid, const std::uint8_t* pixels, std::int32_t rowPitchBytes) {
    if (!TexPyramidHasImage(pyramid) || pixels == nullptr || rowPitchBytes < pyramid.width) {
        return -1;
    }
    TexPyramidDropMap(pyramid);
    for (int k = 1; k < TexPyramidLevelCount; ++k) PrivateFreeAndClear(pyramid.colourLevels[k]);
    for (auto& level : pyramid.colourMagnified) PrivateFreeAndClear(level);

    pyramid.mapRowScratch = TryAlloc<std::uint8_t>(BufferBytes(ScratchLength(pyramid), 1, 1));
    pyramid.paddedMapSource =
        TryAlloc<std::uint8_t>(BufferBytes(pyramid.paddedWidth, pyramid.paddedHeight, 1));
    if (pyramid.mapRowScratch == nullptr || pyramid.paddedMapSource == nullptr) {
        TexPyramidDropMap(pyramid);
        return -1;
    }
    const int inset = pyramid.bordered ? 2 : 0;
    if (pyramid.bordered) {
        std::memset(pyramid.paddedMapSource, 0,
                    static_cast<std::size_t>(pyramid.paddedWidth) * pyramid.paddedHeight);
    }
    for (int y = 0; y < pyramid.height; ++y) {
        std::memcpy(pyramid.paddedMapSource +
                        static_cast<std::ptrdiff_t>(y + inset) * pyramid.paddedWidth + inset,
                    pixels + static_cast<std::ptrdiff_t>(y) * rowPitchBytes,
                    static_cast<std::size_t>(pyramid.width));
    }
    if (BuildMapLevel(pyramid, 0) != 0) {
        TexPyramidDropMap(pyramid);
        return -1;
    }
    return 0;
}

int TexPyramidBuildLevel(TexPyramid& pyramid, int k) {
    if (!TexPyramidHasImage(pyramid) || k < 0 || k >= TexPyramidLevelCount) return -1;
    if (BuildColourLevel(pyramid, k) != 0) return -1;
    if (TexPyramidHasMap(pyramid) && BuildMapLevel(pyramid, k) != 0) {
        // The shader reads the map entry beside the colour entry, so the two exist together.
        PrivateFreeAndClear(pyramid.colourLevels[k]);
        return -1;
    }
    return 0;
}

int TexPyramidBuildMagnified(TexPyramid& pyramid, int m) {
    if (!TexPyramidHasImage(pyramid) || m < 0 || m >= TexPyramidMagnifiedCount) return -1;
    pyramid.kernelWeights = TexPyramidMagnifyWeights(m);
    PrivateFreeAndClear(pyramid.colourMagnified[m]);
    pyramid.colourMagnified[m] = Magnify<std::uint32_t, 4>(
        pyramid.paddedSource, pyramid.paddedWidth, pyramid.paddedHeight, pyramid.kernelWeights);
    if (pyramid.colourMagnified[m] == nullptr) return -1;
    if (TexPyramidHasMap(pyramid)) {
        PrivateFreeAndClear(pyramid.mapMagnified[m]);
        pyramid.mapMagnified[m] = Magnify<std::uint8_t, 1>(
            pyramid.paddedMapSource, pyramid.paddedWidth, pyramid.paddedHeight,
            pyramid.kernelWeights);
        if (pyramid.mapMagnified[m] == nullptr) {
            PrivateFreeAndClear(pyramid.colourMagnified[m]);
            return -1;
        }
    }
    return 0;
}

std::array<std::int32_t, 4> TexPyramidMagnifyWeights(int m) {
    // n runs -3..3; the outer weights grow with n, and w2 is chosen so the four sum to 64.
    const int n = m - 3;
    const int w1 =
        n > 1 ? static_cast<int>(std::lround(3.0 * std::sqrt(n * (8.0 + n)))) - 2 * n : 3 * n + 4;
    const int w2 = n + 2 * (24 - w1);
    const int w3 = w1 + 2 * (8 - n);
    const int w4 = n;
    return {w1, w2, w3, w4};
}
