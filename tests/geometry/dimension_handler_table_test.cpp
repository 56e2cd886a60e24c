#include "geometry/dimension_handler_table.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DimensionHandlerTable, RunsByShapeType) {
    struct Case {
        std::int32_t type;
        std::int32_t rows;
        const char* second;
    };
    const Case cases[] = {
        {1, 2, "Radius"},        {2, 3, "Radius"},        {8, 3, "Radius"},
        {14, 3, "Radius"},       {18, 3, "Radius"},       {3, 4, "Width"},
        {15, 4, "Width"},        {4, 4, "Length"},        {16, 4, "Length"},
        {5, 3, "Small Radius"},  {6, 5, "Thickness"},     {17, 5, "Thickness"},
        {7, 4, "Radius"},        {9, 4, "Width"},         {12, 3, "Length"},
        {20, 7, "Length"},       {21, 6, "Length"},       {22, 8, "Length"},
        {23, 6, "Flare"},        {24, 6, "Outer Radius"}, {25, 6, "Radius"},
        {26, 1, nullptr},        {10, 1, nullptr},        {13, 1, nullptr},
        {29, 1, nullptr},        {0, 1, nullptr},         {99, 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const DimensionRun run = DimensionRunForShapeType(ShapeType{c.type});
        ASSERT_EQ(run.rowCount, c.rows);
        EXPECT_EQ(std::string(run.rows[0].name), "[Scale Local]");
        EXPECT_EQ(run.rows[0].flags, DimensionFlagScaleLocal);
        for (std::int32_t i = 0; i < run.rowCount; ++i) EXPECT_EQ(run.rows[i].ordinal, i);
        if (c.second != nullptr) {
            EXPECT_EQ(std::string(run.rows[1].name), c.second);
        }
    }
    EXPECT_EQ(DimensionHandlerTable().size(), 73u);
}

}  // namespace
