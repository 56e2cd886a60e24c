#include "imaging/pl_data_sink.h"

#include "imaging/pl_text_exception.h"

#include <cstring>

namespace {

[[noreturn]] void ThrowOverflow() {
    throw PLTextException(PLErrEndOfFile, "Buffer overflow while encoding.\n");
}

}  // namespace

void PLDataSink::Close() {
    blockStart = nullptr;
    bytesWritten = 0;
    sinkName.clear();
    wideName.clear();
    isWide = false;
    blockCapacity = 0;
}

void PLDataSink::WriteBytes(const std::uint8_t* data, std::int32_t count) {
    Skip(count);
    if (count > 0) std::memcpy(blockStart + bytesWritten - count, data, static_cast<std::size_t>(count));
}

void PLDataSink::WriteByte(std::uint8_t value) {
    Skip(1);
    blockStart[bytesWritten - 1] = value;
}

void PLDataSink::Skip(std::int32_t count) {
    if (count < 0 || count > blockCapacity - bytesWritten) ThrowOverflow();
    bytesWritten += count;
}

void PLDataSink::OpenBlock(std::string_view openName, std::uint8_t* openStart,
                           std::int32_t openSize) {
    blockStart = openStart;
    bytesWritten = 0;
    sinkName = openName;
    wideName.clear();
    isWide = false;
    blockCapacity = openSize;
}

void PLDataSink::NameWide(std::u16string_view openWideName) {
    sinkName = "Wide";
    wideName = openWideName;
    isWide = true;
}
