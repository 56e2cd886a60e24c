#pragma once

// A scene file read into a document of its own, as the player opens a gizmo and the tools
// read scenes: the document gets a render view whose default lights are removed before the
// file is read, so the scene brings its own, and the settings the view keeps no field for
// are kept beside it.

#include "model/q_document_base.h"
#include "scenefile/scene_settings.h"
#include "view/q_render_view.h"

#include <cstdint>
#include <string_view>

struct LoadedScene {
    // Reads the scene file at path (LoadSceneFile); result tells how that went. Throws
    // KVOutOfMemoryException as LoadSceneFile does.
    explicit LoadedScene(std::string_view path);
    LoadedScene(const LoadedScene&) = delete;
    LoadedScene& operator=(const LoadedScene&) = delete;

    QDocumentBase document;
    QRenderView view{&document};
    SceneSettings settings;
    std::int16_t result = 0;
};
