#pragma once

// The Exif block of a JPEG file (the data of its APP1 marker): the main image directory,
// the Exif sub-directory and, for Nikon, Olympus, Canon, Fujifilm and Casio cameras, the
// maker note, each entry turned into a tag with a key such as "Main.Make" or "Sub.FStop".
//
// Every directory, entry and value is checked against the block before it is read. A block
// that is not Exif holds no tags; a fault inside one (a bad format code, an oversized count,
// an offset outside the block) stops the reading, keeps the tags read before it and is
// reported by GetReadError, so a damaged block never stops the image from loading.

#include "imaging/pl_exif_tag.h"
#include "imaging/pl_exif_tag_table.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class PLExif {
public:
    PLExif() = default;
    PLExif(const PLExif&) = delete;
    PLExif& operator=(const PLExif&) = delete;

    // Forgets every tag and the block.
    void Clear();

    // Reads one APP1 block, replacing what was held. Throws only std::bad_alloc.
    void ReadData(std::span<const std::uint8_t> app1);

    // The tag of that key, in any case; null when the block has none.
    const PLExifTag* GetTag(std::string_view key) const;

    // Tags in reading order: all of them, and those of each directory.
    std::span<const PLExifTag* const> GetAllTags() const { return allTags; }
    std::span<const PLExifTag* const> GetMainTags() const { return mainTags; }
    std::span<const PLExifTag* const> GetSubTags() const { return subTags; }
    std::span<const PLExifTag* const> GetMakerNoteTags() const { return makerNoteTags; }

    // The block as read (empty for one that is not Exif), for writing back as APP1.
    std::span<const std::uint8_t> GetRawData() const { return data; }

    // True for a big-endian ("MM") block.
    bool IsBigEndian() const { return bigEndian; }

    // Empty when the block was read whole; else why the reading stopped.
    const std::string& GetReadError() const { return readError; }

private:
    void ReadBlock();
    void ReadMakerNote();
    void ReadIfd(std::size_t offset, PLExifTableId tableId, std::string_view prefix,
                 std::vector<const PLExifTag*>& list);
    void ExpandCanonArray(std::string_view arrayKey, PLExifTableId tableId, std::string_view prefix,
                          bool customFunctions);
    PLExifTag& AddTag(PLExifTag tag, std::vector<const PLExifTag*>& list);
    PLExifTag* FindTag(std::string_view key);
    std::uint16_t LoadU16(std::size_t position) const;
    std::uint32_t LoadU32(std::size_t position) const;

    std::vector<std::uint8_t> data;
    std::size_t baseOffset = 0;
    bool bigEndian = false;
    std::deque<PLExifTag> tags;
    std::vector<const PLExifTag*> allTags;
    std::vector<const PLExifTag*> mainTags;
    std::vector<const PLExifTag*> subTags;
    std::vector<const PLExifTag*> makerNoteTags;
    std::map<std::string, PLExifTag*, std::less<>> tagsByKey;
    std::string readError;
};
