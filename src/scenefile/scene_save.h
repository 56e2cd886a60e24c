#pragma once

// Saving a scene as the modeller saves it: the scene file with the thumbnail of what the
// document's render view shows as its preview picture.

#include "scenefile/scene_file_writer.h"

#include <cstdint>
#include <string_view>

class QDocumentBase;
struct SceneSettings;

// SaveSceneFile with the 128 x 128 thumbnail of the document's render view (MakeSceneThumbnail)
// as the preview picture; without a sized render view, or when the thumbnail render gives
// nothing, the scene is saved without one. Returns SaveSceneFile's result. Throws
// KVOutOfMemoryException; QAbortException and UserAbortRender from the thumbnail render pass
// through, with nothing written.
std::int16_t SaveSceneWithThumbnail(QDocumentBase& document, std::string_view path,
                                    SceneSaveMode mode, const SceneSettings* settings = nullptr);
