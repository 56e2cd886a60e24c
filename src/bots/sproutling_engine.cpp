#include "bots/sproutling_engine.h"

#include "core/byte_order.h"
#include "core/check.h"
#include "core/float_convert.h"
#include "geometry/part_record.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

constexpr std::uint32_t TableFloatCount = EngineParamRowCount * EngineParamColumnCount;

// Binary forms: the first byte names the form; the eight rows of the part follow a block tag
// and size, 22 little-endian floats each, in table order.
constexpr std::uint8_t FormA = 0x41;
constexpr std::uint8_t FormAt = 0x40;
constexpr std::int32_t FormABytes = 3204;
constexpr std::int32_t FormAtBytes = 2880;
constexpr std::uint32_t BinaryRowsOffset = 12;

// Text form limits.
constexpr std::int32_t TextMinBytes = 500;
constexpr std::int32_t TextMaxBytes = 5000;
constexpr std::int32_t TextMinLines = 25;
constexpr std::int32_t TextMinCommas = 200;
constexpr std::size_t TextMaxTokenBytes = 255;

constexpr std::int32_t ParseDone = 176;

bool IsTokenEnd(std::uint8_t c) { return c == ',' || c == '\r' || c == ':' || c == 0; }

// The C library's atol on a token: leading white space, an optional sign, decimal digits up
// to the first other byte. Values beyond int32 saturate instead of being undefined.
std::int32_t TokenToInt(std::string_view token) {
    std::size_t i = 0;
    while (i < token.size() && (token[i] == ' ' || (token[i] >= '\t' && token[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
    std::int64_t value = 0;
    for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
        value = std::min<std::int64_t>(value * 10 + (token[i] - '0'), 0x80000000LL);
    }
    if (negative) value = -value;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

std::int32_t ParseTextRows(SproutlingEngine& engine, const std::uint8_t* data, std::int32_t length,
                           std::uint32_t part) {
    const auto* end = data + length;
    if (std::count(data, end, std::uint8_t{'\r'}) < TextMinLines ||
        std::count(data, end, std::uint8_t{','}) < TextMinCommas) {
        return -ParseDone;
    }
    // The first 176 tokens are the part's rows, column by column across the eight tables.
    const std::uint8_t* p = data;
    for (std::uint32_t column = 0; column < EngineParamColumnCount; ++column) {
        for (std::uint32_t table = 0; table < EngineParamTableCount; ++table) {
            const std::uint8_t* start = p;
            while (p < end && !IsTokenEnd(*p)) ++p;
            const auto size = static_cast<std::size_t>(p - start);
            if (size > TextMaxTokenBytes || p == end) return -ParseDone;
            const std::string_view token(reinterpret_cast<const char*>(start), size);
            engine.Param(table, part, column) = static_cast<float>(TokenToInt(token));
            ++p;
        }
    }
    // The record in "A" form is written by the text reader's later stages; until then no
    // stale record of an earlier part stands for this one.
    engine.legacyRecordLength = 0;
    return ParseDone;
}

}  // namespace

SproutlingEngine::SproutlingEngine(std::uint8_t** blockRef, double scale, std::vector<void*>* list)
    : docList(list), sceneScale(static_cast<float>(scale)), partBlockRef(blockRef) {
    const auto capacity = static_cast<std::uint32_t>(morphCapacity);
    morphRows = PrivateAllocBlock<std::int32_t>(capacity);
    morphFlags = PrivateAllocBlock<std::int32_t>(capacity);
    morphAux = PrivateAllocBlock<std::int32_t>(capacity);
    morphKinds = PrivateAllocBlock<std::int32_t>(capacity);
    morphLengths = PrivateAllocBlock<std::int32_t>(capacity);
    for (std::int32_t i = 0; i < 12; ++i) {
        morphFlags.get()[i] = 4;
        morphKinds.get()[i] = 2;
        morphLengths.get()[i] = 30;
    }
    for (auto& table : paramTables) table = PrivateAllocBlock<float>(TableFloatCount);
    for (std::uint32_t row = 0; row < EngineParamRowCount; ++row) ClearPartRow(row);
    legacyRecord = PrivateAllocBlock<std::uint8_t>(EngineLegacyRecordBytes);
    stateRecordA = PrivateAllocBlock<std::uint8_t>(EngineStateRecordBytes);
    stateRecordB = PrivateAllocBlock<std::uint8_t>(EngineStateRecordBytes);
}

std::int32_t SproutlingEngine::StoreStateRecord(std::uint8_t* record, std::int32_t which) {
    StoreI32LE(record + PartRecordPartIdOffset, 0);
    stateStored = 1;
    if ((TruncToInt32(Param(0, 0, 0)) & 0x80) != 0) return 0;
    // The slots have a fixed size; a larger record is refused rather than written past them.
    const std::int32_t paramCount = LoadI32LE(record + PartRecordParamCountOffset);
    const std::uint64_t bytes = PartRecordFixedBytes +
                                4 * static_cast<std::uint64_t>(std::max(paramCount, 0)) +
                                LoadU32LE(record + PartRecordExtensionBytesOffset);
    if (paramCount < 0 || bytes > EngineStateRecordBytes) return -1;
    std::uint8_t* slot = which <= 0 ? stateRecordA.get() : stateRecordB.get();
    std::memcpy(slot, record, static_cast<std::size_t>(bytes));
    return 0;
}

std::int32_t SproutlingEngine::ClearPartRow(std::uint32_t row) {
    if (row < EngineParamRowCount) Param(0, row, 0) = -1.0f;
    return 1;
}

float& SproutlingEngine::Param(std::uint32_t table, std::uint32_t row, std::uint32_t column) {
    ORBELLE_CHECK(table < EngineParamTableCount && row < EngineParamRowCount &&
                  column < EngineParamColumnCount);
    return paramTables[table].get()[row * EngineParamColumnCount + column];
}

std::int32_t ParseLegacyBot(SproutlingEngine& engine, const std::uint8_t* data, std::int32_t length,
                            std::uint32_t part) {
    ORBELLE_CHECK(part < EngineParamRowCount);
    if (length <= 0) return -64;
    const std::uint8_t form = data[0];
    if (form < FormAt) {
        if (length < TextMinBytes || length > TextMaxBytes) return -ParseDone;
        return ParseTextRows(engine, data, length, part);
    }
    if (form == FormAt && length != FormAtBytes) return -FormAtBytes;
    if (form == FormA && length != FormABytes) return -FormABytes;
    if (form != FormA && form != FormAt) return -64;

    for (std::uint32_t table = 0; table < EngineParamTableCount; ++table) {
        for (std::uint32_t column = 0; column < EngineParamColumnCount; ++column) {
            const std::uint32_t offset =
                BinaryRowsOffset + 4 * (table * EngineParamColumnCount + column);
            engine.Param(table, part, column) = LoadF32LE(data + offset);
        }
    }
    // The record is kept in "A" form whichever binary form it came in.
    std::memcpy(engine.legacyRecord.get(), data, static_cast<std::size_t>(length));
    engine.legacyRecord.get()[0] = FormA;
    engine.legacyRecordLength = static_cast<std::uint32_t>(length);
    return ParseDone;
}

std::int32_t LoadLegacyBotPart(SproutlingEngine& engine, const std::uint8_t* data,
                               std::int32_t length, std::uint32_t part) {
    if (data == nullptr || length <= 0 || part >= EngineParamRowCount) return -5;

    // Keep a copy of the description as it came, in a buffer twice its size.
    engine.legacyCopyLength = 0;
    const auto size = static_cast<std::uint32_t>(length);
    if (!engine.legacyCopy || engine.legacyCopyCapacity < size) {
        engine.legacyCopy = PrivateAllocBlock<std::uint8_t>(2 * size);
        engine.legacyCopyCapacity = 2 * size;
    }
    engine.legacyCopyLength = size;
    std::memcpy(engine.legacyCopy.get(), data, size);

    if (ParseLegacyBot(engine, data, length, part) != ParseDone) return -5;

    engine.legacyPart = static_cast<std::uint16_t>(part);
    const std::int32_t mode = TruncToInt32(engine.Param(0, 0, 0));
    engine.modeBits = mode;
    engine.modeHigh = static_cast<std::uint32_t>(mode) & 0xFFFFF000u;
    engine.modeMid = static_cast<std::uint32_t>(mode) & 0xFFCu;
    return mode;
}
