#pragma once

// SproutlingEngine is the state of the bot generator and animator. Each scene document
// creates exactly one and deletes it with itself; everything that grows, loads or animates a
// bot works on that one record.
//
// The record here holds what loading a legacy bot description needs: the eight parameter
// tables, the per-morph tables, the legacy record buffers and the mode words taken from a
// loaded part. The growth, update and draw steps add their state when they are built.

#include "core/private_block.h"

#include <array>
#include <cstdint>
#include <vector>

// Parameter tables: 13 rows of 22 floats; row 0 is the working row, a row whose float 0 is
// -1.0 is not in use.
inline constexpr std::uint32_t EngineParamTableCount = 8;
inline constexpr std::uint32_t EngineParamRowCount = 13;
inline constexpr std::uint32_t EngineParamColumnCount = 22;

// Per-morph tables: morphCapacity int32 entries each.
inline constexpr std::int32_t EngineMorphCapacity = 20;

// Size of each of the two stored part records (user objects 0 and 1).
inline constexpr std::uint32_t EngineStateRecordBytes = 1000;

// Buffer size of the legacy record in "A" form.
inline constexpr std::uint32_t EngineLegacyRecordBytes = 5000;

class SproutlingEngine {
public:
    // partBlockRef: the address of the document's part-block pointer; sceneScale: the
    // document's scene scale (kept as a float); docList: the document's list of engine
    // buffers, private-heap blocks that the document frees. Allocates every table from the
    // private heap; throws KVOutOfMemoryException when refused.
    SproutlingEngine(std::uint8_t** partBlockRef, double sceneScale, std::vector<void*>* docList);
    ~SproutlingEngine() = default;

    SproutlingEngine(const SproutlingEngine&) = delete;
    SproutlingEngine& operator=(const SproutlingEngine&) = delete;

    // Float 0 of row `row` of the first table (bt) becomes -1.0: the row is not in use.
    // Returns 1. Rows outside the table are left alone.
    std::int32_t ClearPartRow(std::uint32_t row);

    // Stores a copy of record (80 + 4n + e bytes) as user object 0 (which <= 0) or 1, after
    // setting the record's id to 0; with bit 7 of the mode word set nothing is copied.
    // Returns 0, or -1 (nothing stored) for a record larger than the 1,000-byte slot.
    std::int32_t StoreStateRecord(std::uint8_t* record, std::int32_t which);

    // Element (row, column) of parameter table `table`; all three must be in range.
    float& Param(std::uint32_t table, std::uint32_t row, std::uint32_t column);

    std::vector<void*>* docList = nullptr;
    float sceneScale = 0.0f;
    std::uint8_t** partBlockRef = nullptr;

    std::int32_t recordPickMode = 0;  // the loaded bot's settingC

    std::int32_t morphCapacity = EngineMorphCapacity;
    // Per-morph tables: parameter row of each morph (0 ends), flag, a third value, transition
    // kind (1 rigid, 2 points), transition length in frames.
    PrivateBlockPtr<std::int32_t> morphRows;
    PrivateBlockPtr<std::int32_t> morphFlags;
    PrivateBlockPtr<std::int32_t> morphAux;
    PrivateBlockPtr<std::int32_t> morphKinds;
    PrivateBlockPtr<std::int32_t> morphLengths;

    // bt, vt, yt, ft, deltaVa, deltaVb, freqVa, freqVb.
    std::array<PrivateBlockPtr<float>, EngineParamTableCount> paramTables;

    // The last legacy part in binary "A" form, and a copy of the description as it came.
    PrivateBlockPtr<std::uint8_t> legacyRecord;
    std::uint32_t legacyRecordLength = 0;
    PrivateBlockPtr<std::uint8_t> legacyCopy;
    std::uint32_t legacyCopyCapacity = 0;
    std::uint32_t legacyCopyLength = 0;
    std::uint16_t legacyPart = 0;

    // The two stored part records (shape type 0 while none is stored) and whether one was.
    PrivateBlockPtr<std::uint8_t> stateRecordA;
    PrivateBlockPtr<std::uint8_t> stateRecordB;
    std::uint16_t stateStored = 0;

    // The part records of the scene's objects that the user's bots are built from.
    std::vector<PrivateBlockPtr<std::uint8_t>> userPartRecords;

    // The mode word of the loaded part (bt row 0, float 0) and its parts.
    std::int32_t modeBits = 0;
    std::uint32_t modeHigh = 0;  // mode word AND 0xFFFFF000
    std::uint32_t modeMid = 0;   // mode word AND 0xFFC
};

// Loads one part of a legacy bot description (text, or a binary "A" or "@" record) into row
// `part` of the engine's parameter tables, keeping a copy of the description. Returns the
// mode word of the working row (>= 0 on success), or -5 when the description does not parse
// or `part` is not a row of the tables; throws KVOutOfMemoryException when the copy cannot
// be allocated.
std::int32_t LoadLegacyBotPart(SproutlingEngine& engine, const std::uint8_t* data,
                               std::int32_t length, std::uint32_t part);

// Parses a legacy description into row `part` (below 13) of the eight parameter tables.
// Returns 176, or -176 (text too short or long, too few lines or commas, a token over 255
// bytes), -2880 or -3204 (binary record of the wrong length), -64 (unknown first byte).
std::int32_t ParseLegacyBot(SproutlingEngine& engine, const std::uint8_t* data, std::int32_t length,
                            std::uint32_t part);
