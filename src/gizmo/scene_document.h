#pragma once

// The document glue of the gizmo loader: a scene file opened as a document of its own with a
// render view, as the player holds a gizmo's scene, and the texts the roles are read from.
//
// The view is first sized on a 100 x 100 placeholder frame so that its renderer is ready
// before the loader knows the window's size; the placeholder stays with the document record
// for as long as the view may draw into it, and goes with the view.

#include "core/private_block.h"
#include "scenefile/scene_settings.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QDocumentBase;
class QRenderView;

// Side of the placeholder frame, in pixels.
inline constexpr std::int32_t PlaceholderFrameSide = 100;

// One open scene document: the document, its render view, the settings the view keeps no
// field for, and the frame the view was first sized on. The view goes before the document.
struct SceneDocument {
    SceneDocument();
    ~SceneDocument();
    SceneDocument(const SceneDocument&) = delete;
    SceneDocument& operator=(const SceneDocument&) = delete;

    std::unique_ptr<QDocumentBase> document;
    std::unique_ptr<QRenderView> view;
    SceneSettings settings;
    PrivateBlockPtr<std::uint32_t> placeholderFrame;  // PlaceholderFrameSide squared words
};

// Opens the scene file at path: creates the process settings record when there is none, a
// document (made the current document) with a render view whose lights are removed, reads
// the file into it, and sizes the view on the placeholder frame. Returns null when the
// placeholder cannot be allocated, the file is not read (a file that is not XML is not read
// as a part block), or the renderer cannot be sized; whatever was made is then gone and no
// document is current. Throws KVOutOfMemoryException when the document or view cannot be
// made.
std::unique_ptr<SceneDocument> OpenSceneDocument(std::string_view path);

// Closes an open scene document (null does nothing): forgets its undo history, deletes the
// view, the document and the process settings record; no document is current afterwards.
void CloseSceneDocument(std::unique_ptr<SceneDocument>& scene);

// A role text with the id it belongs to: the object's index in the collection, which is its
// part index in the scene geometry.
struct NamedId {
    std::string name;
    std::int32_t id = -1;
};

// A group with its parameter text and its members.
struct NamedGroup {
    std::string name;
    std::string parms;
    std::vector<NamedId> members;  // in the order they joined the group
};

// Each scene object of the document with its name, in collection order.
std::vector<NamedId> CollectObjectNames(const QDocumentBase& document);

// Each group of the document (the default group included) with its members' names.
std::vector<NamedGroup> CollectGroupNames(const QDocumentBase& document);
