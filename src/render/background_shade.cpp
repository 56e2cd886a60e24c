#include "render/background_shade.h"

#include "core/float_convert.h"
#include "render/shading_maths.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

inline std::int32_t ImageOffset(std::uint32_t image, int shift) {
    return static_cast<std::int32_t>((image >> shift) & 0xFF) - 128;
}

// The optical depth of one fog volume from the eye (or the volume's entry) to depth z along
// the ray r, whose quadric is A z^2 + 2 B z + C.
double FogVolumeDepth(const FogVolume& fog, bool isBounded, const Vec3& r, double z) {
    const auto& m = fog.form;
    const double a = r.x * (m[0] * r.x + m[1] * r.y + m[2] * r.z) +
                     r.y * (m[3] * r.x + m[4] * r.y + m[5] * r.z) +
                     r.z * (m[6] * r.x + m[7] * r.y + m[8] * r.z);
    const double b = Vec3Dot(fog.linear, r);
    const double c = fog.constant;
    const double density = fog.p[1];
    if (!isBounded) {
        // Density d / (Q(z) + p0^2 + p3^2), integrated from 0 to z.
        const double w = std::sqrt(
            std::max(0.0, (c + fog.p[0] * fog.p[0] + fog.p[3] * fog.p[3] - b * b / a) / a));
        return density / (w * a) * (FastAtan((b / a + z) / w) - FastAtan(b / (a * w)));
    }
    // Density d (1 / (Q + S) - 1 / S) inside Q <= 0, integrated from the entry to the exit
    // or the point.
    const double disc = b * b - a * c;
    if (disc <= 0.0) return 0.0;
    const double root = std::sqrt(disc);
    // Roots of A z^2 + 2 B z + C without cancellation: q = -(B + sign(B) sqrt(D)).
    const double q = b >= 0.0 ? -(b + root) : root - b;
    double z1 = q / a;
    double z2 = c / q;
    if (z1 > z2) std::swap(z1, z2);
    z1 = std::max(z1, 0.0);
    if (!(z > z1)) return 0.0;
    const double exit = std::min(z, z2);
    if (!(exit > z1)) return 0.0;
    const double s = (fog.p[2] * fog.p[4]) * (fog.p[2] * fog.p[4]) + fog.p[3] * fog.p[3];
    const double w = std::sqrt(std::max(0.0, (s + c - b * b / a) / a));
    return density * ((std::atan((b / a + exit) / w) - std::atan((b / a + z1) / w)) / (w * a) -
                      (exit - z1) / s);
}

}  // namespace

std::array<std::int32_t, 3> ShadeBackground(const ShadeSettings& settings, double x, double y) {
    if (!settings.isSkyGradient) {
        const std::uint32_t c = settings.backgroundColour;
        return {static_cast<std::int32_t>((c >> 16) & 0xFF) << 8,
                static_cast<std::int32_t>(c & 0xFF00), static_cast<std::int32_t>(c & 0xFF) << 8};
    }
    // t is the squared cosine between the ray and the up direction, so the gradient is the
    // same below the horizon; k shapes it: s = t / (k^2 (1 - t) + t).
    const Vec3& up = settings.skyUp;
    const double h = up.x * x + up.y * y + up.z;
    const double t = h * h / (x * x + y * y + 1.0);
    const double k = settings.gradientTan;
    const double s = t / (k * k * (1.0 - t) + t);
    const std::int32_t w = std::clamp(RoundScaledByPow2(s, 15), 0, 32768);
    const std::int64_t hw = 32768 - w;
    const std::int64_t horizon = settings.horizonColour;
    const std::int64_t zenith = settings.zenithColour;
    return {static_cast<std::int32_t>(
                (((horizon >> 16) & 0xFF) * hw + ((zenith >> 16) & 0xFF) * w) >> 7),
            static_cast<std::int32_t>(((horizon & 0xFF00) * hw + (zenith & 0xFF00) * w) >> 15),
            static_cast<std::int32_t>(((horizon & 0xFF) * hw + (zenith & 0xFF) * w) >> 7)};
}

std::int32_t DepthCueWeight(const ShadeSettings& settings, double distance, double x, double y) {
    if (!settings.isFogVolumes) {
        if (distance < settings.nearDepth) return DepthCueFull;
        if (distance >= settings.farDepth) return 0;
        // 16384 (3e^2 - 2e^3) in integers, with q = 16384 e - 8192 centred on halfway.
        const double e = (settings.farDepth - distance) / (settings.farDepth - settings.nearDepth);
        const std::int32_t q = RoundScaledByPow2(e, 14) - 8192;
        return q + ((((0x4000000 - q * q) >> 8) * q) >> 19) + 8192;
    }
    const Vec3 r{x, y, 1.0};
    const double length = std::sqrt(x * x + y * y + 1.0);
    const double z = distance / length;
    double tau = 0.0;
    for (const FogVolume& fog : settings.fogVolumes) {
        if (fog.isEnabled) tau += FogVolumeDepth(fog, settings.isBoundedFog, r, z);
    }
    if (tau == 0.0) return DepthCueFull;
    // 16384 x 2^-e with e = tau L / ln 2: the whole powers by a shift, the fraction by a
    // cubic through 1 at 0 and 0.5 at 1.
    const double e = tau * length / std::numbers::ln2;
    if (!(e < 1021.0)) return 0;
    // A slightly negative optical depth (rounding in a thin volume) still means no fog.
    if (e <= 0.0) return DepthCueFull;
    const std::int32_t n = TruncToInt32(e);
    const double f = e - n;
    const double ln2 = std::numbers::ln2;
    const double p = 1.0 - ln2 * f + (2.5 * ln2 - 1.5) * f * f + (1.0 - 1.5 * ln2) * f * f * f;
    const double weight = std::ldexp(16384.0 * p, -n);
    return TruncToInt32(weight + 0.5);
}

const std::uint32_t* BackgroundImageWord(const ShadeSettings& settings, std::int32_t level,
                                         std::int32_t column, std::int32_t row, std::int32_t width,
                                         std::int32_t height) {
    if (settings.backgroundMode == 0 || settings.backgroundImage == nullptr) return nullptr;
    if (width <= 0 || height <= 0) return nullptr;
    std::int64_t x = column;
    std::int64_t y = row;
    for (std::int32_t i = 0; i < level; ++i) {
        x = (x - 2) * 2;
        y = (y - 2) * 2;
    }
    x = std::clamp<std::int64_t>(x, 0, width - 1);
    y = std::clamp<std::int64_t>(y, 0, height - 1);
    return settings.backgroundImage + static_cast<std::size_t>(y) * settings.backgroundImageStride +
           static_cast<std::size_t>(x);
}

std::uint32_t OverBackgroundImage(std::uint32_t pixel, std::uint32_t image) {
    std::uint32_t out = 0;
    for (const int shift : {16, 8, 0}) {
        const std::int32_t c =
            static_cast<std::int32_t>((pixel >> shift) & 0xFF) + ImageOffset(image, shift);
        out |= static_cast<std::uint32_t>(std::clamp(c, 0, 255)) << shift;
    }
    return out;
}

std::uint32_t BoundaryOverBackgroundImage(const std::array<double, 3>& channels, double coverage,
                                          std::uint32_t alphaByte, std::uint32_t image) {
    const double uncovered = 1.0 - std::clamp(coverage, 0.0, 1.0);
    std::uint32_t out = alphaByte << 24;
    for (std::size_t c = 0; c < 3; ++c) {
        const int shift = 16 - 8 * static_cast<int>(c);
        const double v = channels[c] / 256.0 + ImageOffset(image, shift) * uncovered;
        out |= static_cast<std::uint32_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0)) << shift;
    }
    return out;
}
