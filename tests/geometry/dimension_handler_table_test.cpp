#include "geometry/dimension_handler_table.h"

#include "core/byte_order.h"
#include "core/colour.h"
#include "geometry/part_record.h"
#include "geometry/part_shape_build.h"
#include "geometry/primitive_record.h"
#include "geometry/scene_geometry.h"
#include "geometry/shape_surface_count.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

// A scene object stand-in: one record, built as part 0 of a container of its own, at the
// default scene scale of 100.
class TestTarget : public DimensionEditTarget {
public:
    explicit TestTarget(PartRecordPtr r) : record(std::move(r)) {
        const std::array<std::int32_t, 1> rooms{PartSurfaceLimit};
        geometry.AddParts(rooms, false);
    }

    std::uint8_t* GetPartRecord() const override { return record.get(); }
    void SetDimensionRun(const DimensionHandlerRow* rows, std::int32_t rowCount) override {
        run = DimensionRun{rows, rowCount};
    }
    double GetSceneScale() const override { return 100.0; }
    std::optional<Vec3> CommonScaleCentre() const override { return centre; }
    void ApplyPlacement(const Matrix4& m) override {
        placement = m;
        ++placements;
    }
    void MarkChangedAndRebuild() override { ++rebuilds; }
    std::int32_t BuildShape() override {
        ++builds;
        if (buildTest) return buildTest(record.get());
        return BuildPartShape(geometry, record.get(), 0, true, false, false);
    }

    float P(std::int32_t i) const { return PartRecordParam(record.get(), i); }
    void SetP(std::int32_t i, float v) { PartRecordSetParam(record.get(), i, v); }

    PartRecordPtr record;
    SceneGeometry geometry;
    DimensionRun run;
    std::optional<Vec3> centre;
    Matrix4 placement;
    std::int32_t placements = 0;
    std::int32_t rebuilds = 0;
    std::int32_t builds = 0;
    std::function<std::int32_t(const std::uint8_t*)> buildTest;
};

// A record of any shape type with the given parameters.
PartRecordPtr RecordOf(std::int32_t type, const std::vector<float>& params) {
    PartRecordPtr r =
        PrivateAllocBlock<std::uint8_t>(PartRecordFixedBytes + 4 * std::uint32_t(params.size()));
    StoreI32LE(r.get() + PartRecordShapeTypeOffset, type);
    StoreI32LE(r.get() + PartRecordParamCountOffset, std::int32_t(params.size()));
    for (std::size_t i = 0; i < params.size(); ++i) {
        PartRecordSetParam(r.get(), std::int32_t(i), params[i]);
    }
    return r;
}

const DimensionHandlerRow& RowOf(std::int32_t type, std::int32_t ordinal) {
    return DimensionRunForShapeType(ShapeType{type}).rows[ordinal];
}

bool Drag(TestTarget& t, std::int32_t type, std::int32_t ordinal, float amount) {
    const DimensionHandlerRow& row = RowOf(type, ordinal);
    return row.handler(t, row, amount, 0.001f, 1000000.0f);
}

TEST(DimensionHandlerTable, RunsByShapeType) {
    struct Case {
        std::int32_t type;
        std::int32_t rows;
        const char* second;
    };
    const Case cases[] = {
        {1, 2, "Radius"},  {2, 3, "Radius"},       {8, 3, "Radius"},    {14, 3, "Radius"},
        {18, 3, "Radius"}, {3, 4, "Width"},        {15, 4, "Width"},    {4, 4, "Length"},
        {16, 4, "Length"}, {5, 3, "Small Radius"}, {6, 5, "Thickness"}, {17, 5, "Thickness"},
        {7, 4, "Radius"},  {9, 4, "Width"},        {12, 3, "Length"},   {20, 7, "Length"},
        {21, 6, "Length"}, {22, 8, "Length"},      {23, 6, "Flare"},    {24, 6, "Outer Radius"},
        {25, 6, "Radius"}, {26, 1, nullptr},       {10, 1, nullptr},    {13, 1, nullptr},
        {29, 1, nullptr},  {0, 1, nullptr},        {99, 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const DimensionRun run = DimensionRunForShapeType(ShapeType{c.type});
        ASSERT_EQ(run.rowCount, c.rows);
        EXPECT_EQ(std::string(run.rows[0].name), "[Scale Local]");
        EXPECT_EQ(run.rows[0].flags, DimensionFlagScaleLocal);
        for (std::int32_t i = 0; i < run.rowCount; ++i) {
            EXPECT_EQ(run.rows[i].ordinal, i);
            EXPECT_NE(run.rows[i].handler, nullptr) << run.rows[i].name;
        }
        if (c.second != nullptr) {
            EXPECT_EQ(std::string(run.rows[1].name), c.second);
        }
    }
    EXPECT_EQ(DimensionHandlerTable().size(), 73u);
}

TEST(DimensionHandlers, StepsRoundHalfAwayFromZero) {
    EXPECT_EQ(DimensionSteps(0.0026f, 10000.0), 26);
    EXPECT_EQ(DimensionSteps(-0.0026f, 10000.0), -26);
    EXPECT_EQ(DimensionSteps(0.0125f, 200.0), 3);
    EXPECT_EQ(DimensionSteps(-0.0125f, 200.0), -3);
    EXPECT_EQ(DimensionSteps(0.0f, 200.0), 0);
    EXPECT_EQ(DimensionSteps(1e30f, 200.0), 2000000000);
}

TEST(DimensionHandlers, ScaleLocalClampsTheFactorAndScalesAboutTheCentre) {
    TestTarget t(NewPrimitive1(1.0, 0, 0, Vec3{1, 2, 3}, ColourFromBytes(1, 2, 3)));
    struct Case {
        float amount;
        double factor;
    };
    for (const Case c : {Case{-2.0f, 0.005}, Case{20.0f, 10.0}, Case{0.5f, 1.5}}) {
        SCOPED_TRACE(c.amount);
        ASSERT_TRUE(Drag(t, 1, 0, c.amount));
        EXPECT_NEAR(t.placement.m[0], c.factor, 1e-12);
        EXPECT_NEAR(t.placement.m[10], c.factor, 1e-12);
        // The part's own position stays where it is.
        EXPECT_NEAR(t.placement.m[3], 1.0 * (1 - c.factor), 1e-9);
        EXPECT_NEAR(t.placement.m[11], 3.0 * (1 - c.factor), 1e-9);
    }
    t.centre = Vec3{10, 0, 0};
    ASSERT_TRUE(Drag(t, 1, 0, 1.0f));
    EXPECT_NEAR(t.placement.m[3], -10.0, 1e-9);
    EXPECT_NEAR(t.placement.m[7], 0.0, 1e-9);
    EXPECT_EQ(t.placements, 4);
}

TEST(DimensionHandlers, SpheroidScaleScalesLengthAndWidth) {
    TestTarget t(RecordOf(12, {0, 0, 0, 0, 1, 0, 2, 0.5f}));
    ASSERT_TRUE(Drag(t, 12, 0, 1.0f));
    EXPECT_FLOAT_EQ(t.P(6), 4.0f);
    EXPECT_FLOAT_EQ(t.P(7), 1.0f);
    EXPECT_EQ(t.rebuilds, 1);
    EXPECT_EQ(t.placements, 0);
}

TEST(DimensionHandlers, BoundsOfTheClampingHandlers) {
    struct Case {
        const char* name;
        std::int32_t type;
        std::vector<float> params;
        std::int32_t ordinal;
        float amount;
        std::int32_t param;
        float expected;
    };
    const Case cases[] = {
        {"sphere offset stops below the clipped cap", 7, {1, 0.5f, 0}, 3, 5.0f, 2, 1.2499f},
        {"sphere offset not below 0", 7, {1, 0.5f, 0.2f}, 3, -5.0f, 2, 0.0f},
        {"clipping planes at most 2 (p2 + p0)", 7, {1, 0.5f, 0.2f}, 2, 5.0f, 1, 2.3999f},
        {"clipping planes at least 2 (p2 - p0)", 7, {1, 1.0f, 1.5f}, 2, -5.0f, 1, 1.0001f},
        {"flare floor", 23, {0, 1, 1, 0.5f, 1}, 1, -5.0f, 0, -1.3f},
        {"bevel curvature ceiling", 23, {0, 1, 1, 0.5f, 1}, 2, 10.0f, 1, 10.0f},
        {"bevel curvature floor", 23, {0, 1, 1, 0.5f, 1}, 2, -10.0f, 1, 0.001f / 0.999f},
        {"ring offset below outer + inner", 24, {2, 1, 1, 1, 0}, 5, 10.0f, 4, 2.99f},
        {"ring offset not below 0", 24, {2, 1, 1, 1, 0.5f}, 5, -10.0f, 4, 0.0f},
        {"ring outer radius floor", 24, {2, 1, 1, 1, 0.5f}, 1, -10.0f, 0, -0.49f},
        {"ring inner radius floor", 24, {2, 1, 1, 1, 0.5f}, 2, -10.0f, 1, -1.49f},
        {"ring flare ceiling", 24, {2, 1, 1, 1, 0}, 4, 10000.0f, 3, 10000.0f},
        {"ring flare floor", 24, {2, 1, 1, 1, 0}, 4, -10.0f, 3, 0.1f},
        {"bowl thickness stays inside the radius", 20, {1, 1, 0, 0.5f, 0, 0}, 3, -5.0f, 3, 0.99f},
        {"holed length floor", 25, {1, 1, 1, 1, 0.5f}, 2, -5.0f, 0, 0.01f},
        {"holed height floor", 25, {1, 1, 1, 1, 0.5f}, 5, -5.0f, 4, 0.01f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestTarget t(RecordOf(c.type, c.params));
        ASSERT_TRUE(Drag(t, c.type, c.ordinal, c.amount));
        EXPECT_NEAR(t.P(c.param), c.expected, 1e-5);
    }
}

TEST(DimensionHandlers, HandlersRefuseRecordsWithoutTheirParameters) {
    // Every row of every run, on a record of its type with no parameters at all: nothing is
    // written past the record, and only the local scale (which moves the placement) acts.
    for (std::int32_t type = 1; type <= 29; ++type) {
        const DimensionRun run = DimensionRunForShapeType(ShapeType{type});
        for (std::int32_t i = 1; i < run.rowCount; ++i) {
            SCOPED_TRACE(std::to_string(type) + " " + run.rows[i].name);
            TestTarget t(RecordOf(type, {}));
            EXPECT_FALSE(run.rows[i].handler(t, run.rows[i], 0.5f, 0.001f, 1e6f));
            EXPECT_EQ(t.builds, 0);
        }
    }
}

TEST(DimensionHandlers, EveryHandlerLeavesABuildableShape) {
    const Colour c = ColourFromBytes(200, 100, 50);
    const Vec3 o{0.5, -1, 2};
    struct Case {
        std::int32_t type;
        PartRecordPtr record;
    };
    std::vector<Case> cases;
    cases.push_back({1, NewPrimitive1(1, 1, 0, o, c)});
    cases.push_back({2, NewPrimitive2(false, 0.5, 2, 1, 0, o, c)});
    cases.push_back({14, NewPrimitive2(true, 0.5, 2, 1, 0, o, c)});
    cases.push_back({3, NewPrimitive3(false, 1, 2, 3, 1, 0, o, c)});
    cases.push_back({15, NewPrimitive3(true, 1, 2, 3, 1, 0, o, c)});
    cases.push_back({4, NewPrimitive4(false, 2, 1, 0.5, 1, 0, o, c)});
    cases.push_back({16, NewPrimitive4(true, 2, 1, 0.5, 1, 0, o, c)});
    cases.push_back({6, NewPrimitive6(false, 0.2, 2, 1, 0.5, 1, 0, o, c)});
    cases.push_back({17, NewPrimitive6(true, 0.2, 2, 1, 0.5, 1, 0, o, c)});
    cases.push_back({7, NewPrimitive7(1, 0.5, 0.2, 1, 0, o, c)});
    cases.push_back({8, NewPrimitive8(false, 2, 0.5, 1, 0, o, c)});
    cases.push_back({18, NewPrimitive8(true, 2, 0.5, 1, 0, o, c)});
    cases.push_back({9, NewPrimitive9(1, 2, 3, 1, 0, o, c)});
    for (Case& k : cases) {
        const DimensionRun run = DimensionRunForShapeType(ShapeType{k.type});
        for (std::int32_t i = 1; i < run.rowCount; ++i) {
            for (const float amount : {-10.0f, -0.3f, 0.3f, 10.0f}) {
                SCOPED_TRACE(std::to_string(k.type) + " " + run.rows[i].name + " " +
                             std::to_string(amount));
                TestTarget t(PartRecordCopy(k.record.get()));
                ASSERT_GE(t.BuildShape(), 0);
                run.rows[i].handler(t, run.rows[i], amount, 0.001f, 1000000.0f);
                EXPECT_GE(t.BuildShape(), 0);
            }
        }
    }
}

TEST(DimensionHandlers, SearchSettlesNextToTheFirstFailingStep) {
    // A bowl whose shape holds while its length stays below 1.00425: a drag of 0.01 (100
    // steps of 1/10000) settles on 42 steps, and the lengths that follow the length scale.
    TestTarget t(RecordOf(20, {1, 1, 0.4f, 0.5f, 0.2f, 0.1f}));
    t.buildTest = [](const std::uint8_t* r) { return PartRecordParam(r, 0) < 1.00425f ? 0 : -1; };
    ASSERT_TRUE(Drag(t, 20, 1, 0.01f));
    EXPECT_FLOAT_EQ(t.P(0), 1.0042f);
    EXPECT_FLOAT_EQ(t.P(2), 0.4f * 1.0042f);
    EXPECT_FLOAT_EQ(t.P(5), 0.1f * 1.0042f);
    EXPECT_LT(t.builds, 20);

    // Any drag within the bound is taken whole.
    TestTarget whole(RecordOf(20, {1, 1, 0.4f, 0.5f, 0.2f, 0.1f}));
    whole.buildTest = t.buildTest;
    ASSERT_TRUE(Drag(whole, 20, 1, -0.0026f));
    EXPECT_FLOAT_EQ(whole.P(0), 0.9974f);
    EXPECT_EQ(whole.builds, 1);
}

TEST(DimensionHandlers, SearchesFromAnUnbuildableStartEndAndRestore) {
    // Nothing builds: every searching row gives up within its bound, reports that it did not
    // act and leaves the record as the call found it. The bowl's radius and thickness rows
    // clamp without a search and act.
    struct Case {
        std::int32_t type;
        std::vector<float> params;
    };
    const Case cases[] = {
        {20, {1, 1, 0.4f, 0.5f, 0.2f, 0.1f}},
        // The neck searches of type 21 test the values, not a build: no neck they try
        // reaches a thousandth of these radii.
        {21, {1, 1000, 1000, 0, 0}},
        {22, {1, 0.2f, 1, 0.2f, 1, 0.3f, 0.5f}},
    };
    for (const Case& c : cases) {
        const DimensionRun run = DimensionRunForShapeType(ShapeType{c.type});
        for (std::int32_t i = 1; i < run.rowCount; ++i) {
            const DimensionHandlerRow& row = run.rows[i];
            SCOPED_TRACE(std::to_string(c.type) + " " + row.name);
            TestTarget t(RecordOf(c.type, c.params));
            t.buildTest = [](const std::uint8_t*) { return -1; };
            const std::uint32_t bytes = PartRecordBaseBytes(t.record.get());
            const std::vector<std::uint8_t> before(t.record.get(), t.record.get() + bytes);
            const bool acted = row.handler(t, row, 0.3f, 0.001f, 1e6f);
            const bool clamps = c.type == 20 && (i == 2 || i == 3);
            EXPECT_EQ(acted, clamps);
            if (!clamps) {
                EXPECT_EQ(std::vector<std::uint8_t>(t.record.get(), t.record.get() + bytes),
                          before);
            }
            EXPECT_LE(t.builds, 10 * DimensionSearchLimit);
        }
    }
}

TEST(DimensionHandlers, NeckTestAndRepair) {
    // Equal radii 1, length 1, cap depth -3: the neck must stay below about 1.0592.
    EXPECT_TRUE(Type21NeckValid(1, 1, 1, -3, 1.05));
    EXPECT_FALSE(Type21NeckValid(1, 1, 1, -3, 2));
    EXPECT_FALSE(Type21NeckValid(1, 1, 1, 0, 0.0005));
    EXPECT_TRUE(Type21NeckValid(1, 1, 1, 0, 0.5));

    double n = 2.0;
    ASSERT_TRUE(Type21FixNeckRadius(1, 1, 1, -3, n));
    EXPECT_NEAR(n, 1.058529, 1e-5);
    EXPECT_TRUE(Type21NeckValid(1, 1, 1, -3, n));
    double fine = 1.05;
    EXPECT_FALSE(Type21FixNeckRadius(1, 1, 1, -3, fine));
    EXPECT_EQ(fine, 1.05);
}

TEST(DimensionHandlers, CuttingPlaneOffsetNeedsItsParameter) {
    TestTarget t(RecordOf(20, {1, 1, 0.4f, 0.5f, 0.2f, 0.1f}));
    DimensionHandlerRow row = RowOf(20, 6);
    row.paramIndex = -1;
    EXPECT_FALSE(row.handler(t, row, 0.5f, 0.001f, 1e6f));
    EXPECT_EQ(t.builds, 0);
    EXPECT_FLOAT_EQ(t.P(5), 0.1f);
}

}  // namespace
