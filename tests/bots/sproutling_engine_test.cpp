#include "bots/sproutling_engine.h"

#include "core/byte_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// A text description: 176 numbers for the rows, then filler lines, at least 500 bytes, 25
// lines and 200 commas.
std::string TextDescription(std::int32_t mode) {
    std::string text;
    for (int i = 0; i < 176; ++i) text += (i == 0 ? std::to_string(mode) : std::to_string(i)) + ",";
    while (std::count(text.begin(), text.end(), '\r') < 25 || text.size() < 500 ||
           std::count(text.begin(), text.end(), ',') < 200) {
        text += "0,0\r\n";
    }
    return text;
}

TEST(SproutlingEngine, NewEngineHasNoRowInUse) {
    std::vector<void*> buffers;
    SproutlingEngine engine(nullptr, 100.0, &buffers);
    for (std::uint32_t row = 0; row < EngineParamRowCount; ++row) {
        EXPECT_EQ(engine.Param(0, row, 0), -1.0f);
    }
    EXPECT_EQ(engine.morphFlags.get()[11], 4);
    EXPECT_EQ(engine.morphKinds.get()[0], 2);
    EXPECT_EQ(engine.morphLengths.get()[5], 30);
    EXPECT_EQ(engine.morphRows.get()[0], 0);
    EXPECT_EQ(engine.sceneScale, 100.0f);
}

TEST(SproutlingEngine, ParseCodes) {
    std::vector<void*> buffers;
    SproutlingEngine engine(nullptr, 100.0, &buffers);
    std::vector<std::uint8_t> formA(3204, 0);
    formA[0] = 'A';
    std::vector<std::uint8_t> shortA(3203, 0);
    shortA[0] = 'A';
    std::vector<std::uint8_t> formAt(2880, 0);
    formAt[0] = '@';
    std::vector<std::uint8_t> formB(3204, 0);
    formB[0] = 'B';
    const std::string text = TextDescription(4);
    std::string shortText = text.substr(0, 499);
    std::string fewLines = text;
    std::replace(fewLines.begin(), fewLines.end(), '\r', ' ');

    struct Case {
        const char* name;
        std::vector<std::uint8_t> data;
        std::int32_t result;
    };
    const auto bytes = [](const std::string& s) {
        return std::vector<std::uint8_t>(s.begin(), s.end());
    };
    const Case cases[] = {
        {"A form", formA, 176},
        {"A form cut short", shortA, -3204},
        {"@ form", formAt, 176},
        {"unknown form", formB, -64},
        {"text", bytes(text), 176},
        {"text of 499 bytes", bytes(shortText), -176},
        {"text of one line", bytes(fewLines), -176},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            ParseLegacyBot(engine, c.data.data(), static_cast<std::int32_t>(c.data.size()), 1),
            c.result);
    }
}

TEST(SproutlingEngine, LoadsTextRowsColumnByColumn) {
    std::vector<void*> buffers;
    SproutlingEngine engine(nullptr, 100.0, &buffers);
    const std::string text = TextDescription(6);
    EXPECT_EQ(LoadLegacyBotPart(engine, reinterpret_cast<const std::uint8_t*>(text.data()),
                                static_cast<std::int32_t>(text.size()), 0),
              6);
    EXPECT_EQ(engine.Param(1, 0, 0), 1.0f);  // token 1: vt column 0
    EXPECT_EQ(engine.Param(0, 0, 1), 8.0f);  // token 8: bt column 1
    EXPECT_EQ(engine.Param(7, 0, 21), 175.0f);
    EXPECT_EQ(engine.legacyCopyLength, text.size());
    EXPECT_EQ(engine.modeMid, 4u);
}

TEST(SproutlingEngine, LoadsBinaryRowsAndKeepsTheRecordInAForm) {
    std::vector<void*> buffers;
    SproutlingEngine engine(nullptr, 100.0, &buffers);
    std::vector<std::uint8_t> record(2880, 0);
    record[0] = '@';
    StoreF32LE(record.data() + 12, 5.9f);
    StoreF32LE(record.data() + 12 + 4 * 22, 3.0f);  // vt column 0
    EXPECT_EQ(LoadLegacyBotPart(engine, record.data(), 2880, 0), 5);
    EXPECT_EQ(engine.Param(1, 0, 0), 3.0f);
    EXPECT_EQ(engine.legacyRecord.get()[0], 'A');
    EXPECT_EQ(engine.legacyRecordLength, 2880u);
    EXPECT_EQ(record[0], '@');  // the caller's record is left as it was
    EXPECT_EQ(LoadLegacyBotPart(engine, record.data(), 2880, 13), -5);
}

}  // namespace

namespace {

TEST(SproutlingEngineStateRecords, OversizedRecordsAreRefused) {
    std::uint8_t* block = nullptr;
    std::vector<void*> buffers;
    SproutlingEngine engine(&block, 100.0, &buffers);
    engine.Param(0, 0, 0) = 0.0f;
    std::vector<std::uint8_t> record(80 + 4 * 300, 0);
    StoreI32LE(record.data() + 28, 7);
    StoreI32LE(record.data() + 36, 300);
    StoreI32LE(record.data() + 40, 55);
    EXPECT_EQ(engine.StoreStateRecord(record.data(), 0), -1);
    EXPECT_EQ(LoadI32LE(engine.stateRecordA.get() + 28), 0);
    StoreI32LE(record.data() + 36, 2);
    EXPECT_EQ(engine.StoreStateRecord(record.data(), 1), 0);
    EXPECT_EQ(LoadI32LE(engine.stateRecordB.get() + 28), 7);
    EXPECT_EQ(LoadI32LE(record.data() + 40), 0);
    EXPECT_EQ(engine.stateStored, 1);
}

}  // namespace
