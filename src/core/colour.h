#pragma once

// The colour record of objects, lights, view settings and bots: red, green and blue in 0..1
// with the matching hue (degrees), saturation and value. Every setter of r, g, b also sets
// h, s, v, so the two halves always agree. Packed colours are 0xRRGGBB.

#include <cstdint>

struct Colour {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
    double h = 0.0;  // degrees, 0..360
    double s = 0.0;
    double v = 0.0;
};
static_assert(sizeof(Colour) == 48);

// Black, with h = s = v = 0.
Colour ColourZero();

// From byte channels 0..255 (each divided by 255).
Colour ColourFromBytes(std::int16_t r, std::int16_t g, std::int16_t b);

// From a packed 0xRRGGBB value. The bits above 23 are not masked off, so only values up to
// 0xFFFFFF give a red in 0..1.
Colour ColourFromRgb24(std::uint32_t packed);

// Sets r, g, b and derives h, s, v.
void ColourSetRgb(Colour& colour, double r, double g, double b);

// A copy of colour, all six channels.
Colour ColourCopy(const Colour& colour);

// floor(c * 255 + 0.5) of one channel, limited to 0..255.
std::uint8_t ColourRedByte(const Colour& colour);
std::uint8_t ColourGreenByte(const Colour& colour);
std::uint8_t ColourBlueByte(const Colour& colour);

// (red byte << 16) + (green byte << 8) + blue byte.
std::uint32_t ColourToRgb24(const Colour& colour);

// True when the red, green and blue bytes of the two colours are all equal.
bool ColourBytesEqual(const Colour& a, const Colour& b);

// The packed colour at half contrast about mid-grey: each byte is
// (trunc((c - 0.5) * 0.5 * 255 + 0.5) + 128) mod 256, so 0..1 maps to 65..192.
std::uint32_t PackRgbHalfContrast(const Colour& colour);

// RGB (0..1) to hue (degrees 0..360), saturation and value.
void RgbToHsv(double r, double g, double b, double& h, double& s, double& v);

// Hue (degrees), saturation and value to RGB. The hue is first reduced into [0, 360), NaN
// counting as 0, so the outputs are always written.
void HsvToRgb(double h, double s, double v, double& r, double& g, double& b);

// The lights' dimming blend: the input dimmed to value V * k in HSV, blended back toward the
// input channel by channel with the weights wr, wg, wb, then given the dimmed value again;
// each result channel is limited to [0, input channel].
void BlendColourHsv(double out[3], double r, double g, double b, double k, double wr, double wg,
                    double wb);
