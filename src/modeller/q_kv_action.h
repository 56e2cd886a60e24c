#pragma once

// QKVAction is the document's mouse action: it holds the state of the modeller's mouse tools
// between events (the chosen tools, what is being dragged, the tool options, the drag redraw
// cache) and is the modeller's event entry. It is the modeller's part of a document: the
// document owns one when the modeller is initialised; the modeller's tool handler reads and
// writes its fields.

#include "core/colour.h"
#include "core/id_set.h"
#include "core/matrix4.h"
#include "core/vec3.h"
#include "model/document_modeller.h"
#include "modeller/q_track_ball_action.h"
#include "modeller/tool_state.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class DragRedrawCache;
class QDocumentBase;
struct KVEvent;

// Event type of the tool-change event.
inline constexpr std::int32_t EventToolChange = 52;

// Event type of the select-bot event.
inline constexpr std::int32_t EventSelectBot = 102;

// Event types of a key going down and coming up while a tool is current.
inline constexpr std::int32_t EventKeyDown = 32;
inline constexpr std::int32_t EventKeyUp = 33;

// Event type of a button release.
inline constexpr std::int32_t EventButtonUp = 2;

// The modifier bits of an event that choose the tools' axes: the first, second and third.
inline constexpr std::int32_t ModifierFirst = 0x1;
inline constexpr std::int32_t ModifierSecond = 0x4;
inline constexpr std::int32_t ModifierThird = 0x8;

// One block of tool options; the action holds two.
struct ToolOptions {
    std::array<std::int32_t, 2> axisModes{3, 3};
    std::array<std::int32_t, 7> words{0, 0, 0, 0, 0, 0, 1};
    std::int32_t word = 0;
    std::uint8_t flag = 1;
    std::array<std::uint8_t, 3> bytes{};
    float snap = 10.0f;
};

class QKVAction final : public QTrackBallAction, public DocumentModeller {
public:
    // Type id 5, the defaults of every member, and a drag redraw cache for document.
    explicit QKVAction(QDocumentBase* owner);

    // Destroys the drag redraw cache.
    ~QKVAction() override;

    QKVAction(const QKVAction&) = delete;
    QKVAction& operator=(const QKVAction&) = delete;

    // Forgets the pending object when it is deleted (message 1) or destroyed (message 0).
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

    // The modeller's event entry: hands the event to the command dispatcher or the tool
    // handler by its type and returns their result; 0 for ignored types.
    std::int32_t HandleEvent(KVEvent* event);

    // Hands the bot to the event entry as a select-bot event with the document's render view.
    void SelectBot(QToadObj& bot) override;

    // The pending object while it is a scene object: the one being drawn out by the mouse.
    QMorvanObject* DraggedObject() const override;

    // The axis settings with the tool word of the tool state (the primary tool before a tool
    // was chosen).
    AxisToolSettings AxisTools() const override;

    // The tool state's answer.
    bool IsTool105Active() const override { return tools.IsTool105Active(); }

    // Invalidates the drag redraw cache (without a redraw).
    void InvalidateDragRedraw() override;

    // A key went down: the key state is saved, and unless a drag runs the modifier code
    // becomes 1, 2 or 3 for the event's first, second or third modifier bit (0 for none);
    // with the rotate tool (102) the rotation axis becomes that axis, with the move tool
    // (103) the move mask becomes 1, 2 or 4, and with the scale tool (104) the first
    // dimension the selection offers for set 1, 2 or 4 (8 without a modifier) becomes the
    // scale reference. The document then announces the change with message 7 and argument
    // 14, except for the rotate and move tools when no modifier is held. Returns 0.
    std::int32_t KeyDown(const KVEvent& event);

    // A key came up while a transform tool (102, 103, 104) is the primary tool: the saved
    // key state comes back, the modifier code becomes 0, and a drag that runs is ended with
    // a button release; the document announces message 7 with argument 14. The axes the key
    // chose stay. Returns the release's result, else 0.
    std::int32_t KeyUp(const KVEvent& event);

    // The tools' axes and frames; the tool word is taken from the tool state.
    AxisToolSettings axisTools;

    // The modifier code of the last key (0 none, 1, 2, 3 the first, second, third modifier),
    // the state of the keys with the copy a key-down saves, the drag flags (a drag runs; the
    // second drag flag keeps a key-up from ending it) and the scale tool's reference
    // dimension.
    std::int32_t modifierCode = 0;
    std::array<std::int32_t, 17> keyState{};
    std::array<std::int32_t, 17> savedKeyState{};
    std::uint8_t isDragActive = 0;
    std::uint8_t isSecondDrag = 0;
    std::int32_t scaleReference = 0;

    DragRedrawCache* RedrawCache() const { return redrawCache.get(); }

    ToolState tools;
    Vec3 pivot{};
    Matrix4 referenceTransform{};  // identity
    std::array<std::uint8_t, 5> dragFlags{};
    std::array<std::int32_t, 3> dragWords{};
    ToolOptions options;
    std::array<std::int32_t, 4> optionWords{};
    ToolOptions secondOptions;
    std::int32_t wheelTotal = 0;
    Colour paintColour{};
    IdSet ids;
    std::int32_t listWord = 0;
    std::vector<std::int32_t> list;
    std::int32_t countWord = 0;
    double value = 0.0;
    Matrix4 accumulated{};  // identity

    // An object under construction that the action follows (registered on it); null when
    // none.
    QReferenceObject* pending = nullptr;

protected:
    void OnTargetDestroyed(QReferenceObject* target) override;

private:
    std::unique_ptr<DragRedrawCache> redrawCache;
};

// The mouse action of document; null when the document was made without the modeller.
QKVAction* MouseActionOf(const QDocumentBase& document);

// Registers the mouse action as the modeller's part of every document made from now on.
void InitModeller();
