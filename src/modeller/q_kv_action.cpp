#include "modeller/q_kv_action.h"

#include "model/q_document_base.h"
#include "model/q_morvan_object.h"
#include "model/q_toad_obj.h"
#include "modeller/drag_redraw_cache.h"
#include "modeller/kv_event.h"
#include "view/q_render_view.h"

QKVAction::QKVAction(QDocumentBase* owner) {
    document = owner;
    typeId = TypeIdMouseAction;
    redrawCache = std::make_unique<DragRedrawCache>(owner);
}

QKVAction::~QKVAction() = default;

void QKVAction::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                              QReferenceObject* sender) {
    if ((message == MessageDeleted || message == MessageDestroyed) && sender == pending) {
        pending = nullptr;
    }
}

void QKVAction::OnTargetDestroyed(QReferenceObject* target) {
    if (target == pending) pending = nullptr;
}

void QKVAction::SelectBot(QToadObj& bot) {
    KVEvent event;
    event.type = EventSelectBot;
    event.object = &bot;
    event.view = document != nullptr ? dynamic_cast<QRenderView*>(document->RenderView()) : nullptr;
    HandleEvent(&event);
}

QMorvanObject* QKVAction::DraggedObject() const {
    return pending != nullptr && pending->TypeId() == TypeIdObject
               ? static_cast<QMorvanObject*>(pending)
               : nullptr;
}

AxisToolSettings QKVAction::AxisTools() const {
    AxisToolSettings settings = axisTools;
    const std::uint32_t word = tools.ToolStateWord();
    settings.toolWord = word != 0 ? static_cast<std::int32_t>(word) : tools.PrimaryTool();
    return settings;
}

QKVAction* MouseActionOf(const QDocumentBase& document) {
    return static_cast<QKVAction*>(document.Modeller());
}

void InitModeller() {
    SetDocumentModellerMaker([](QDocumentBase& document) -> std::unique_ptr<DocumentModeller> {
        return std::make_unique<QKVAction>(&document);
    });
}
