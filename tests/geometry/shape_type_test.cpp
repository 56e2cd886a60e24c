#include "geometry/shape_type.h"

#include <gtest/gtest.h>

namespace {

// Every stored number, including ones a damaged record may hold, against the two predicates:
// together they split 1..29 into the types placed by position and rotation and the six
// placed by their own parameters, and leave every other number out of both.
TEST(ShapeType, ValidityAndPlacementOverEveryStoredNumber) {
    for (std::int32_t value = -2; value <= 40; ++value) {
        SCOPED_TRACE(value);
        const ShapeType type{value};
        const bool placedByParameters =
            value == 10 || value == 11 || value == 12 || value == 26 || value == 27 || value == 28;
        EXPECT_EQ(ShapeTypeIsValid(type), value >= 1 && value <= 29);
        EXPECT_EQ(ShapeTypeIsPlacedByParameters(type), placedByParameters);
    }
    EXPECT_EQ(ShapeTypeIsValid(ShapeType{INT32_MIN}), false);
    EXPECT_EQ(ShapeTypeIsValid(ShapeType{INT32_MAX}), false);
}

}  // namespace
