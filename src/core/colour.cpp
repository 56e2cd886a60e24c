#include "core/colour.h"

#include "core/float_convert.h"

#include <cmath>

namespace {

std::uint8_t ChannelByte(double c) {
    const double scaled = std::floor(c * 255.0 + 0.5);
    // Both ends are clamped: a negative channel gives 0 instead of a wrapped byte.
    if (!(scaled > 0.0)) return 0;
    if (scaled > 255.0) return 255;
    return static_cast<std::uint8_t>(scaled);
}

std::uint32_t HalfContrastByte(double c) {
    const std::int32_t t = TruncToInt32((c - 0.5) * 0.5 * 255.0 + 0.5);
    // Added as unsigned: only the low byte is kept, and a channel far above 1 must not
    // overflow the signed sum.
    return (static_cast<std::uint32_t>(t) + 128u) & 0xFFu;
}

}  // namespace

void ColourSetRgb(Colour& colour, double r, double g, double b) {
    colour.r = r;
    colour.g = g;
    colour.b = b;
    RgbToHsv(r, g, b, colour.h, colour.s, colour.v);
}

Colour ColourZero() {
    Colour c;
    ColourSetRgb(c, 0.0, 0.0, 0.0);
    return c;
}

Colour ColourFromBytes(std::int16_t r, std::int16_t g, std::int16_t b) {
    Colour c;
    ColourSetRgb(c, r / 255.0, g / 255.0, b / 255.0);
    return c;
}

Colour ColourFromRgb24(std::uint32_t packed) {
    Colour c;
    ColourSetRgb(c, (packed >> 16) / 255.0, ((packed >> 8) & 255u) / 255.0,
                 (packed & 255u) / 255.0);
    return c;
}

Colour ColourCopy(const Colour& colour) { return colour; }

std::uint8_t ColourRedByte(const Colour& colour) { return ChannelByte(colour.r); }
std::uint8_t ColourGreenByte(const Colour& colour) { return ChannelByte(colour.g); }
std::uint8_t ColourBlueByte(const Colour& colour) { return ChannelByte(colour.b); }

std::uint32_t ColourToRgb24(const Colour& colour) {
    return (static_cast<std::uint32_t>(ColourRedByte(colour)) << 16) +
           (static_cast<std::uint32_t>(ColourGreenByte(colour)) << 8) + ColourBlueByte(colour);
}

bool ColourBytesEqual(const Colour& a, const Colour& b) {
    return ColourRedByte(a) == ColourRedByte(b) && ColourGreenByte(a) == ColourGreenByte(b) &&
           ColourBlueByte(a) == ColourBlueByte(b);
}

std::uint32_t PackRgbHalfContrast(const Colour& colour) {
    return (HalfContrastByte(colour.r) << 16) | (HalfContrastByte(colour.g) << 8) |
           HalfContrastByte(colour.b);
}

void RgbToHsv(double r, double g, double b, double& h, double& s, double& v) {
    double max = r > g ? r : g;
    double min = r < g ? r : g;
    if (b > max) max = b;
    if (b < min) min = b;
    v = max;
    if (max <= 1e-6) {
        s = 0.0;
        h = 0.0;
        return;
    }
    const double delta = max - min;
    s = delta / max;
    if (s == 0.0) {
        h = 0.0;
        return;
    }
    if (max == r) {
        h = (g - b) / delta;
    } else if (max == g) {
        h = 2.0 + (b - r) / delta;
    } else {
        h = 4.0 + (r - g) / delta;
    }
    h *= 60.0;
    if (h < 0.0) h += 360.0;
    if (h > 360.0) h = 360.0;
}

void HsvToRgb(double h, double s, double v, double& r, double& g, double& b) {
    if (s < 1e-6) {
        r = g = b = v;
        return;
    }
    // Any hue is reduced into [0, 360) first, so every branch below writes the outputs.
    if (std::isnan(h) || std::isinf(h)) h = 0.0;
    h = std::fmod(h, 360.0);
    if (h < 0.0) h += 360.0;
    if (h >= 360.0) h -= 360.0;

    h /= 60.0;
    const int i = static_cast<int>(h);
    const double f = h - i;
    const double p = (1.0 - s) * v;
    const double q = (1.0 - s * f) * v;
    const double t = (1.0 - s * (1.0 - f)) * v;
    switch (i) {
        case 0: r = v; g = t; b = p; break;
        case 1: r = q; g = v; b = p; break;
        case 2: r = p; g = v; b = t; break;
        case 3: r = p; g = q; b = v; break;
        case 4: r = t; g = p; b = v; break;
        default: r = v; g = p; b = q; break;
    }
}

void BlendColourHsv(double out[3], double r, double g, double b, double k, double wr, double wg,
                    double wb) {
    double h = 0.0, s = 0.0, v = 0.0;
    RgbToHsv(r, g, b, h, s, v);
    double dr = 0.0, dg = 0.0, db = 0.0;
    HsvToRgb(h, s, v * k, dr, dg, db);

    const double br = dr + (r - dr) * wr;
    const double bg = dg + (g - dg) * wg;
    const double bb = db + (b - db) * wb;
    double h1 = 0.0, s1 = 0.0, v1 = 0.0;
    RgbToHsv(br, bg, bb, h1, s1, v1);
    HsvToRgb(h1, s1, v * k, out[0], out[1], out[2]);

    const double input[3] = {r, g, b};
    for (int c = 0; c < 3; ++c) {
        if (out[c] < 0.0) {
            out[c] = 0.0;
        } else if (out[c] > input[c]) {
            out[c] = input[c];
        }
    }
}
