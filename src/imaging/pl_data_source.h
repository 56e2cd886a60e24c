#pragma once

// The input of a decoder: the whole input as one block in memory with a read position.
// Decoders take pointers into the block and never copy it. Every read is checked against
// the block's size before the position moves, so no decoder can step past its data.

#include "imaging/pl_object.h"

#include <cstdint>
#include <string>
#include <string_view>

// Told how far a decode has come. A receiver may throw to abandon the decode: the exception
// leaves the decoding call unchanged, with everything the decode held released.
class PLProgressReceiver {
public:
    virtual ~PLProgressReceiver() = default;

    // The fraction of the work done, from 0 to 1, rising from one call to the next.
    virtual void OnProgress(double fraction) = 0;
};

class PLDataSource : public PLObject {
public:
    // A source that tells progress to the receiver (none when null), which must outlive it.
    explicit PLDataSource(PLProgressReceiver* progress = nullptr) : progressReceiver(progress) {}
    PLDataSource(const PLDataSource&) = delete;
    PLDataSource& operator=(const PLDataSource&) = delete;
    ~PLDataSource() override = default;

    // Releases the block; the source is empty afterwards.
    virtual void Close();

    // The bytes at the position, without moving it. Throws PLTextException code 11 ("End of
    // file reached while decoding.\n") when fewer than minBytes remain.
    const std::uint8_t* PeekBytes(std::int32_t minBytes) const;

    // The count bytes at the position, which then moves past them. Throws PLTextException
    // code 11 when fewer than count bytes remain (or count is negative); the position is
    // unchanged then. Each time the position passes a multiple of 1,024 bytes, the share of
    // the block read so far is reported as progress, and what the receiver throws passes on.
    const std::uint8_t* ReadBytes(std::int32_t count);

    // One byte, as ReadBytes (1).
    std::uint8_t ReadByte() { return *ReadBytes(1); }

    // The position as a pointer into the block.
    const std::uint8_t* GetCurrentPtr() const { return blockStart + bytesRead; }

    // Moves the position to an offset from the start of the block. Throws PLTextException
    // code 11 for an offset beyond the end or below 0; the position is unchanged then.
    void Seek(std::int32_t position);

    // Reports the fraction of the decode done to the receiver, when there is one and the
    // fraction is above the last reported since the block was opened. Throws what the
    // receiver throws.
    void ReportProgress(double fraction);

    // The name the source was opened under: the file name, "Mem", or "Wide" for a file
    // opened by a wide name, which GetWideName then gives.
    const std::string& GetName() const { return sourceName; }
    const std::u16string& GetWideName() const { return wideName; }
    bool IsWide() const { return isWide; }
    std::int32_t GetFileSize() const { return blockSize; }
    std::int32_t GetBytesRead() const { return bytesRead; }
    std::int32_t GetBytesLeft() const { return blockSize - bytesRead; }
    bool IsOpen() const { return blockStart != nullptr; }

    // Throws the end-of-data error: PLTextException code 11, "End of file reached while
    // decoding.\n".
    [[noreturn]] static void ThrowEndOfFile();

protected:
    // Presents the block at openStart of openSize bytes under openName, position 0.
    void OpenBlock(std::string_view openName, const std::uint8_t* openStart,
                   std::int32_t openSize);

    // Names the open block by a wide name: the name becomes "Wide".
    void NameWide(std::u16string_view openWideName);

private:
    PLProgressReceiver* progressReceiver = nullptr;
    double reportedProgress = 0.0;
    std::string sourceName;
    std::u16string wideName;
    bool isWide = false;
    const std::uint8_t* blockStart = nullptr;
    std::int32_t blockSize = 0;
    std::int32_t bytesRead = 0;
};
