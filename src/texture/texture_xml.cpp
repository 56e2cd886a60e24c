#include "texture/texture_xml.h"

#include "core/base64.h"
#include "core/byte_order.h"
#include "core/crc32.h"
#include "core/matrix4.h"
#include "core/number_text.h"
#include "core/private_heap.h"
#include "core/xml_document.h"
#include "core/xml_values.h"
#include "imaging/image_file.h"
#include "texture/object_tex.h"
#include "texture/q_texture.h"
#include "texture/q_texture_image.h"
#include "texture/tex_maps.h"
#include "texture/texture_document.h"
#include "texture/texture_import.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <numbers>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace {

// Limits on what a file may ask for: the cells of one map and a surface record's stored size.
constexpr std::int64_t MaxMapCells = std::int64_t{1} << 24;
constexpr std::int32_t MaxRevTexSize =
    static_cast<std::int32_t>(RevTexTableOffset + sizeof(CubicPiece) * 2 * RevTexMaxPieces);

// ---- Values ---------------------------------------------------------------------------

std::int32_t IntAt(const XmlDocument& xml, std::int32_t element, std::string_view name) {
    return TextToInt32(xml.GetAttributeAt(element, name));
}

double FloatAt(const XmlDocument& xml, std::int32_t element, std::string_view name) {
    return Base64ToFloat(xml.GetAttributeAt(element, name));
}

bool HasValue(const XmlDocument& xml, std::int32_t element, std::string_view name) {
    return !xml.GetAttributeAt(element, name).empty();
}

std::int32_t DataInt(const XmlDocument& xml, std::int32_t element) {
    return TextToInt32(xml.GetDataAt(element));
}

std::array<double, 3> VectorAt(const XmlDocument& xml, std::int32_t element,
                               std::string_view prefix) {
    std::string name(prefix);
    std::array<double, 3> v{};
    const char axes[3] = {'x', 'y', 'z'};
    for (std::size_t k = 0; k < 3; ++k) {
        name.resize(prefix.size());
        name += axes[k];
        v[k] = FloatAt(xml, element, name);
    }
    return v;
}

void SetFloat(XmlDocument& xml, std::string_view name, double value) {
    SetFloatAttribute(xml, name, static_cast<float>(value));
}

void SetInt(XmlDocument& xml, std::string_view name, std::int32_t value) {
    SetIntAttribute(xml, name, value);
}

// Attribute lists: each names a member; floating members are stored as float attributes,
// integer members as decimal text, in the order listed.
template <typename T, typename M>
struct Member {
    std::string_view name;
    M T::*field;
};

template <typename T, typename M, std::size_t N>
void WriteMembers(XmlDocument& xml, const T& object, const std::array<Member<T, M>, N>& members) {
    for (const Member<T, M>& m : members) {
        if constexpr (std::is_floating_point_v<M>) {
            SetFloat(xml, m.name, object.*m.field);
        } else {
            SetInt(xml, m.name, static_cast<std::int32_t>(object.*m.field));
        }
    }
}

template <typename T, typename M, std::size_t N>
void ReadMembers(const XmlDocument& xml, std::int32_t element, T& object,
                 const std::array<Member<T, M>, N>& members) {
    for (const Member<T, M>& m : members) {
        if constexpr (std::is_floating_point_v<M>) {
            object.*m.field = static_cast<M>(FloatAt(xml, element, m.name));
        } else {
            object.*m.field = static_cast<M>(IntAt(xml, element, m.name));
        }
    }
}

constexpr std::array<Member<TileMap, double>, 6> TileMapFloats{{{"mScale", &TileMap::mScale},
                                                                {"len", &TileMap::len},
                                                                {"OverLen1", &TileMap::OverLen1},
                                                                {"OverLen2", &TileMap::OverLen2},
                                                                {"lStart", &TileMap::lStart},
                                                                {"lEnd", &TileMap::lEnd}}};
constexpr std::array<Member<TileMap, std::int32_t>, 6> TileMapInts{{{"overCell1", &TileMap::overCell1},
                                                                    {"overCell2", &TileMap::overCell2},
                                                                    {"ind", &TileMap::ind},
                                                                    {"vcr", &TileMap::vcr},
                                                                    {"hcells", &TileMap::hcells},
                                                                    {"vcells", &TileMap::vcells}}};
constexpr std::array<Member<PolarMap, double>, 4> PolarMapFloats{{{"scale", &PolarMap::scale},
                                                                  {"logr", &PolarMap::logr},
                                                                  {"lInner", &PolarMap::lInner},
                                                                  {"lOuter", &PolarMap::lOuter}}};
constexpr std::array<Member<PolarMap, std::int32_t>, 2> PolarMapInts{
    {{"ind", &PolarMap::ind}, {"cells", &PolarMap::cellsPerSide}}};
constexpr std::array<Member<TexTile, float>, 7> TexTileFloats{{{"scale", &TexTile::scale},
                                                               {"ha", &TexTile::ha},
                                                               {"hd", &TexTile::hd},
                                                               {"va", &TexTile::va},
                                                               {"vd", &TexTile::vd},
                                                               {"ca", &TexTile::ca},
                                                               {"cd", &TexTile::cd}}};
constexpr std::array<Member<IndLink, std::int32_t>, 2> IndLinkInts{
    {{"ind", &IndLink::ind}, {"next", &IndLink::next}}};
constexpr std::array<Member<RevTex, double>, 3> RevTexFloats{
    {{"length", &RevTex::length}, {"start", &RevTex::start}, {"lOffset", &RevTex::lOffset}}};
constexpr std::array<Member<RevTex, std::int32_t>, 2> RevTexInts{
    {{"lType", &RevTex::lType}, {"size", &RevTex::size}}};
constexpr std::array<Member<Rtp, double>, 9> RtpFloats{{{"yOffset", &Rtp::yOffset},
                                                        {"y1", &Rtp::y1},
                                                        {"y2", &Rtp::y2},
                                                        {"r1", &Rtp::r1},
                                                        {"r2", &Rtp::r2},
                                                        {"thresh", &Rtp::thresh},
                                                        {"maxr", &Rtp::maxr},
                                                        {"a", &Rtp::a},
                                                        {"b", &Rtp::b}}};
constexpr std::array<Member<Rtp, std::int16_t>, 3> RtpShorts{
    {{"type", &Rtp::type}, {"map", &Rtp::map}, {"obs", &Rtp::obs}}};
constexpr std::array<Member<Rtp, std::uint8_t>, 2> RtpBytes{
    {{"axiRad", &Rtp::axiRad}, {"less", &Rtp::less}}};
constexpr std::array<Member<VersaTex, double>, 7> VersaFloats{{{"edgeOfs", &VersaTex::edgeOfs},
                                                               {"edgeLen", &VersaTex::edgeLen},
                                                               {"tRad", &VersaTex::tRad},
                                                               {"maxCirc1", &VersaTex::maxCirc1},
                                                               {"maxCirc2", &VersaTex::maxCirc2},
                                                               {"length", &VersaTex::length},
                                                               {"inLen", &VersaTex::inLen}}};
constexpr std::array<Member<VersaTex, std::int32_t>, 2> VersaInts{
    {{"type", &VersaTex::type}, {"numSurfs", &VersaTex::numSurfs}}};
constexpr std::array<Member<VersaTex, std::uint8_t>, 1> VersaBytes{{{"poleless", &VersaTex::poleless}}};

// ---- Map tables -----------------------------------------------------------------------

template <typename T>
T* CopyToPrivateHeap(const std::vector<T>& items) {
    if (items.empty()) return nullptr;
    auto* block = static_cast<T*>(
        PrivateAlloc(static_cast<std::uint32_t>(items.size() * sizeof(T))));
    std::memcpy(block, items.data(), items.size() * sizeof(T));
    return block;
}

// Raw cell heads as little-endian 32-bit words; false when the text does not decode to
// exactly count words.
bool ReadCellWords(const XmlDocument& xml, std::int32_t element, std::int64_t count,
                   std::int32_t*& cells) {
    const std::vector<std::uint8_t> bytes = Base64Decode(xml.GetDataAt(element));
    if (static_cast<std::int64_t>(bytes.size()) != count * 4) return false;
    if (count == 0) return true;
    cells = static_cast<std::int32_t*>(PrivateAlloc(static_cast<std::uint32_t>(count * 4)));
    for (std::int64_t i = 0; i < count; ++i) cells[i] = LoadI32LE(bytes.data() + 4 * i);
    return true;
}

std::string CellWordsToBase64(const std::int32_t* cells, std::int64_t count) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count) * 4);
    for (std::int64_t i = 0; i < count; ++i) StoreI32LE(bytes.data() + 4 * i, cells[i]);
    return Base64Encode(bytes);
}

// The "Heaps" and "Tiles" children shared by both map kinds, each looked for after the one
// found before; `after` is the element to start from.
template <typename Map>
void ReadLinksAndTiles(const XmlDocument& xml, std::int32_t element, std::int32_t after,
                       Map& map) {
    std::vector<IndLink> links;
    if (const std::int32_t heaps = xml.FindElementPath(element, after, "Heaps"); heaps != 0) {
        after = heaps;
        for (std::int32_t link = xml.FindElementPath(heaps, 0, "IndLink"); link != 0;
             link = xml.FindElementPath(heaps, link, "IndLink")) {
            ReadMembers(xml, link, links.emplace_back(), IndLinkInts);
        }
    }
    std::vector<TexTile> tiles;
    if (const std::int32_t group = xml.FindElementPath(element, after, "Tiles"); group != 0) {
        for (std::int32_t tile = xml.FindElementPath(group, 0, "TexTile"); tile != 0;
             tile = xml.FindElementPath(group, tile, "TexTile")) {
            ReadMembers(xml, tile, tiles.emplace_back(), TexTileFloats);
        }
    }
    map.heaps = CopyToPrivateHeap(links);
    map.heapCount = map.heapCapacity = static_cast<std::int32_t>(links.size());
    map.tiles = CopyToPrivateHeap(tiles);
    map.tileCount = map.tileCapacity = static_cast<std::int32_t>(tiles.size());
}

// The shader follows every chain from a cell head to -1 and reads each link's tile: every
// head and next link must name a link or end the chain, no chain may loop, and every link
// must name a tile.
template <typename Map>
bool LinksAreSound(const Map& map, std::int64_t cellCount) {
    const std::int32_t linkCount = map.heapCount;
    for (std::int64_t i = 0; i < cellCount; ++i) {
        if (map.cells[i] < -1 || map.cells[i] >= linkCount) return false;
    }
    for (std::int32_t i = 0; i < linkCount; ++i) {
        const IndLink& link = map.heaps[i];
        if (link.ind < 0 || link.ind >= map.tileCount) return false;
        if (link.next < -1 || link.next >= linkCount) return false;
    }
    // 0 unvisited, 1 on the walk in progress, 2 known to end.
    std::vector<std::uint8_t> state(static_cast<std::size_t>(linkCount), 0);
    for (std::int32_t start = 0; start < linkCount; ++start) {
        std::int32_t at = start;
        while (at != -1 && state[static_cast<std::size_t>(at)] == 0) {
            state[static_cast<std::size_t>(at)] = 1;
            at = map.heaps[at].next;
        }
        if (at != -1 && state[static_cast<std::size_t>(at)] == 1) return false;
        for (at = start; at != -1 && state[static_cast<std::size_t>(at)] == 1;
             at = map.heaps[at].next) {
            state[static_cast<std::size_t>(at)] = 2;
        }
    }
    return true;
}

template <typename Map>
void WriteLinksAndTiles(XmlDocument& xml, const Map& map) {
    if (map.heaps != nullptr) {
        xml.AddElement("Heaps");
        xml.EnterElement();
        for (std::int32_t i = 0; i < map.heapCount; ++i) {
            xml.AddElement("IndLink");
            WriteMembers(xml, map.heaps[i], IndLinkInts);
        }
        xml.LeaveElement();
    }
    if (map.tiles != nullptr) {
        xml.AddElement("Tiles");
        xml.EnterElement();
        for (std::int32_t i = 0; i < map.tileCount; ++i) {
            xml.AddElement("TexTile");
            WriteMembers(xml, map.tiles[i], TexTileFloats);
        }
        xml.LeaveElement();
    }
}

void FreeMapBuffersOf(TileMap& map) { FreeTileMap(map); }
void FreeMapBuffersOf(PolarMap& map) { FreePolarMap(map); }

// Cell heads of a map, -1 when its stated sizes are negative.
std::int64_t CellCount(const TileMap& map) {
    if (map.hcells < 0 || map.vcells < 0) return -1;
    return static_cast<std::int64_t>(map.hcells) * map.vcells;
}

std::int64_t CellCount(const PolarMap& map) {
    if (map.cellsPerSide < 0) return -1;
    return 4 * static_cast<std::int64_t>(map.cellsPerSide) * map.cellsPerSide;
}

// Both map kinds: their attributes, then the cell table, the links and the tiles.
template <typename Map, std::size_t F, std::size_t I>
void WriteMap(XmlDocument& xml, const Map& map, std::string_view name, std::string_view cellsName,
              const std::array<Member<Map, double>, F>& floats,
              const std::array<Member<Map, std::int32_t>, I>& ints) {
    xml.AddElement(name);
    WriteMembers(xml, map, floats);
    WriteMembers(xml, map, ints);
    xml.EnterElement();
    if (map.cells != nullptr) xml.AddElement(cellsName, CellWordsToBase64(map.cells, CellCount(map)));
    WriteLinksAndTiles(xml, map);
    xml.LeaveElement();
}

template <typename Map, std::size_t F, std::size_t I>
bool ReadMap(const XmlDocument& xml, std::int32_t element, Map& map, std::string_view cellsName,
             const std::array<Member<Map, double>, F>& floats,
             const std::array<Member<Map, std::int32_t>, I>& ints) {
    FreeMapBuffersOf(map);
    ReadMembers(xml, element, map, floats);
    ReadMembers(xml, element, map, ints);
    const std::int64_t cellCount = CellCount(map);
    if (cellCount < 0 || cellCount > MaxMapCells) return false;
    std::int32_t after = 0;
    if (const std::int32_t cells = xml.FindElementPath(element, 0, cellsName); cells != 0) {
        if (!ReadCellWords(xml, cells, cellCount, map.cells)) return false;
        after = cells;
    }
    ReadLinksAndTiles(xml, element, after, map);
    return LinksAreSound(map, map.cells != nullptr ? cellCount : 0);
}

// ---- The saved mapping ----------------------------------------------------------------

void WriteRevTex(XmlDocument& xml, const RevTex& record) {
    xml.AddElement("RevTex");
    WriteMembers(xml, record, RevTexFloats);
    WriteMembers(xml, record, RevTexInts);
    xml.EnterElement();
    xml.AddElement("Rtp");
    WriteMembers(xml, record.profile, RtpFloats);
    WriteMembers(xml, record.profile, RtpShorts);
    WriteMembers(xml, record.profile, RtpBytes);
    xml.LeaveElement();
}

// Fills a surface record from a "RevTex" element; false when the record is unusable.
bool ReadRevTex(const XmlDocument& xml, std::int32_t element, RevTex*& record) {
    if (const std::int32_t rtp = xml.FindElementPath(element, 0, "Rtp"); rtp != 0) {
        ReadMembers(xml, rtp, record->profile, RtpFloats);
        ReadMembers(xml, rtp, record->profile, RtpShorts);
        ReadMembers(xml, rtp, record->profile, RtpBytes);
    }
    const std::int16_t kind = record->profile.type;
    if (kind < 0 || kind > 5) return false;
    // The arc-length tables are not stored; they follow from a and b alone.
    if ((kind == 0 || kind == 1) && !RevTexBuildEllipticTables(record)) return false;
    if ((kind == 3 || kind == 4) && !RevTexBuildHyperbolicTables(record)) return false;
    ReadMembers(xml, element, *record, RevTexFloats);
    ReadMembers(xml, element, *record, RevTexInts);
    return record->size >= 0 && record->size <= MaxRevTexSize;
}

void FreeRecords(ObjectTex& mapping) {
    if (mapping.records != nullptr) {
        for (std::int32_t i = 0; i < mapping.recordCapacity; ++i) RevTexFree(mapping.records[i]);
        PrivateFree(mapping.records);
    }
    mapping.records = nullptr;
    mapping.recordCapacity = 0;
    mapping.numSurfs = 0;
}

// Reads one slot pair ("CRTMaps" or "CRPMaps"): the group's children fill slot 0, then slot
// 1; a slot without a child is emptied.
template <typename Map, typename ReadFn>
bool ReadSlots(const XmlDocument& xml, std::int32_t group, std::string_view childName,
               std::unique_ptr<Map>& slot0, std::unique_ptr<Map>& slot1, CustomRevTex* owner,
               ReadFn read) {
    std::int32_t child = xml.FindElementPath(group, 0, childName);
    for (std::unique_ptr<Map>* slot : {&slot0, &slot1}) {
        if (child == 0) {
            slot->reset();
            continue;
        }
        if (!*slot) *slot = std::make_unique<Map>();
        (*slot)->owner = owner;
        if (!read(xml, child, **slot)) return false;
        child = xml.FindElementPath(group, child, childName);
    }
    return true;
}

// Rebuilds the saved mapping as written; null when anything in it is unusable.
std::unique_ptr<VersaTex> ReadVersa(const XmlDocument& xml, std::int32_t versaElement,
                                    TextureParams& params) {
    auto versa = TranslateBadAlloc([] { return std::make_unique<VersaTex>(); });
    versa->VTTMaps.clear();
    versa->VTPMaps.clear();
    FreeRecords(*versa);
    versa->material = &params;
    ReadMembers(xml, versaElement, *versa, VersaFloats);
    ReadMembers(xml, versaElement, *versa, VersaInts);
    ReadMembers(xml, versaElement, *versa, VersaBytes);
    const std::int32_t surfaceCount = versa->numSurfs;
    versa->numSurfs = 0;
    if (surfaceCount < 0 || surfaceCount > RevTexMaxPieces) return nullptr;

    std::int32_t after = 0;
    auto nextGroup = [&](std::string_view name) {
        const std::int32_t group = xml.FindElementPath(versaElement, after, name);
        if (group != 0) after = group;
        return group;
    };
    if (const std::int32_t group = nextGroup("VTTMaps"); group != 0) {
        for (std::int32_t child = xml.FindElementPath(group, 0, "TileMap"); child != 0;
             child = xml.FindElementPath(group, child, "TileMap")) {
            versa->VTTMaps.push_back(std::make_unique<TileMap>());
            versa->VTTMaps.back()->owner = versa.get();
            if (!ReadTileMap(xml, child, *versa->VTTMaps.back())) return nullptr;
        }
    }
    if (const std::int32_t group = nextGroup("VTPMaps"); group != 0) {
        for (std::int32_t child = xml.FindElementPath(group, 0, "PolarMap"); child != 0;
             child = xml.FindElementPath(group, child, "PolarMap")) {
            versa->VTPMaps.push_back(std::make_unique<PolarMap>());
            versa->VTPMaps.back()->owner = versa.get();
            if (!ReadPolarMap(xml, child, *versa->VTPMaps.back())) return nullptr;
        }
    }
    if (const std::int32_t group = nextGroup("CRTMaps"); group != 0) {
        if (!ReadSlots(xml, group, "TileMap", versa->band0, versa->band1, versa.get(), ReadTileMap)) {
            return nullptr;
        }
    }
    if (const std::int32_t group = nextGroup("CRPMaps"); group != 0) {
        if (!ReadSlots(xml, group, "PolarMap", versa->cap0, versa->cap1, versa.get(), ReadPolarMap)) {
            return nullptr;
        }
    }
    // The shader needs the slots its kind of mapping uses.
    if (!versa->band0 || (versa->poleless ? !versa->band1 : (!versa->cap0 || !versa->cap1))) {
        return nullptr;
    }

    const std::int32_t surf = nextGroup("Surf");
    if (surfaceCount > 0 && surf == 0) return nullptr;
    if (surfaceCount > 0) {
        versa->records = static_cast<RevTex**>(
            PrivateAllocZeroed(static_cast<std::uint32_t>(sizeof(RevTex*) * surfaceCount)));
        versa->recordCapacity = surfaceCount;
        versa->numSurfs = surfaceCount;
        std::int32_t element = 0;
        for (std::int32_t i = 0; i < surfaceCount; ++i) {
            versa->records[i] = RevTexAlloc();
            element = xml.FindElementPath(surf, element, "RevTex");
            if (element == 0 || !ReadRevTex(xml, element, versa->records[i])) return nullptr;
        }
    }
    versa->MarkRestored();
    return versa;
}

void WriteVersa(XmlDocument& xml, const VersaTex& versa) {
    xml.AddElement("Versa");
    WriteMembers(xml, versa, VersaFloats);
    WriteMembers(xml, versa, VersaInts);
    WriteMembers(xml, versa, VersaBytes);
    xml.EnterElement();
    if (!versa.VTTMaps.empty()) {
        xml.AddElement("VTTMaps");
        xml.EnterElement();
        for (const auto& map : versa.VTTMaps) WriteTileMap(xml, *map);
        xml.LeaveElement();
    }
    if (!versa.VTPMaps.empty()) {
        xml.AddElement("VTPMaps");
        xml.EnterElement();
        for (const auto& map : versa.VTPMaps) WritePolarMap(xml, *map);
        xml.LeaveElement();
    }
    xml.AddElement("CRTMaps");
    xml.EnterElement();
    for (const TileMap* map : {versa.band0.get(), versa.band1.get()}) {
        if (map != nullptr) WriteTileMap(xml, *map);
    }
    xml.LeaveElement();
    xml.AddElement("CRPMaps");
    xml.EnterElement();
    for (const PolarMap* map : {versa.cap0.get(), versa.cap1.get()}) {
        if (map != nullptr) WritePolarMap(xml, *map);
    }
    xml.LeaveElement();
    xml.AddElement("Surf");
    xml.EnterElement();
    const std::int32_t surfaceCount = std::min(versa.numSurfs, versa.recordCapacity);
    for (std::int32_t i = 0; i < surfaceCount; ++i) {
        if (versa.records[i] != nullptr) WriteRevTex(xml, *versa.records[i]);
    }
    xml.LeaveElement();
    xml.LeaveElement();
}

// ---- The image ------------------------------------------------------------------------

// Pixels read from an "Image" element, before they become an image.
struct ImagePixels {
    PrivateBlockPtr<std::uint32_t> pixels;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool premultiplied = false;
};

bool UsableImageSize(std::int32_t width, std::int32_t height) {
    return width > 0 && height > 0 &&
           static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4 <=
               std::numeric_limits<std::uint32_t>::max();
}

// Reads "ImgBuf" (raw words with "Width" and "Height", or a TIFF blob) or else "Bits".
// Returns false when an element is there but cannot be read; out.pixels stays null when
// there is none.
bool ReadImagePixels(const XmlDocument& xml, std::int32_t imageElement, ImagePixels& out) {
    const std::int32_t imgBuf = xml.FindElementPath(imageElement, 0, "ImgBuf");
    if (imgBuf != 0 && HasValue(xml, imgBuf, "Width")) {
        const std::int32_t width = IntAt(xml, imgBuf, "Width");
        const std::int32_t height = IntAt(xml, imgBuf, "Height");
        if (!UsableImageSize(width, height)) return false;
        const std::vector<std::uint8_t> bytes = Base64Decode(xml.GetDataAt(imgBuf));
        const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        if (bytes.size() != count * 4) return false;
        out.pixels = PrivateAllocBlock<std::uint32_t>(static_cast<std::uint32_t>(count));
        for (std::size_t i = 0; i < count; ++i) out.pixels.get()[i] = LoadU32LE(bytes.data() + 4 * i);
        out.width = width;
        out.height = height;
        out.premultiplied = false;
        return true;
    }
    const std::int32_t blob = imgBuf != 0 ? imgBuf : xml.FindElementPath(imageElement, 0, "Bits");
    if (blob == 0) return true;
    const std::vector<std::uint8_t> bytes = Base64Decode(xml.GetDataAt(blob));
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return false;
    }
    std::uint8_t* raw = nullptr;
    std::int32_t stride = 0;
    std::string errorText;
    if (LoadImageFile("argb", out.width, raw, {}, bytes.data(), static_cast<std::int32_t>(bytes.size()),
                      out.premultiplied, out.height, stride, errorText) != ImageFileOk) {
        return false;
    }
    out.pixels.reset(reinterpret_cast<std::uint32_t*>(raw));
    return out.pixels != nullptr && UsableImageSize(out.width, out.height) && stride == out.width * 4;
}

// Writes the "Image" element; false when the colour image could not be encoded, so the
// element lacks it.
bool WriteImage(XmlDocument& xml, const QTexture& texture) {
    bool isWhole = true;
    xml.AddElement("Image");
    xml.EnterElement();
    if (const QTextureImage* image = texture.Image(); image != nullptr) {
        if (!image->imageName.empty()) xml.AddElement("iName", image->imageName);
        xml.AddElement("iForceAlpha", image->forceAlpha != 0 ? "1" : "0");
        std::int32_t width = 0;
        std::int32_t height = 0;
        if (TexPyramidHasImage(*image->pyramid)) {
            bool premultiplied = false;
            if (auto colour = image->CopyColorBuffer(width, height, premultiplied)) {
                std::uint32_t size = 0;
                PrivateBlockPtr<std::uint8_t> stream(EncodeTiffToMemory(
                    "argb", reinterpret_cast<const std::uint8_t*>(colour.get()), width, height,
                    width * 4, true, premultiplied ? 1 : 0, size));
                if (stream) {
                    xml.AddElement("ImgBuf", BytesToBase64(stream.get(), size));
                } else {
                    isWhole = false;
                }
            }
        }
        if (auto bump = image->CopyBumpBuffer(width, height)) {
            xml.AddElement("BumpBuf", BytesToBase64(bump.get(), static_cast<std::size_t>(width) *
                                                                  static_cast<std::size_t>(height)));
        }
    }
    // The record keeps the transform homogeneous coordinate first; the file holds the
    // columns of its 3x3 part and its translation.
    const Matrix4 m = FromWFirstMatrix(texture.params->transform);
    xml.AddElement("transform");
    for (int k = 0; k < 4; ++k) {
        const double column[3] = {m.m[k], m.m[4 + k], m.m[8 + k]};
        const std::string prefix = "itC" + IntToString(k + 1);
        WriteVectorAttributes(xml, prefix, column);
    }
    xml.LeaveElement();
    return isWhole;
}

Matrix4W ReadTransform(const XmlDocument& xml, std::int32_t element) {
    Matrix4 m;
    for (int k = 0; k < 4; ++k) {
        const std::array<double, 3> column = VectorAt(xml, element, "itC" + IntToString(k + 1));
        m.m[k] = column[0];
        m.m[4 + k] = column[1];
        m.m[8 + k] = column[2];
    }
    return ToWFirstMatrix(m);
}

// ---- Reading aside --------------------------------------------------------------------

// What a texture element sets on the texture itself: name, type and the material values it
// carries. They are read into a copy and reach the texture only together with the element's
// image, so an element that fails leaves the texture as it was.
struct ElementFields {
    std::string name;
    std::uint8_t type = 1;
    TextureParams values;  // only the fields the element carries; never a mapping or image
};

// Calls visit(a.field, b.field) for every material value the element carries.
template <typename ParamsA, typename ParamsB, typename Visit>
void ForEachElementValue(ParamsA& a, ParamsB& b, Visit visit) {
    visit(a.spf, b.spf);
    visit(a.spa, b.spa);
    visit(a.scale, b.scale);
    visit(a.cTiles, b.cTiles);
    visit(a.pCircle, b.pCircle);
    visit(a.ta, b.ta);
    visit(a.taR, b.taR);
    visit(a.d, b.d);
    visit(a.Bump, b.Bump);
    visit(a.on, b.on);
    visit(a.glc, b.glc);
    visit(a.glv, b.glv);
    visit(a.transform, b.transform);
}

ElementFields FieldsOf(const QTexture& texture) {
    ElementFields fields;
    fields.name = texture.name;
    fields.type = texture.type;
    ForEachElementValue(fields.values, *texture.params,
                        [](auto& to, const auto& from) { to = from; });
    return fields;
}

// Exchanges the fields with the texture's; never throws.
void SwapFields(ElementFields& fields, QTexture& texture) noexcept {
    fields.name.swap(texture.name);
    std::swap(fields.type, texture.type);
    ForEachElementValue(fields.values, *texture.params,
                        [](auto& x, auto& y) noexcept { std::swap(x, y); });
}

// Puts the element's fields on the texture for the import, which builds the mapping from
// them, and takes them back again unless the read commits.
class FieldsOnTrial {
public:
    FieldsOnTrial(ElementFields& read, QTexture& target) : fields(read), texture(target) {
        SwapFields(fields, texture);
    }
    ~FieldsOnTrial() {
        if (!isCommitted) SwapFields(fields, texture);
    }
    FieldsOnTrial(const FieldsOnTrial&) = delete;
    FieldsOnTrial& operator=(const FieldsOnTrial&) = delete;

    void Commit() { isCommitted = true; }

private:
    ElementFields& fields;
    QTexture& texture;
    bool isCommitted = false;
};

// Reads the direct children of the element into fields; a missing child leaves what fields
// held.
void ReadFields(const XmlDocument& xml, std::int32_t root, ElementFields& fields) {
    TextureParams& params = fields.values;
    auto child = [&](std::string_view name, std::int32_t after = 0) {
        return xml.FindElementPath(root, after, name);
    };
    if (const std::int32_t e = child("Name"); e != 0) fields.name = xml.GetDataAt(e);
    if (const std::int32_t e = child("Type"); e != 0) fields.type = DataInt(xml, e) == 1 ? 1 : 0;
    if (const std::int32_t e = child("Specular"); e != 0) {
        params.spf = FloatAt(xml, e, "spf");
        params.spa = FloatAt(xml, e, "spa");
    }
    if (const std::int32_t e = child("ObjMap"); e != 0) {
        params.scale = FloatAt(xml, e, "scale");
        params.cTiles = FloatAt(xml, e, "cTiles");
        params.pCircle = FloatAt(xml, e, "pCircle");
        if (HasValue(xml, e, "ta")) params.ta = std::min(FloatAt(xml, e, "ta"), 2 * std::numbers::pi);
        if (HasValue(xml, e, "taR")) params.taR = std::min(FloatAt(xml, e, "taR"), std::numbers::pi);
        if (HasValue(xml, e, "d")) params.d = IntAt(xml, e, "d") == 1 ? 1 : 0;
        if (params.d == 0) params.ta = params.taR = std::numbers::pi;
    }
    const std::int32_t bump = child("Bump");
    if (bump != 0) params.Bump = DataInt(xml, bump);
    if (const std::int32_t e = child("Glow", bump); e != 0) {
        params.on = static_cast<std::uint8_t>(IntAt(xml, e, "on"));
        if (HasValue(xml, e, "glc")) params.glc = static_cast<std::uint32_t>(IntAt(xml, e, "glc"));
        params.glv = FloatAt(xml, e, "glv");
    }
}

}  // namespace

// ---- Maps -----------------------------------------------------------------------------

void WriteTileMap(XmlDocument& xml, const TileMap& map) {
    WriteMap(xml, map, "TileMap", "Cells", TileMapFloats, TileMapInts);
}

bool ReadTileMap(const XmlDocument& xml, std::int32_t element, TileMap& map) {
    return ReadMap(xml, element, map, "Cells", TileMapFloats, TileMapInts);
}

void WritePolarMap(XmlDocument& xml, const PolarMap& map) {
    WriteMap(xml, map, "PolarMap", "CellArr", PolarMapFloats, PolarMapInts);
}

bool ReadPolarMap(const XmlDocument& xml, std::int32_t element, PolarMap& map) {
    return ReadMap(xml, element, map, "CellArr", PolarMapFloats, PolarMapInts);
}

// ---- The texture element --------------------------------------------------------------

int WriteTextureXml(QTexture& texture, XmlDocument& xml, bool withPreview) {
    // The picture is drawn before anything is added, so a failing draw leaves xml as it was.
    if (withPreview && !texture.previewPixels) RenderTexturePreview(texture, PreviewRebuildMode);
    const TextureParams& params = *texture.params;
    // A picture that cannot be encoded is left out, but the element is still written whole
    // around it so the document stays usable; the result tells the caller, whose file would
    // otherwise come back without the image.
    bool isWhole = true;
    xml.AddElement("KV_TEXTURE");
    xml.SetAttribute(xml.CurrentPosition(), "version", "1.0");
    xml.EnterElement();
    if (withPreview && texture.previewPixels) {
        std::uint32_t size = 0;
        PrivateBlockPtr<std::uint8_t> stream(EncodeTiffToMemory(
            "argb", reinterpret_cast<const std::uint8_t*>(texture.previewPixels.get()),
            texture.previewWidth, texture.previewHeight, texture.previewStride, true, 1, size));
        if (stream) {
            xml.AddElement("MIN", BytesToBase64(stream.get(), size));
            SetInt(xml, "w", texture.previewWidth);
            SetInt(xml, "h", texture.previewHeight);
        } else {
            isWhole = false;
        }
    }
    xml.AddElement("Name", texture.name);
    xml.AddElement("Type", texture.type != 0 ? "1" : "0");
    xml.AddElement("Specular");
    SetFloat(xml, "spf", params.spf);
    SetFloat(xml, "spa", params.spa);
    xml.AddElement("ObjMap");
    SetFloat(xml, "scale", params.scale);
    SetFloat(xml, "cTiles", params.cTiles);
    SetFloat(xml, "pCircle", params.pCircle);
    SetFloat(xml, "ta", params.ta);
    SetFloat(xml, "taR", params.taR);
    SetInt(xml, "d", params.d != 0 ? 1 : 0);
    xml.AddElement("Bump", IntToString(params.Bump));
    xml.AddElement("Glow");
    SetInt(xml, "on", static_cast<std::int8_t>(params.on));
    SetFloat(xml, "glv", params.glv);
    // Signed decimal of the colour's bits; the reader takes the bits back either way.
    SetInt(xml, "glc", static_cast<std::int32_t>(params.glc));
    if (!WriteImage(xml, texture)) isWhole = false;
    if (const auto* versa = dynamic_cast<const VersaTex*>(params.mapping.get())) {
        WriteVersa(xml, *versa);
    }
    xml.LeaveElement();
    return isWhole ? 0 : TextureXmlImageFailed;
}

namespace {

std::int16_t ReadTextureElement(TextureDocument* document, XmlDocument& xml, QTexture& texture,
                                bool alreadyPositioned) {
    if (!alreadyPositioned && !xml.FindElement("KV_TEXTURE")) return TextureXmlNoElement;
    const std::int32_t root = xml.CurrentPosition();
    if (root == 0) return TextureXmlNoElement;

    // Everything the element holds is read aside first; the texture changes only once the
    // image has been imported.
    ElementFields fields = FieldsOf(texture);
    ReadFields(xml, root, fields);

    const std::int32_t imageElement = xml.FindElementPath(root, 0, "Image");
    if (imageElement == 0) {
        SwapFields(fields, texture);
        return 0;
    }
    ImagePixels read;
    if (!ReadImagePixels(xml, imageElement, read)) return TextureXmlImageFailed;

    std::unique_ptr<QTextureImage> fresh;
    QTextureImage* image = nullptr;
    PrivateBlockPtr<std::uint8_t> bumpBytes;
    if (read.pixels) {
        fresh = std::make_unique<QTextureImage>();
        const std::size_t pixelCount =
            static_cast<std::size_t>(read.width) * static_cast<std::size_t>(read.height);
        fresh->colourId = Crc32(read.pixels.get(), pixelCount * 4);
        // The image's source file is read back too, so that it survives every save and a
        // later re-colour from the file still finds it.
        if (const std::int32_t e = xml.FindElementPath(imageElement, 0, "iName"); e != 0) {
            fresh->imageName = xml.GetDataAt(e);
        }
        if (const std::int32_t e = xml.FindElementPath(imageElement, 0, "iForceAlpha"); e != 0) {
            fresh->forceAlpha = DataInt(xml, e) == 1 ? 1 : 0;
        }
        if (const std::int32_t e = xml.FindElementPath(imageElement, 0, "BumpBuf"); e != 0) {
            const std::vector<std::uint8_t> bytes = Base64Decode(xml.GetDataAt(e));
            if (bytes.size() != pixelCount) return TextureXmlImageFailed;
            bumpBytes = PrivateAllocBlock<std::uint8_t>(static_cast<std::uint32_t>(pixelCount));
            std::memcpy(bumpBytes.get(), bytes.data(), pixelCount);
            fresh->bumpId = Crc32(bumpBytes.get(), pixelCount);
        }
        image = fresh.get();
        // An image is shared only when it is the same picture at the same size and with the
        // same border: equal pixel bytes of another shape give the same checksum.
        QTextureImage* found = document != nullptr ? document->FindTextureImageById(fresh->colourId) : nullptr;
        if (found != nullptr && found != image && found->bumpId == 0 && fresh->bumpId == 0 &&
            found->width == read.width && found->height == read.height &&
            found->pyramid->bordered == (fields.type != 0 ? 1 : 0)) {
            image = found;
            fresh.reset();
        }
    }

    if (const std::int32_t e = xml.FindElementPath(imageElement, 0, "transform"); e != 0) {
        fields.values.transform = ReadTransform(xml, e);
    }
    if (image == nullptr) {
        SwapFields(fields, texture);
        return 0;
    }

    // The saved mapping belongs to the texture's own record, which stays where it is.
    const std::int32_t versaElement = xml.FindElementPath(root, 0, "Versa");
    std::unique_ptr<VersaTex> versa;
    if (versaElement != 0) versa = ReadVersa(xml, versaElement, *texture.params);

    FieldsOnTrial trial(fields, texture);
    std::string errorText;
    const std::int16_t imported =
        ImportTextureImage(texture, read.pixels.get(), image, false, true, versaElement == 0,
                           errorText, read.width, read.height, read.premultiplied);
    read.pixels.reset();
    if (imported != TextureImportOk) return TextureXmlImageFailed;
    trial.Commit();
    if (fresh && texture.Image() == fresh.get()) (void)fresh.release();

    TextureParams& params = *texture.params;
    if (versaElement != 0) {
        if (versa) {
            params.mapping = std::move(versa);
        } else {
            BuildDefaultVersaTex(params);
        }
    }
    // A bump map of the image's size is refused only when memory runs out; the texture must
    // not come back without it as though the read had succeeded.
    if (bumpBytes && image->SetBumpMap(bumpBytes.get(), read.width, read.height, {}) != 0) {
        ThrowOutOfMemory();
    }
    return 0;
}

}  // namespace

std::int16_t ReadTextureXml(TextureDocument* document, XmlDocument& xml, QTexture& texture,
                            bool renderPreview, bool alreadyPositioned) {
    const std::int16_t result = ReadTextureElement(document, xml, texture, alreadyPositioned);
    // The picture follows whatever the texture now holds, read or not.
    if (renderPreview) RenderTexturePreview(texture, PreviewRebuildMode);
    return result;
}
