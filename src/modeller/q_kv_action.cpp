#include "modeller/q_kv_action.h"

#include "model/q_document_base.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
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

void QKVAction::InvalidateDragRedraw() {
    if (redrawCache) redrawCache->Invalidate();
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

namespace {

// The modifier code of an event: 1, 2 or 3 for its first, second or third modifier bit,
// tested in that order; 0 for none.
std::int32_t ModifierCodeOf(const KVEvent& event) {
    if ((event.modifiers & ModifierFirst) != 0) return 1;
    if ((event.modifiers & ModifierSecond) != 0) return 2;
    if ((event.modifiers & ModifierThird) != 0) return 3;
    return 0;
}

// Argument of message 7 from the document: the tools' key options changed.
constexpr std::int32_t DocumentChangeToolKeys = 14;

}  // namespace

std::int32_t QKVAction::KeyDown(const KVEvent& event) {
    savedKeyState = keyState;
    if (isDragActive != 0) return 0;
    modifierCode = ModifierCodeOf(event);
    // The mask bit of each modifier code: 1, 2, 4 (8 without one).
    const std::int32_t mask = modifierCode == 0 ? 8 : 1 << (modifierCode - 1);
    switch (tools.PrimaryTool() & 0xFFFFFF) {
        case 102:
            if (modifierCode == 0) return 0;
            axisTools.tool102AxisChoice = modifierCode;
            break;
        case 103:
            if (modifierCode == 0) return 0;
            axisTools.tool103AxisMask = mask;
            break;
        case 104:
            if (document != nullptr && document->Objects() != nullptr) {
                const auto dimensions =
                    document->Objects()->BuildDimensionList(static_cast<std::uint32_t>(mask));
                if (!dimensions.empty()) scaleReference = dimensions.front().second;
            }
            break;
        default:
            break;
    }
    if (document != nullptr) Broadcast(document, MessageChanged, DocumentChangeToolKeys);
    return 0;
}

std::int32_t QKVAction::KeyUp(const KVEvent& event) {
    const std::int32_t tool = tools.PrimaryTool() & 0xFFFFFF;
    if (tool < 102 || tool > 104) return 0;
    keyState = savedKeyState;
    modifierCode = 0;
    std::int32_t result = 0;
    if (isDragActive != 0 && isSecondDrag == 0) {
        KVEvent release;
        release.type = EventButtonUp;
        release.view = event.view;
        release.mouseX = event.mouseX;
        release.mouseY = event.mouseY;
        release.modifiers = event.modifiers;
        result = HandleEvent(&release);
    }
    if (document != nullptr) Broadcast(document, MessageChanged, DocumentChangeToolKeys);
    return result;
}

QKVAction* MouseActionOf(const QDocumentBase& document) {
    return static_cast<QKVAction*>(document.Modeller());
}

void InitModeller() {
    SetDocumentModellerMaker([](QDocumentBase& document) -> std::unique_ptr<DocumentModeller> {
        return std::make_unique<QKVAction>(&document);
    });
}
