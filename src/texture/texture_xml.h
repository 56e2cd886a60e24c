#pragma once

// The texture element "KV_TEXTURE" of scene, bot and texture files: the texture's name, type,
// material values, its image (colour pixels as an in-memory TIFF, bump map as raw bytes, both
// base64) and its saved mapping with every tile and polar map, so a texture comes back
// without recomputing its mapping.
//
// Numbers other than integers are stored as base64 of IEEE single-precision floats, so a
// texture survives a save and a load bit for bit after its first save.
//
// Everything read from a file is checked before use: a blob whose length does not match its
// stated size makes the image unreadable (the texture fails with code 5); a saved mapping
// with out-of-range cell heads, links or tile indices, a cycle in a link chain, or counts
// beyond their limits is dropped and the default mapping built in its place.

#include <cstdint>

class TextureDocument;
class QTexture;
class XmlDocument;
struct PolarMap;
struct TileMap;

// Results of ReadTextureXml and WriteTextureXml besides 0.
inline constexpr std::int16_t TextureXmlNoElement = 4;
inline constexpr std::int16_t TextureXmlImageFailed = 5;

// Writes the texture as one "KV_TEXTURE" element after the current element of xml and leaves
// xml on it, at the caller's level. withPreview adds the preview picture ("MIN"), drawn first
// (RenderTexturePreview) when the texture has none yet; without a preview renderer installed
// and no picture, none is written. Returns 0, or 5 when the colour image or the preview
// could not be encoded: the element is then written without it and must not be saved as the
// texture. Throws KVOutOfMemoryException, and what drawing the preview throws (xml is then
// unchanged).
int WriteTextureXml(QTexture& texture, XmlDocument& xml, bool withPreview);

// Reads one "KV_TEXTURE" element into texture: the current element when alreadyPositioned
// (scene and bot files), else the next one after the current position (texture files).
// Images are shared with document's textures when the pixels, size and type agree and
// neither has a bump map. Returns 0, 4 when there is no element, 5 when the image cannot be
// read or imported. The element is read aside and reaches the texture only with its image,
// so after 4, 5 or a throw before the image is attached the texture is as it was. xml is
// left on the element at the caller's level. With renderPreview the preview picture is
// drawn afterwards (RenderTexturePreview), whatever the result. Throws
// KVOutOfMemoryException, also when the element's bump map is refused after the image is
// attached, and what drawing the preview throws.
std::int16_t ReadTextureXml(TextureDocument* document, XmlDocument& xml, QTexture& texture,
                            bool renderPreview, bool alreadyPositioned);

// Write a "TileMap" or "PolarMap" element after the current element and leave xml on it.
void WriteTileMap(XmlDocument& xml, const TileMap& map);
void WritePolarMap(XmlDocument& xml, const PolarMap& map);

// Read the map element at position `element` into map, replacing its buffers (the owner is
// kept). Return false when the element's tables are inconsistent; map then holds what was
// read and must not be used. Throw KVOutOfMemoryException.
bool ReadTileMap(const XmlDocument& xml, std::int32_t element, TileMap& map);
bool ReadPolarMap(const XmlDocument& xml, std::int32_t element, PolarMap& map);
