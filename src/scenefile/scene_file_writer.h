#pragma once

// The scene file writer: a scene document, its render view and the settings kept beside
// them as a scene file ("KVXMLFile" root, version 2.1), the mirror of the scene reader. The
// whole text is built in memory first and written through a temporary file that is renamed
// into place, so a save that fails in any way leaves the file that was there before.
//
// Lengths are written as stored lengths, the working lengths times the scene scale, and the
// scale itself is written as "View_0_Scale" (which readers before it ignore): a scene saved
// at any scale reads back at that scale with the same lengths. The groups are written in the
// document's list order, the default group first; the reader takes that first group as the
// document's own default group, so every object comes back in its group.

#include <cstdint>
#include <span>
#include <string_view>

class QDocumentBase;
struct SceneSettings;

// What a save writes.
enum class SceneSaveMode : std::int32_t {
    Everything = 0,   // the view, the groups, the objects, the textures and the bots
    WithoutBots = 1,  // no "Toad" elements, and every object's bot index is -1
    ViewOnly = 2,     // the view and the groups; no objects, textures or bots
};

// Results of SaveSceneFile. Every result but SceneSaved means the file was not written.
inline constexpr std::int16_t SceneSaved = 0;
inline constexpr std::int16_t SceneNotWritten = 1;  // the file could not be written
// A texture's image could not be encoded; writing the texture without it would lose it.
inline constexpr std::int16_t SceneTextureNotEncoded = 5;

// The side of the scene's preview picture ("MIN").
inline constexpr std::int32_t SceneThumbnailSide = 128;

// Writes document as a scene file at path in the given mode and sets the document's file
// version to that of the format; nothing else in the document changes. The camera, fog
// layers, lights and the colours and depths the view holds come from the document's render
// view (without one, from a new view's values and from settings); every other view value,
// the output size and the scale from settings (a new document's values when null).
// thumbnail, when it holds 128 x 128 pixel words 0xAARRGGBB, is written as the scene's
// preview picture; otherwise none is. Returns one of the results above; the document's
// progress is announced while it is the current document. Throws KVOutOfMemoryException.
std::int16_t SaveSceneFile(QDocumentBase& document, std::string_view path, SceneSaveMode mode,
                           const SceneSettings* settings = nullptr,
                           std::span<const std::uint32_t> thumbnail = {});
