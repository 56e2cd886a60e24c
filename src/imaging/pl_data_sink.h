#pragma once

// The output of an encoder: one block of fixed maximum size with a write position. A write
// that would pass the maximum throws and writes nothing; what was written before stays.

#include "imaging/pl_object.h"

#include <cstdint>
#include <string>
#include <string_view>

class PLDataSink : public PLObject {
public:
    PLDataSink() = default;
    PLDataSink(const PLDataSink&) = delete;
    PLDataSink& operator=(const PLDataSink&) = delete;
    ~PLDataSink() override = default;

    // Finishes the output and empties the sink.
    virtual void Close();

    // Copies count bytes at the position and moves it on. Throws PLTextException code 11
    // ("Buffer overflow while encoding.\n") when they do not fit.
    void WriteBytes(const std::uint8_t* data, std::int32_t count);

    // Stores one byte, under the same limit.
    void WriteByte(std::uint8_t value);

    // Moves the position over count bytes without writing them (they keep what the block
    // held, zero for a new block), under the same limit.
    void Skip(std::int32_t count);

    std::uint8_t* GetBufferStart() { return blockStart; }
    // The name the sink was opened under, "Wide" for a file opened by a wide name, which
    // GetWideName then gives.
    const std::string& GetName() const { return sinkName; }
    const std::u16string& GetWideName() const { return wideName; }
    bool IsWide() const { return isWide; }
    std::int32_t GetDataSize() const { return bytesWritten; }
    std::int32_t GetMaxDataSize() const { return blockCapacity; }
    bool IsOpen() const { return blockStart != nullptr; }

protected:
    // Writes into the block at openStart of openSize bytes under openName, position 0.
    void OpenBlock(std::string_view openName, std::uint8_t* openStart, std::int32_t openSize);

    // Names the open block by a wide name: the name becomes "Wide".
    void NameWide(std::u16string_view openWideName);

private:
    std::uint8_t* blockStart = nullptr;
    std::int32_t bytesWritten = 0;
    std::string sinkName;
    std::u16string wideName;
    bool isWide = false;
    std::int32_t blockCapacity = 0;
};
