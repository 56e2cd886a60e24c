#include "gizmo/scene_document.h"

#include "core/private_heap.h"
#include "gizmo/process_settings.h"
#include "model/q_document_base.h"
#include "model/q_group.h"
#include "model/q_groups.h"
#include "model/q_lights.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "scenefile/scene_file_reader.h"
#include "view/q_render_view.h"

SceneDocument::SceneDocument() = default;

SceneDocument::~SceneDocument() {
    view.reset();
    if (document != nullptr && CurrentDocument() == document.get()) SetCurrentDocument(nullptr);
    document.reset();
}

std::unique_ptr<SceneDocument> OpenSceneDocument(std::string_view path) {
    constexpr std::uint32_t placeholderWords = PlaceholderFrameSide * PlaceholderFrameSide;
    auto scene = std::make_unique<SceneDocument>();
    try {
        scene->placeholderFrame = PrivateAllocBlock<std::uint32_t>(placeholderWords);
    } catch (const KVOutOfMemoryException&) {
        // A refused placeholder is a failed open, as the caller reports it; the settings
        // record is made only once a document will be.
        return nullptr;
    }
    CreateProcessSettings();

    scene->document = std::make_unique<QDocumentBase>();
    QDocumentBase& document = *scene->document;
    SetCurrentDocument(&document);
    scene->view = std::make_unique<QRenderView>(&document);
    QRenderView& view = *scene->view;
    // The scene brings its own lights.
    view.viewSettings.lights.RemoveAll();

    if (LoadSceneFile(document, path, &scene->settings) != SceneLoaded) return nullptr;
    if (!view.InitViewBuffers(PlaceholderFrameSide * 4, scene->placeholderFrame.get(),
                              PlaceholderFrameSide, PlaceholderFrameSide, false)) {
        return nullptr;
    }
    return scene;
}

void CloseSceneDocument(std::unique_ptr<SceneDocument>& scene) {
    if (scene == nullptr) return;
    if (scene->document != nullptr) scene->document->ClearUndoHistory();
    scene.reset();
    DeleteProcessSettings();
}

std::vector<NamedId> CollectObjectNames(const QDocumentBase& document) {
    std::vector<NamedId> names;
    const QMorvanObjects* objects = document.Objects();
    if (objects == nullptr) return names;
    names.reserve(static_cast<std::size_t>(objects->Count()));
    for (std::int32_t i = 0; i < objects->Count(); ++i) {
        const QMorvanObject* object = objects->At(i);
        if (object == nullptr) continue;
        names.push_back(NamedId{object->name, object->Index()});
    }
    return names;
}

std::vector<NamedGroup> CollectGroupNames(const QDocumentBase& document) {
    std::vector<NamedGroup> groups;
    const QGroups* list = document.Groups();
    if (list == nullptr) return groups;
    for (std::int32_t g = 0; g < list->Count(); ++g) {
        const QGroup* group = list->GetGroup(g);
        if (group == nullptr) continue;
        NamedGroup entry{group->GetName(), group->GetParms(), {}};
        for (QReferenceObject* member : group->CollectReferrersByType(TypeIdObject)) {
            const auto* object = static_cast<const QMorvanObject*>(member);
            entry.members.push_back(NamedId{object->name, object->Index()});
        }
        groups.push_back(std::move(entry));
    }
    return groups;
}
