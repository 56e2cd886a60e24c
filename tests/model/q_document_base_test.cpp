#include "model/q_document_base.h"

#include "core/operation_log.h"
#include "model_test_objects.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using model_test::CurrentDocumentScope;
using model_test::HeardLog;
using model_test::Recorder;
using model_test::TestState;

std::string OperationName(int i) { return "op" + std::to_string(i); }

TEST(QDocumentBase, DeletedObjectIsDestroyedWhenItsEntryIsFiveStepsOld) {
    CurrentDocumentScope document;
    document->BeginOperation(OperationName(0));
    bool destroyed = false;
    auto* object = new Recorder("object", nullptr, TypeIdObject, &destroyed);
    object->MarkDeleted();

    for (int step = 1; step <= 4; ++step) {
        document->BeginOperation(OperationName(step));
        SCOPED_TRACE(step);
        ASSERT_FALSE(destroyed);
        EXPECT_EQ(object->UndoStepHistory(), (std::deque<std::int32_t>{step}));
    }
    document->BeginOperation(OperationName(5));
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(document->ChangeList().empty());
}

TEST(QDocumentBase, CreatedObjectOutlivesItsForgottenEntry) {
    CurrentDocumentScope document;
    QReferenceObject object;
    document->BeginOperation("create");
    object.MarkCreated();
    for (int step = 1; step <= 5; ++step) document->BeginOperation(OperationName(step));

    EXPECT_TRUE(object.IsAlive());
    EXPECT_TRUE(object.StateHistory().empty());
    EXPECT_TRUE(object.UndoStepHistory().empty());
    EXPECT_TRUE(document->ChangeList().empty());
}

TEST(QDocumentBase, EachOccurrenceOfAnObjectAgesItsOwnEntry) {
    CurrentDocumentScope document;
    QReferenceObject object;
    document->BeginOperation("first");
    object.MarkCreated();
    object.MarkCreated();  // twice in one step: two entries, two elements
    document->BeginOperation("second");
    object.MarkCreated();
    EXPECT_EQ(document->ChangeList(),
              (std::vector<QReferenceObject*>{&object, &object, &object}));
    EXPECT_EQ(object.UndoStepHistory(), (std::deque<std::int32_t>{1, 1, 0}));

    for (int step = 1; step <= 4; ++step) document->BeginOperation(OperationName(step));

    // The two entries of the first step reached five; the later one is four steps old.
    EXPECT_EQ(object.UndoStepHistory(), (std::deque<std::int32_t>{4}));
    EXPECT_EQ(object.StateHistory(), (std::deque<std::uint16_t>{HistoryExists}));
    EXPECT_EQ(document->ChangeList(), (std::vector<QReferenceObject*>{&object}));
}

TEST(QDocumentBase, UndoStateIsDestroyedWithItsStep) {
    CurrentDocumentScope document;
    document->BeginOperation("edit");
    bool stateDestroyed = false;
    auto* state = new TestState(&stateDestroyed);
    document->AppendToChangeList(state);
    EXPECT_EQ(state->TypeId(), TypeIdUndoState);
    EXPECT_EQ(state->UndoStepHistory(), (std::deque<std::int32_t>{0}));
    EXPECT_TRUE(state->StateHistory().empty());

    for (int step = 1; step <= 4; ++step) document->BeginOperation(OperationName(step));
    EXPECT_FALSE(stateDestroyed);
    document->BeginOperation(OperationName(5));
    EXPECT_TRUE(stateDestroyed);
}

TEST(QDocumentBase, OperationNamesKeepTheLastFiveNewestFirst) {
    CurrentDocumentScope document;
    for (int i = 1; i <= 6; ++i) document->BeginOperation(OperationName(i));
    EXPECT_EQ(document->OperationNames(),
              (std::deque<std::string>{"op6", "op5", "op4", "op3", "op2"}));
    EXPECT_EQ(document->UndoStepNumber(), 0);
}

TEST(QDocumentBase, HistoryChangesAreBroadcast) {
    CurrentDocumentScope document;
    HeardLog log;
    Recorder view("view", &log);
    QReferenceObject::AddReference(document.document.get(), &view, 0);

    document->BeginOperation("move");
    document->ClearUndoHistory();

    ASSERT_EQ(log.size(), 2u);
    for (const auto& heard : log) {
        EXPECT_EQ(heard.message, MessageChanged);
        EXPECT_EQ(heard.a, DocumentChangeUndoHistory);
        EXPECT_EQ(heard.sender, document.document.get());
    }
}

TEST(QDocumentBase, ClearUndoHistoryDestroysStatesAndDeletedObjectsOnly) {
    CurrentDocumentScope document;
    document->BeginOperation("edit");
    bool stateDestroyed = false, deletedDestroyed = false;
    auto* state = new TestState(&stateDestroyed);
    document->AppendToChangeList(state);
    auto* deleted = new Recorder("deleted", nullptr, TypeIdObject, &deletedDestroyed);
    state->Add(deleted);
    Recorder created("created", nullptr);
    created.MarkCreated();
    deleted->MarkDeleted();
    document->BeginOperation("more");

    document->ClearUndoHistory();

    EXPECT_TRUE(stateDestroyed);
    EXPECT_TRUE(deletedDestroyed);
    EXPECT_TRUE(created.IsAlive());
    EXPECT_TRUE(document->ChangeList().empty());
    EXPECT_TRUE(document->OperationNames().empty());
    EXPECT_EQ(document->UndoStepNumber(), 0);
}

TEST(QDocumentBase, DestroyingAStateMayDestroyOtherRecordedObjects) {
    for (const bool byAgeing : {false, true}) {
        SCOPED_TRACE(byAgeing ? "state ages out" : "history cleared");
        CurrentDocumentScope document;
        document->BeginOperation("edit");
        bool stateDestroyed = false, imageDestroyed = false;
        auto* state = new TestState(&stateDestroyed);
        document->AppendToChangeList(state);
        // The state is the image's last referrer: destroying the state deletes the image,
        // which the change list still holds further on.
        auto* image = new Recorder("image", nullptr, TypeIdTextureImage, &imageDestroyed);
        image->SetAutoDelete(true);
        state->Add(image);
        document->BeginOperation("create");
        image->MarkCreated();
        image->MarkCreated();

        if (byAgeing) {
            for (int step = 1; step <= 4; ++step) document->BeginOperation(OperationName(step));
        } else {
            document->ClearUndoHistory();
        }

        EXPECT_TRUE(stateDestroyed);
        EXPECT_TRUE(imageDestroyed);
        EXPECT_TRUE(document->ChangeList().empty());
    }
}

TEST(QDocumentBase, ObjectDeletedAgainIsDestroyedOnceWhateverItsOccurrences) {
    CurrentDocumentScope document;
    bool destroyed = false;
    auto* object = new Recorder("object", nullptr, TypeIdObject, &destroyed);
    document->BeginOperation("delete");
    object->MarkDeleted();
    document->BeginOperation("restore");
    object->MarkCreated();
    document->BeginOperation("delete again");
    object->MarkDeleted();
    ASSERT_EQ(document->ChangeList().size(), 3u);

    for (int step = 1; step <= 2; ++step) document->BeginOperation(OperationName(step));
    EXPECT_FALSE(destroyed);
    // The first deletion entry is forgotten while two more occurrences follow it.
    document->BeginOperation(OperationName(3));
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(document->ChangeList().empty());
    for (int step = 4; step <= 8; ++step) document->BeginOperation(OperationName(step));
}

TEST(QDocumentBase, ForgottenDeletionOfAnObjectThatCameBackKeepsIt) {
    CurrentDocumentScope document;
    Recorder object("object", nullptr);
    document->BeginOperation("delete");
    object.MarkDeleted();
    document->BeginOperation("restore");
    object.MarkCreated();

    for (int step = 1; step <= 4; ++step) document->BeginOperation(OperationName(step));

    EXPECT_TRUE(object.IsPresent());
    EXPECT_EQ(object.StateHistory(), (std::deque<std::uint16_t>{HistoryExists}));
    EXPECT_EQ(object.UndoStepHistory(), (std::deque<std::int32_t>{4}));
    document->ClearUndoHistory();
    EXPECT_TRUE(object.IsAlive());
}

TEST(QDocumentBase, RecordedObjectDestroyedByItsOwnerLeavesTheChangeList) {
    CurrentDocumentScope document;
    document->BeginOperation("create");
    auto kept = std::make_unique<QReferenceObject>();
    auto dropped = std::make_unique<QReferenceObject>();
    kept->MarkCreated();
    dropped->MarkCreated();
    dropped->MarkCreated();

    dropped.reset();

    EXPECT_EQ(document->ChangeList(), (std::vector<QReferenceObject*>{kept.get()}));
    for (int step = 1; step <= 5; ++step) document->BeginOperation(OperationName(step));
    EXPECT_TRUE(document->ChangeList().empty());
}

TEST(QDocumentBase, DestroyedDocumentReleasesItsHistoryAndStopsBeingCurrent) {
    auto document = std::make_unique<QDocumentBase>();
    SetCurrentDocument(document.get());
    document->BeginOperation("edit");
    bool stateDestroyed = false, deletedDestroyed = false;
    document->AppendToChangeList(new TestState(&stateDestroyed));
    auto* deleted = new Recorder("deleted", nullptr, TypeIdObject, &deletedDestroyed);
    deleted->MarkDeleted();
    HeardLog log;
    Recorder view("view", &log);
    QReferenceObject::AddReference(document.get(), &view, 0);

    document.reset();

    EXPECT_TRUE(stateDestroyed);
    EXPECT_TRUE(deletedDestroyed);
    EXPECT_EQ(CurrentDocument(), nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].message, MessageDestroyed);
}

TEST(QDocumentBase, CurrentDocumentLogsEachOperation) {
    const std::filesystem::path path =
        std::filesystem::path(testing::TempDir()) / "orbelle_model_operation.log";
    std::filesystem::remove(path);
    const std::uint8_t loggingOn = 1;
    OperationLogSetPath(path.string());
    OperationLogSetSwitch(&loggingOn);

    {
        CurrentDocumentScope document;
        QDocumentBase other;
        document->BeginOperation("Move Objects");
        other.BeginOperation("Not current");
        document->BeginOperation("Delete");
    }
    OperationLogSetSwitch(nullptr);
    OperationLogSetPath("");

    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "Op: Move Objects\nOp: Delete\n");
    std::filesystem::remove(path);
}

}  // namespace
