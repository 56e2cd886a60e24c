#pragma once

// The scene file reader: a scene file ("KVXMLFile" root, version 2.1) into a scene document
// and its render view, with the settings the view keeps no field for yet. A file that is not
// XML is read as a binary part block.
//
// The reader reads the whole file into memory aside and checks it before it changes the
// document: a file refused with any code leaves the document, its view and its lists as they
// were (only the document's file version takes the version the file states), so a caller
// may keep showing the old scene.

#include <cstdint>
#include <string_view>

class QDocumentBase;
struct SceneSettings;

// Results of LoadSceneFile.
inline constexpr std::int16_t SceneLoaded = 0;
inline constexpr std::int16_t SceneUnreadable = 1;  // unreadable, or its part block refused
inline constexpr std::int16_t SceneInvalid = 2;     // no object records, or a refused binary block
inline constexpr std::int16_t SceneNewerVersion = 3;
inline constexpr std::int16_t SceneOutOfMemory = 4;  // while the scene geometry was built

// The program's own file version, version x 100.
inline constexpr std::int32_t SceneFileVersion = 210;

// Version text as the file states it ("2.1") to version x 100, rounded half away from zero;
// 0 for a text that is no number.
std::int32_t SceneVersionFromText(std::string_view text);

// Reads the scene file at path into document (expected fresh: no objects, groups, textures
// or bots) and its render view, when it has one: camera, fog layers and lights go into the
// view's settings; groups, objects, textures and bots into the document; everything else
// into settings, when given. The document's part block is replaced. Returns one of the
// results above; a bot element is read as far as the bot record reaches and kept whole
// beside it. KVOutOfMemoryException raised outside the geometry build passes to the caller.
std::int16_t LoadSceneFile(QDocumentBase& document, std::string_view path,
                           SceneSettings* settings = nullptr);
