#include "texture/object_tex.h"

#include "core/lcg_random.h"
#include "core/private_heap.h"
#include "texture/texture_params.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>

namespace {

constexpr double LogFloor = -30.0;

ProfileKind KindOf(const RevTex& r) { return static_cast<ProfileKind>(r.profile.type); }

bool KnownKind(std::int16_t type) { return type >= 0 && type <= 5; }

double SafeLog(double r) { return r > 0 ? std::max(std::log(r), LogFloor) : LogFloor; }

// Length measure of a profile point by the record's kind.
double Measure(double x, double y, const RevTex& r) {
    switch (KindOf(r)) {
        case ProfileKind::Elliptic:
        case ProfileKind::EllipticPolar:
            return ProfileCurveMeasure(x, y, r);
        case ProfileKind::HyperbolicPolar:
        case ProfileKind::Hyperbolic:
            return ProfileCurveMeasureHyperbolic(x, y, r);
        case ProfileKind::Parabolic:
            return ProfileCurveMeasureParabolic(x, y, r);
        case ProfileKind::Straight:
            break;
    }
    return 0;
}

// Sets length and lOffset of a curved surface from the measures at its two ends.
void MeasureEnds(RevTex& r) {
    const Rtp& p = r.profile;
    double m1 = Measure(p.r1, p.y1 - p.yOffset, r);
    double m2 = Measure(p.r2, p.y2 - p.yOffset, r);
    if (p.y1 >= p.y2) {
        m1 = -m1;
        m2 = -m2;
    }
    r.length = m2 - m1;
    r.lOffset = r.start - m1;
}

bool Finite(const Rtp& p) {
    for (double v : {p.yOffset, p.y1, p.y2, p.r1, p.r2, p.maxr, p.a, p.b}) {
        if (!std::isfinite(v)) return false;
    }
    return true;
}

std::optional<double> SteepPoint(const RevTex& r, bool forward);

}  // namespace

ObjectTex::ObjectTex(std::int32_t kind) : type(kind) { GrowRecords(1); }

ObjectTex::~ObjectTex() {
    if (records != nullptr) {
        for (int i = 0; i < recordCapacity; ++i) RevTexFree(records[i]);
        PrivateFree(records);
    }
}

void ObjectTex::GrowRecords(int count) {
    if (count <= recordCapacity) return;
    // Build the grown array aside so a refusal leaves the old one intact.
    auto* grown = static_cast<RevTex**>(
        PrivateAllocZeroed(static_cast<std::uint32_t>(sizeof(RevTex*)) * static_cast<std::uint32_t>(count)));
    if (records != nullptr) std::memcpy(grown, records, sizeof(RevTex*) * static_cast<std::size_t>(recordCapacity));
    PrivateFree(records);
    records = grown;
    const int old = recordCapacity;
    recordCapacity = count;
    for (int i = old; i < count; ++i) records[i] = RevTexAlloc();
}

UniRevTex::UniRevTex() : ObjectTex(1) {}

void UniRevTex::Build(std::span<const Rtp> profiles) {
    usable = false;
    const int count = static_cast<int>(std::min<std::size_t>(profiles.size(), RevTexMaxPieces));
    GrowRecords(count);
    numSurfs = count;
    length = inLen = 0;
    middleLength0 = middleLength1 = poleLength = 0;
    int perMap[2] = {count, 0};
    if (poleless) {
        perMap[0] = perMap[1] = 0;
        for (int i = 0; i < count; ++i) ++perMap[profiles[static_cast<std::size_t>(i)].map == 1 ? 1 : 0];
    }
    int seen[2] = {0, 0};
    for (int i = 0; i < count; ++i) {
        const Rtp& p = profiles[static_cast<std::size_t>(i)];
        if (!KnownKind(p.type) || !Finite(p)) continue;
        RevTex*& r = records[i];
        r->profile = p;
        r->lType = 1;
        r->start = length;
        if (KindOf(*r) == ProfileKind::Straight) {
            // Angle-preserving length of a cone is the log of the radius ratio over the slope;
            // a cylinder has no ratio, so its length is the distance in units of the radius.
            if (std::fabs(p.r2 - p.r1) > 1e-5 * std::max(p.r1, p.r2)) {
                r->length = (SafeLog(p.r2) - SafeLog(p.r1)) / p.a;
            } else {
                const double q = std::hypot(p.r2 - p.r1, p.y2 - p.y1) / p.r1;
                r->length = q * (1 - p.a * q / 2);
            }
            if (!std::isfinite(r->length)) r->length = 0;
        } else {
            RevTexGrow(r, RevTexOffsetSize);
            MeasureEnds(*r);
        }
        const int mapIndex = poleless && p.map == 1 ? 1 : 0;
        double& middle = mapIndex == 0 ? middleLength0 : middleLength1;
        if (seen[mapIndex] == perMap[mapIndex] / 2) {
            middle = length + (perMap[mapIndex] % 2 == 1 ? r->length / 2 : 0);
        }
        ++seen[mapIndex];
        length += r->length;
        if (poleless && p.map == 0) inLen = length;
    }
    // The pole: the first surface that reaches the axis.
    for (int i = 0; !poleless && i < count; ++i) {
        const RevTex& r = *records[i];
        const Rtp& p = r.profile;
        if (KindOf(r) == ProfileKind::Straight &&
            std::fabs(p.r2 - p.r1) >= std::fabs(p.y2 - p.y1) && std::min(p.r1, p.r2) <= 0) {
            poleLength = r.start;
            break;
        }
        // A hyperbola that meets the axis does so at its vertex, which the surface holds only
        // as an end of radius 0.
        if (KindOf(r) == ProfileKind::Hyperbolic && std::min(p.r1, p.r2) <= 1e-9 * p.a) {
            poleLength = Measure(0, p.b, r) + r.lOffset;
            break;
        }
        if (KindOf(r) == ProfileKind::Parabolic && p.a != 0) {
            const double q = std::fabs(p.a);
            poleLength = std::fabs(Measure(1 / q, 0.5 / q, r)) + r.lOffset;
            break;
        }
    }
    // The material's caps cover the flat ends: up to the first steep point and from the last.
    capStart = capEnd = middleLength0;
    for (int i = 0; !poleless && i < count; ++i) {
        if (auto at = SteepPoint(*records[i], true)) {
            capStart = *at;
            break;
        }
    }
    for (int i = count - 1; !poleless && i >= 0; --i) {
        if (auto at = SteepPoint(*records[i], false)) {
            capEnd = *at;
            break;
        }
    }
    usable = std::isfinite(length) && count > 0;
}

CustomRevTex::CustomRevTex() : ObjectTex(0) {}

CustomRevTex::~CustomRevTex() = default;

std::uint32_t CustomRevTex::NextRandom() {
    const std::uint32_t current = buildMarker;
    buildMarker = LcgNext(buildMarker);
    return current;
}

bool CustomRevTex::BuildRecords(std::span<const Rtp> profiles) {
    const int count = static_cast<int>(std::min<std::size_t>(profiles.size(), RevTexMaxPieces));
    GrowRecords(count);
    numSurfs = count;
    length = inLen = maxCirc1 = maxCirc2 = 0;
    for (int i = 0; i < count; ++i) {
        const Rtp& p = profiles[static_cast<std::size_t>(i)];
        if (!KnownKind(p.type) || !Finite(p)) return false;
        RevTex*& r = records[i];
        r->profile = p;
        r->lType = 0;
        r->start = length;
        const ProfileKind kind = KindOf(*r);
        if (kind == ProfileKind::Straight) {
            r->length = std::hypot(p.r2 - p.r1, p.y2 - p.y1);
        } else {
            if (kind == ProfileKind::Elliptic || kind == ProfileKind::EllipticPolar) {
                if (!RevTexBuildEllipticTables(r)) return false;
            } else if (kind == ProfileKind::Hyperbolic || kind == ProfileKind::HyperbolicPolar) {
                if (!RevTexBuildHyperbolicTables(r)) return false;
            }
            RevTexGrow(r, RevTexSlopeSize);
            r->slope = r->offset = 0;
            MeasureEnds(*r);
            // Pin the radius function to the profile's radii at both ends.
            if (r->length != 0) {
                const double rad1 = ProfileRadiusAt(r->start, *r, p.r1);
                const double rad2 = ProfileRadiusAt(r->start + r->length, *r, p.r2);
                r->slope = ((p.r2 - rad2) - (p.r1 - rad1)) / r->length;
                r->offset = (p.r1 - rad1) - r->slope * (r->start - r->lOffset);
            }
        }
        if (!std::isfinite(r->length) || r->length < 0) return false;
        length += r->length;
        const bool second = poleless && p.map == 1;
        if (poleless && p.map == 0) inLen = length;
        double& circ = second ? maxCirc2 : maxCirc1;
        circ = std::max(circ, p.maxr);
    }
    maxCirc1 *= 2 * std::numbers::pi;
    maxCirc2 *= 2 * std::numbers::pi;
    return count > 0;
}

namespace {

// The hyperbola's slope dy/dx is (b / a) tanh tau on the kind that meets the axis and
// (b / a) coth tau on the waisted kind: the first is steep beyond its 45-degree points, the
// second between them (never, or everywhere, when b / a keeps the slope on one side of 1).
// Both sides of the vertex or waist count, as |length - lOffset| against the points' measure.
std::optional<double> HyperbolicSteepPoint(const RevTex& r, bool forward) {
    const Rtp& p = r.profile;
    const double end = r.start + r.length;
    const bool meetsAxis = KindOf(r) == ProfileKind::Hyperbolic;
    const double across = meetsAxis ? p.a : p.b;
    const double along = meetsAxis ? p.b : p.a;
    if (!(across < along)) {
        if (meetsAxis) return std::nullopt;
        return forward ? r.start : end;
    }
    // sinh tau at the 45-degree point, where tanh tau = across / along.
    const double sigma = across / std::sqrt(along * along - across * across);
    const double c = std::sqrt(1 + sigma * sigma);
    const double reach = std::fabs(meetsAxis ? Measure(p.a * sigma, p.b * c, r)
                                             : Measure(p.a * c, p.b * sigma, r));
    const double lo = r.lOffset - reach;
    const double hi = r.lOffset + reach;
    if (!meetsAxis) {
        if (std::max(r.start, lo) > std::min(end, hi)) return std::nullopt;
        return forward ? std::max(r.start, lo) : std::min(end, hi);
    }
    if (forward) {
        if (r.start <= lo) return r.start;
        if (std::max(r.start, hi) <= end) return std::max(r.start, hi);
    } else {
        if (end >= hi) return end;
        if (std::min(end, lo) >= r.start) return std::min(end, lo);
    }
    return std::nullopt;
}

// The same for an ellipse under the angle-keeping measure: the profile is steep between its
// two 45-degree points (r, y) = (a^2, +-b^2) / sqrt(a^2 + b^2) about the equator.
std::optional<double> EllipticSteepPoint(const RevTex& r, bool forward) {
    const Rtp& p = r.profile;
    const double s = std::hypot(p.a, p.b);
    if (!(s > 0)) return std::nullopt;
    const double across = p.a * p.a / s;
    const double along = p.b * p.b / s;
    double lo = Measure(across, -along, r);
    double hi = Measure(across, along, r);
    if (p.y1 >= p.y2) {
        const double first = -hi;
        hi = -lo;
        lo = first;
    }
    lo += r.lOffset;
    hi += r.lOffset;
    const double end = r.start + r.length;
    if (forward) {
        if (r.start >= lo && r.start <= hi) return r.start;
        if (lo >= r.start && lo <= end) return lo;
    } else {
        if (end >= lo && end <= hi) return end;
        if (hi >= r.start && hi <= end) return hi;
    }
    return std::nullopt;
}

// Where the profile first turns steeper than 45 degrees, scanning forward (the start of the
// first steep part) or backward (the end of the last one).
std::optional<double> SteepPoint(const RevTex& r, bool forward) {
    const Rtp& p = r.profile;
    const double end = r.start + r.length;
    std::optional<double> at;
    if (r.lType != 0 &&
        (KindOf(r) == ProfileKind::Elliptic || KindOf(r) == ProfileKind::EllipticPolar)) {
        return EllipticSteepPoint(r, forward);
    }
    switch (KindOf(r)) {
        case ProfileKind::Straight:
            if (std::fabs(p.y2 - p.y1) > std::fabs(p.r2 - p.r1)) return forward ? r.start : end;
            return std::nullopt;
        case ProfileKind::Elliptic: {
            const double t = p.b / (std::hypot(p.a, p.b) + p.a);
            at = p.a * EvalPiecewiseCubic(r.firstTableBase, RevTexFirstTable(r), static_cast<float>(t)) +
                 r.lOffset;
            break;
        }
        case ProfileKind::Hyperbolic:
        case ProfileKind::HyperbolicPolar:
            return HyperbolicSteepPoint(r, forward);
        case ProfileKind::Parabolic:
            if (p.a == 0) return std::nullopt;
            at = std::fabs(Measure(1 / std::fabs(p.a), 0.5 / std::fabs(p.a), r)) + r.lOffset;
            break;
        default:
            return std::nullopt;
    }
    if (*at >= r.start && *at <= end) return at;
    if (forward && r.start > *at) return r.start;
    if (!forward && end < *at) return end;
    return std::nullopt;
}

}  // namespace

bool CustomRevTex::BuildBandsAndCaps() {
    const TextureParams* params = material;
    if (params == nullptr || params->image == nullptr || !TexPyramidHasImage(*params->image)) return false;
    // The tile size the builders aim at: half the image diagonal.
    tRad = 0.5 * std::hypot(params->image->width, params->image->height);
    TileMap& b0 = *band0;
    if (!poleless) {
        double lStart = 0;
        double lEnd = length;
        for (int i = 0; i < numSurfs; ++i) {
            if (auto at = SteepPoint(*records[i], true)) {
                lStart = *at;
                break;
            }
        }
        for (int i = numSurfs - 1; i >= 0; --i) {
            if (auto at = SteepPoint(*records[i], false)) {
                lEnd = *at;
                break;
            }
        }
        lEnd = std::min(lEnd, 0.999 * length);
        if (lEnd - lStart < 0.3333 * length) {
            const double k = 0.6667 * length / (length - lEnd + lStart);
            lStart *= k;
            lEnd = length - (length - lEnd) * k;
        }
        b0.lStart = lStart;
        b0.lEnd = lEnd;
        b0.mScale = tRad / (0.25 * length);
    } else {
        b0.lStart = 0;
        b0.lEnd = inLen;
        // The length term of map 0 is the tile diameter, as band 1 uses it.
        b0.mScale = std::max(0.5 * (2 * tRad) / (0.4 * inLen), params->scale);
        band1->mScale = tRad / (0.4 * (length - inLen));
    }
    b0.mScale = std::max(b0.mScale, params->scale);
    b0.OverLen1 = b0.OverLen2 = 0;
    VersaTex* versa = mapSet != nullptr ? static_cast<VersaTex*>(mapSet) : nullptr;
    if (versa != nullptr) versa->buildStage = 0;
    if (!BuildTileMap(b0)) return false;
    if (!poleless) {
        cap0->lInner = b0.lStart;
        cap1->lInner = length - b0.lEnd;
        return BuildPolarMap(*cap0) && BuildPolarMap(*cap1);
    }
    band1->mScale = std::max(band1->mScale, params->scale);
    band1->lStart = inLen;
    band1->lEnd = length;
    if (versa != nullptr) versa->buildStage = 1;
    return BuildTileMap(*band1);
}

void CustomRevTex::Build(std::span<const Rtp> profiles) {
    usable = false;
    if (mapSet == nullptr) {
        auto ensureBand = [this](std::unique_ptr<TileMap>& band, int ind) {
            if (!band) band = std::make_unique<TileMap>();
            band->ind = ind;
            band->owner = this;
        };
        auto ensureCap = [this](std::unique_ptr<PolarMap>& cap, int ind) {
            if (!cap) cap = std::make_unique<PolarMap>();
            cap->ind = ind;
            cap->owner = this;
        };
        if (!poleless) {
            ensureCap(cap0, 0);
            ensureCap(cap1, 1);
            ensureBand(band0, 0);
            band1.reset();
        } else {
            cap0.reset();
            cap1.reset();
            ensureBand(band0, 0);
            ensureBand(band1, 1);
        }
    }
    buildMarker = TexBuildMarker;
    if (!BuildRecords(profiles)) return;
    if ((!poleless && (!cap0 || !cap1 || !band0)) || (poleless && (!band0 || !band1))) return;
    usable = BuildBandsAndCaps();
}

VersaTex::VersaTex() {
    mapSet = this;
    band0 = std::make_unique<TileMap>();
    band0->owner = this;
    band1 = std::make_unique<TileMap>();
    band1->ind = 1;
    band1->owner = this;
    for (int i = 0; i < 2; ++i) {
        VTTMaps.push_back(std::make_unique<TileMap>());
        VTPMaps.push_back(std::make_unique<PolarMap>());
    }
}

VersaTex::~VersaTex() = default;

void VersaTex::Build(std::span<const Rtp> profiles) {
    CustomRevTex::Build(profiles);
    if (!usable || !poleless) return;
    usable = false;
    const TextureParams& params = *material;
    const int edgeCount = 2 * static_cast<int>(std::floor(std::clamp(params.pCircle, 0.0, 64.0))) + 2;

    VTPMaps.clear();
    edgeCapsToBuild = edgeCount;
    buildStage = 2;
    for (int i = 0; i < edgeCount; ++i) {
        auto cap = std::make_unique<PolarMap>();
        cap->ind = i % 2;
        cap->owner = this;
        cap->scale = params.scale;
        cap->lInner = 1.0;
        VTPMaps.push_back(std::move(cap));
        if (!BuildPolarMap(*VTPMaps.back())) return;
    }
    VTTMaps.clear();
    edgeBandsToBuild = edgeCount;
    buildStage = 3;
    for (int i = 0; i < edgeCount; ++i) {
        auto band = std::make_unique<TileMap>();
        band->ind = 1;
        band->owner = this;
        band->mScale = band0->mScale;
        band->OverLen1 = band->OverLen2 = tRad / band->mScale;
        band->lStart = 0;
        band->lEnd = band->OverLen1;
        VTTMaps.push_back(std::move(band));
        if (!BuildTileMap(*VTTMaps.back())) return;
    }
    edgeOfs = tRad * 0.5 / band0->mScale;
    edgeLen = tRad * 1.5 / band0->mScale;
    usable = true;
}
