#pragma once

// Object records: the "KVR" element, whose "Obj" children each carry one part record
// attribute by attribute (its parameters as "P" children, its section block as a "QSect"
// child, its seed point as a "ToadOp" child), as scene files, bot files and object files
// hold it; the object-file reader and the writer. The keys of the section parts and of the
// seed point are one table each, which reading and writing share.
//
// Every count read from a file is checked before anything is allocated for it: a negative
// parameter or section-part count, or one above its limit, refuses the element, so a file
// of a few bytes can never ask for gigabytes.

#include "core/private_block.h"
#include "model/q_morvan_object.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

class QDocumentBase;
class XmlDocument;
enum class SceneSaveMode : std::int32_t;  // scenefile/scene_file_writer.h

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

// The seed point of a part made from its record alone: the record's position, variant 11 of
// shape code 13 at level 11000, everything else zero.
std::array<std::uint8_t, SeedPointBytes> SeedPointFromRecord(const std::uint8_t* record);

// The seed point of the "ToadOp" element at position op over the record's position.
std::array<std::uint8_t, SeedPointBytes> SeedPointFromElement(const XmlDocument& xml,
                                                              std::int32_t op,
                                                              const std::uint8_t* record);

// Adds one "KVR" element after the document's current element (or as its parent's first
// child) with the part block header's version, group count and flags, and, unless mode is
// SceneSaveMode::ViewOnly, one "Obj" per scene object of document in collection order: the
// record placed at a uniform scale of `scale` (working lengths to stored lengths), its
// parameters, its section block when its extension holds one, and its seed point. Entry i of
// textureIndices and groupIndices belongs to object i: a texture index is written as "ti"
// only when it is 0 or more (no table: none is), a group index as "gi" whenever there is a
// table. "tb" is the index of the object's bot in the document's bot list in
// SceneSaveMode::Everything, else -1. While document is the current document its progress
// moves from the percentage it holds towards 100 minus it, object by object. Leaves xml on
// the "KVR" element. Throws std::bad_alloc.
void WriteQSect(QDocumentBase& document, XmlDocument& xml,
                std::span<const std::int32_t> textureIndices,
                std::span<const std::int32_t> groupIndices, SceneSaveMode mode, double scale);

// Registers LoadQSectFile as the object-file reader of the object containers, and it with
// ListFolderFiles as the file source of the preset shape library.
void ScenefileInitProcess();
