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
    const std::int32_t before = bytesRead;
    bytesRead += count;
    if (progressReceiver != nullptr && bytesRead / 1024 > before / 1024) {
        ReportProgress(static_cast<double>(bytesRead) / blockSize);
    }
    return at;
}

void PLDataSource::ReportProgress(double fraction) {
    if (progressReceiver == nullptr || !(fraction > reportedProgress)) return;
    reportedProgress = fraction;
    progressReceiver->OnProgress(fraction);
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
    reportedProgress = 0.0;
}

void PLDataSource::NameWide(std::u16string_view openWideName) {
    sourceName = "Wide";
    wideName = openWideName;
    isWide = true;
}
