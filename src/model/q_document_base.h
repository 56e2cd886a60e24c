#pragma once

// QDocumentBase is the scene document: the one object that owns what a scene holds (the
// scene geometry and its binary part block, the object collection, the modeller's part with
// its mouse action and tool state, the texture list, the bot list, the groups, the Sproutling
// engine and the morph animation settings), records the undo history and knows the current
// texture, bot and group. It follows the texture, bot and group it has made current and its
// texture list.
//
// The undo history is kept per user operation (a step) by the document's UndoHistory, to
// which the undo calls here forward; the document adds the broadcasts its followers hear.

#include "core/private_block.h"
#include "model/toad_morph_animation_settings.h"
#include "object/operation_progress.h"
#include "object/q_reference_object.h"
#include "object/undo_history.h"
#include "texture/texture_document.h"

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QGroup;
class QGroups;
class DocumentModeller;
class QMorvanObjectList;
class QMorvanObjects;
class DocumentView;
class QTextureImage;
class QTextureList;
class QToadObj;
class QToadObjList;
class SceneGeometry;
class SproutlingEngine;

// Argument of message 7 from the document: the undo history changed.
inline constexpr std::int32_t DocumentChangeUndoHistory = 13;

// Arguments of message 7 from the document.
inline constexpr std::int32_t DocumentChangeTexture = 1;
inline constexpr std::int32_t DocumentChangeBot = 8;
inline constexpr std::int32_t DocumentChangeSecondBot = 10;
inline constexpr std::int32_t DocumentChangeTextureList = 16;
inline constexpr std::int32_t DocumentChangeProgress = 17;

// The global length scale by which stored lengths become working lengths.
inline constexpr double SceneScale = 100.0;

// Results of QDocumentBase::ReadLegacyBotData.
inline constexpr std::int32_t LegacyBotMalformed = -2;
inline constexpr std::int32_t LegacyBotPartRejected = -1;

// Integer rectangle of the view, in view units or client pixels.
struct ViewRectInt {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

class QDocumentBase : public QReferenceObject,
                      public TextureDocument,
                      public OperationProgress {
public:
    // An empty scene: an empty part block and its geometry, the modeller's part when a maker
    // is registered, the Sproutling engine, empty texture and bot lists and the groups with "[Default]" as the
    // current group; type id 13, empty undo history. Throws KVOutOfMemoryException when the
    // private heap refuses a block.
    QDocumentBase();

    // Destroys the undo states and deleted objects of the undo history first, then everything
    // the document owns, stops being the current document and broadcasts message 0.
    ~QDocumentBase() override;

    QDocumentBase(const QDocumentBase&) = delete;
    QDocumentBase& operator=(const QDocumentBase&) = delete;

    // Opens a new step named name in the undo history (UndoHistory::BeginStep) and broadcasts
    // message 7 with argument 13.
    void BeginOperation(std::string_view name);

    // Forgets the whole undo history (UndoHistory::Clear), clears the histories of the view's
    // lights, the objects, the bots and textures, and broadcasts message 7 with argument 13.
    void ClearUndoHistory();

    // Appends one element to the change list. An undo state appended here belongs to the
    // document from then on.
    void AppendToChangeList(QReferenceObject* object) { undoHistory.Append(object); }

    // The number of recorded steps currently undone; 0 when none.
    std::int32_t UndoStepNumber() const { return undoHistory.StepNumber(); }

    // One element per recorded entry, in recording order.
    const std::vector<QReferenceObject*>& ChangeList() const { return undoHistory.ChangeList(); }

    // The names of the recorded steps, newest first.
    const std::deque<std::string>& OperationNames() const {
        return undoHistory.OperationNames();
    }

    UndoHistory& History() { return undoHistory; }

    // Follows the texture, bot and group it made current and its texture list.
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

    // 0 without an engine; else the current bot's setting, or the engine's own when no bot
    // is current.
    std::int32_t GetCurrentBotParameter() const;

    // The view rectangle, each side rounded half away from zero.
    ViewRectInt GetViewRect() const;

    // The rounded view rectangle's size centred in a client area of width x height.
    ViewRectInt GetCenteredViewRect(std::int32_t width, std::int32_t height) const;

    // Loads a legacy bot record of length bytes into the Sproutling engine. A record above
    // 5000 bytes holds several parts: form word 2, a part count of 2 to 12, six more header
    // words, the five morph tables of 12 words, then each part as its byte length and its
    // bytes; a shorter record is one part. Returns the engine's record length, -2 for a
    // malformed multi-part record, or -1 when a part is missing, runs past the record's end
    // or is refused by the engine (its row is then marked unused).
    std::int32_t ReadLegacyBotData(const std::uint8_t* record, std::uint32_t length);

    // Makes texture (type id 6, or null) the current texture, following it (set 0).
    void SetCurrentTexture(QReferenceObject* texture);
    // Makes bot (or null) the current bot, following it (set 0).
    void SetCurrentBot(QToadObj* bot);
    // Makes bot (or null) the second bot, following it (set 0).
    void SetSecondBot(QToadObj* bot);
    // Makes group (or null) the group new objects join, following it (set 0).
    void SetCurrentGroup(QGroup* group);
    // Records view as the document's render view (null for none); the view calls it.
    void SetRenderView(DocumentView* view) { renderView = view; }

    // Hands the user's two chosen scene objects (entries 0 and 1 of the user-object list)
    // to the Sproutling engine as copies scaled by the scene scale, then refills the
    // engine's per-object records with one copy of each scene object's record. Nothing
    // reaches the engine when the user-object switch is off or no user object is chosen.
    // Throws KVOutOfMemoryException when a copy cannot be made.
    void SetUserBotObjects();

    // The user-object list, made on first use.
    QMorvanObjectList& UserObjects();

    SceneGeometry* Geometry() const { return geometry.get(); }
    std::uint8_t* PartBlock() const { return partBlock; }
    // The slots of the part block and of its allocated size: the block moves as it grows,
    // so its users keep the slots.
    std::uint8_t** PartBlockSlot() { return &partBlock; }
    std::uint32_t* PartBlockBytesSlot() { return &partBlockBytes; }
    QMorvanObjects* Objects() const { return objects.get(); }
    // The modeller's part (its mouse action); null in a document made without a registered
    // modeller maker.
    DocumentModeller* Modeller() const { return modeller.get(); }
    DocumentView* RenderView() const { return renderView; }
    QTextureList* TextureList() const { return textureList.get(); }
    QToadObjList* BotList() const { return botList.get(); }
    QGroups* Groups() const { return groups.get(); }
    SproutlingEngine* Engine() const { return engine.get(); }
    QReferenceObject* CurrentTexture() const { return currentTexture; }
    QToadObj* CurrentBot() const { return currentBot; }
    QToadObj* SecondBot() const { return secondBot; }
    QGroup* CurrentGroup() const { return currentGroup; }
    ToadMorphAnimationSettings& AnimationSettings() { return animationSettings; }
    const ToadMorphAnimationSettings& AnimationSettings() const { return animationSettings; }
    std::vector<void*>& EngineBuffers() { return engineBuffers; }

    // Four values per shape type; adding a key that is present replaces its values.
    const std::map<std::int32_t, std::array<std::int32_t, 4>>& ShapeTypes() const {
        return shapeTypes;
    }

    std::int32_t partIndex = -1;  // the engine's result for the last legacy part
    std::uint8_t userBotObjects = 1;
    // The modeller view's overlay shows the world-axis arrows at the origin, axisHandleWidth
    // pixels across, and the object-axis arrows of the transform tools at the selection.
    std::uint8_t worldAxesShown = 0;
    std::uint8_t objectAxesShown = 0;
    float axisHandleWidth = 1.5f;
    std::array<double, 4> viewRect{-200.0, -200.0, 200.0, 200.0};  // left, top, right, bottom
    std::array<std::int32_t, 2> viewSize{400, 400};
    std::int32_t fileVersion = 0;
    std::uint8_t modified = 0;  // set by edits the user would lose without saving
    std::uint8_t lightsChanged = 0;  // the lights changed since the last render

    // Progress of the running long operation, announced with message 7 and argument 17: the
    // operation's stage code and its percentage done. A listener that wants the operation
    // abandoned sets abortRequested; the operation then throws QAbortException.
    std::int32_t progressStage = 0;
    std::int32_t progressPercent = 0;
    bool abortRequested = false;

    // The image of the first texture of the texture list (in list order) whose image has
    // colour id `id`; null when none.
    QTextureImage* FindTextureImageById(std::uint32_t id) const override;

    // Sets the progress members, clears abortRequested and broadcasts message 7 with
    // argument 17.
    void AnnounceProgress(std::int32_t stage, std::int32_t percent) override;
    bool IsAbortRequested() const override { return abortRequested; }
    // Zeroes the progress members and clears abortRequested; broadcasts nothing.
    void EndProgress() override;

protected:
    // Drops the current texture, bot, second bot or group when it is destroyed unannounced.
    void OnTargetDestroyed(QReferenceObject* target) override;

private:
    // Releases everything the document owns, in the order the members depend on each other.
    void ReleaseMembers();

    // Builds the members of a new document (the constructor's work).
    void BuildMembers();

    std::unique_ptr<SceneGeometry> geometry;
    std::uint8_t* partBlock = nullptr;  // private heap; the engine keeps this member's address
    std::uint32_t partBlockBytes = 0;   // bytes allocated for partBlock
    std::int32_t word0 = 0;
    std::string firstText;
    PrivateBlockPtr<std::uint8_t> heapBlock;
    std::unique_ptr<QMorvanObjects> objects;
    std::unique_ptr<DocumentModeller> modeller;
    std::unique_ptr<QMorvanObjectList> userObjects;
    std::array<std::int32_t, 2> words1{};
    std::string secondText;
    std::array<std::uint8_t, 4> flags1{};

    UndoHistory undoHistory;

    DocumentView* renderView = nullptr;
    std::unique_ptr<QTextureList> textureList;
    std::unique_ptr<QToadObjList> botList;
    QReferenceObject* currentTexture = nullptr;
    QToadObj* currentBot = nullptr;
    QToadObj* secondBot = nullptr;
    std::vector<void*> engineBuffers;  // private-heap blocks the engine fills
    QGroup* currentGroup = nullptr;
    std::unique_ptr<QGroups> groups;
    std::unique_ptr<SproutlingEngine> engine;
    std::uint8_t byte1 = 0;
    std::array<std::uint8_t, 3> flags3{};
    ToadMorphAnimationSettings animationSettings{this};
    std::int32_t word2 = 0;
    std::uint8_t byte2 = 0;
    std::array<std::int32_t, 3> words3{0, 0, 50};
    std::uint8_t byte3 = 0;
    std::map<std::int32_t, std::array<std::int32_t, 4>> shapeTypes;
};

// The current document, or null when there is none. Undo recording and the operation log
// refer to it.
QDocumentBase* CurrentDocument();

// True when document is the current document.
inline bool IsCurrentDocument(const QDocumentBase& document) {
    return CurrentDocument() == &document;
}

// Makes document (null for none) the current document.
void SetCurrentDocument(QDocumentBase* document);
