#include "imaging/pl_data_source.h"

#include "imaging/pl_text_exception.h"

void PLDataSource::ThrowEndOfFile() {
    throw PLTextException(PLErrEndOfFile, "End of file reached while decoding.\n");
}

void PLDataSource::Close() {
    sourceName.clear();
    wideName.clear();
    isWide = false;
    blockStart = nullptr;
    blockSize = 0;
    bytesRead = 0;
}

const std::uint8_t* PLDataSource::PeekBytes(std::int32_t minBytes) const {
    if (minBytes < 0 || minBytes > GetBytesLeft()) ThrowEndOfFile();
    return GetCurrentPtr();
}

const std::uint8_t* PLDataSource::ReadBytes(std::int32_t count) {
    if (count < 0 || count > GetBytesLeft()) ThrowEndOfFile();
    const std::uint8_t* at = GetCurrentPtr();
    bytesRead += count;
    return at;
}

void PLDataSource::Seek(std::int32_t position) {
    if (position < 0 || position > blockSize) ThrowEndOfFile();
    bytesRead = position;
}

void PLDataSource::OpenBlock(std::string_view openName, const std::uint8_t* openStart,
                             std::int32_t openSize) {
    sourceName = openName;
    wideName.clear();
    isWide = false;
    blockStart = openStart;
    blockSize = openSize;
    bytesRead = 0;
}

void PLDataSource::NameWide(std::u16string_view openWideName) {
    sourceName = "Wide";
    wideName = openWideName;
    isWide = true;
}
