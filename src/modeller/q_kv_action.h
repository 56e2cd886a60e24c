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

    // The tools' axes and frames; the tool word is taken from the tool state.
    AxisToolSettings axisTools;

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
