#include "render/star_field.h"

#include "core/lcg_random.h"
#include "core/private_block.h"
#include "geometry/scene_geometry.h"
#include "geometry/star_field.h"

#include <bit>

namespace {

constexpr std::int32_t ClusterStars = 32;
constexpr std::int32_t SpreadStep = 4;
constexpr double SizeStep = 0.95;
constexpr double FirstSpread = 0.5;

// A state as a coordinate in [-1, 1).
double Coordinate(std::uint32_t state) { return state * 4.656612873077393e-10 - 1.0; }

}  // namespace

std::uint32_t RandomPointInUnitBall(std::uint32_t state, std::array<double, 3>& point) {
    for (;;) {
        for (double& c : point) {
            state = LcgNext(state);
            c = Coordinate(state);
        }
        const double r2 = point[0] * point[0] + point[1] * point[1] + point[2] * point[2];
        if (r2 <= 1.0 && r2 != 0.0) return state;
    }
}

std::int32_t BuildStarField(SceneGeometry& geometry, std::int32_t seed, std::int32_t count,
                            double firstSize, double spreadFactor) {
    StarField& field = geometry.starField;
    field.stars.reset();
    field.count = 0;
    if (count <= 0) return seed;

    // The count is set only with the array, so a refused allocation leaves an empty field
    // rather than a count with nothing behind it.
    PrivateBlockPtr<Star> stars = PrivateAllocBlock<Star>(static_cast<std::uint32_t>(count));
    std::uint32_t state = std::bit_cast<std::uint32_t>(seed);
    std::array<double, 3> centre{};
    double size = firstSize;
    double spread = FirstSpread;
    for (std::int32_t i = 0; i < count; ++i) {
        std::array<double, 3> position{};
        if (i % ClusterStars == 0) {
            state = RandomPointInUnitBall(state, centre);
            position = centre;
            size = firstSize;
            spread = FirstSpread;
        } else {
            if (i % SpreadStep == 0) spread *= spreadFactor;
            std::array<double, 3> offset{};
            state = RandomPointInUnitBall(state, offset);
            for (std::size_t c = 0; c < 3; ++c) position[c] = centre[c] + offset[c] * spread;
            size *= SizeStep;
        }
        Star& star = stars.get()[i];
        star.x = static_cast<float>(position[0]);
        star.y = static_cast<float>(position[1]);
        star.z = static_cast<float>(position[2]);
        star.colour = 0xFFFFFF;
        star.size = static_cast<float>(size);
        state = LcgNext(state);
        star.random = static_cast<float>(state / 4294967295.0);
    }
    field.stars = std::move(stars);
    field.count = count;
    return std::bit_cast<std::int32_t>(state);
}
