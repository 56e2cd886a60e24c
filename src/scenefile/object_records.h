#pragma once

// Object records: the "KVR" element, whose "Obj" children each carry one part record
// attribute by attribute (its parameters as "P" children, its section block as a "QSect"
// child), as scene files, bot files and object files hold it; and the object-file reader.
//
// Every count read from a file is checked before anything is allocated for it: a negative
// parameter or section-part count, or one above its limit, refuses the element, so a file
// of a few bytes can never ask for gigabytes.

#include "core/private_block.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class XmlDocument;

// Part records, each in a private-heap block of its own (80 + 4n + e bytes).
using PartRecordList = std::vector<PrivateBlockPtr<std::uint8_t>>;

// Results of ReadQSect and LoadQSectFile.
inline constexpr std::int32_t QSectLoaded = 0;
inline constexpr std::int32_t QSectUnreadable = 1;  // not readable as XML nor as a part block
inline constexpr std::int32_t QSectNoRecords = 2;   // no "KVR" element

// The most parameters and section parts one record may have. The shape builders use a few
// dozen parameters and a handful of section parts; the limits only keep a hostile count from
// reaching the allocator.
inline constexpr std::int32_t ObjParamLimit = 4096;
inline constexpr std::int32_t SectionPartLimit = 4096;

// The most record bytes the "Obj" elements of a text of textBytes may make: 16 per byte of
// text and 1 MiB besides, never past what a part block can hold. A file written by the system
// makes fewer record bytes than it has text (each parameter is a "P" element of 15 bytes or
// more for 4 bytes of record); only counts far above the children a record has can reach it.
std::uint64_t ObjRecordBytesLimit(std::size_t textBytes);

// The section block a "QSect" child becomes: a 20-byte header {u16 version, u16 marker
// 0xFFFF, u32 block size 20 + 44 np, u32 part count np, 8 bytes zero} and np parts of 44
// bytes {f32 xs, ys, zs, rsq; f32 x 3 rot; f32 x 3 trans; u8 negate; 3 bytes zero}.
inline constexpr std::uint32_t SectionHeaderBytes = 20;
inline constexpr std::uint32_t SectionPartBytes = 44;
inline constexpr std::uint16_t SectionMarker = 0xFFFF;

// Which keys of an "Obj" element a reader takes besides the record's own: the object-file
// reader draws `ct` at random and gives `glv` 1.0 and `glc` 0xFFFFFF whatever the file
// says; the scene reader takes them from the file when present.
enum class ObjKeys { ObjectFile, Scene };

// The part record of the "Obj" element at position obj, placed at a uniform scale of
// 1 / scale (stored lengths to working lengths). Parameters come from the "P" children in
// order (a missing one leaves the rest 0); a "QSect" child becomes the extension block and
// sets the extension size, and without one the extension size is 0 whatever `e` says, so
// the record never claims bytes it does not have. Returns an empty pointer when `n` or
// `np` is negative or above its limit. A `ct` that is absent (or ignored) draws one value
// of the C runtime generator. Throws KVOutOfMemoryException.
PrivateBlockPtr<std::uint8_t> ReadObjRecord(const XmlDocument& xml, std::int32_t obj,
                                            ObjKeys keys, double scale);

// Empties records, then reads the "KVR" element at the document's current level (the next
// one after the current element) into one record per "Obj" child, each placed at
// 1 / scene scale; the document is left on the "KVR" element. Returns 0; 2 when there is
// no "KVR" (records stay empty); 1, with records empty, when an "Obj" has a refused count or
// the records pass ObjRecordBytesLimit.
// Throws KVOutOfMemoryException.
std::int32_t ReadQSect(PartRecordList& records, XmlDocument& xml);

// Reads the object file at path into records (emptied first): the "KVR" under the root of
// an XML file, or else the records of a binary part block in our byte order, each placed at
// 1 / scene scale. Returns 0; 1 when the path is empty or the file is neither (a part block
// whose marker is not ours, whose records run past its end or that holds fewer records than
// its header counts is refused whole); 2 when the XML has no "KVR" under its root. records
// holds nothing after a failure. Throws KVOutOfMemoryException.
std::int32_t LoadQSectFile(PartRecordList& records, std::string_view path);

// Registers LoadQSectFile as the object-file reader of the object containers.
void ScenefileInitProcess();
