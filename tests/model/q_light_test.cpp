#include "model/q_light.h"

#include "core/scalar_maths.h"
#include "model/q_lights.h"
#include "model/q_morvan_light_state.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "model_test_objects.h"
#include "object/undo_history.h"
#include "scripted_view.h"
#include "view/q_render_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

using model_test::CurrentDocumentScope;
using model_test::HeardLog;
using model_test::Recorder;

// A current document with a render view whose light list knows the view; the tests place
// their own lights and keep the plain camera, so the view's default lights and camera go.
struct LitScene {
    LitScene() {
        view.viewSettings.lights.RemoveAll();
        view.viewSettings.camera.Assign(QCamera());
        view.viewSettings.lights.view = &view;
    }

    QLights& Lights() { return view.viewSettings.lights; }

    QLight* AddLight(Vec3 position, double brightness = 0.8) {
        auto light = std::make_unique<QLight>(&view);
        light->position = position;
        light->brightness = brightness;
        light->isOn = true;
        light->PushSnapshot();
        QLight* raw = light.get();
        Lights().AddLight(std::move(light));
        return raw;
    }

    CurrentDocumentScope document;
    QRenderView view{document.document.get()};
};

TEST(QLight, Defaults) {
    const QLight snapshot;
    EXPECT_EQ(snapshot.TypeId(), TypeIdPlain);
    EXPECT_EQ(snapshot.view, nullptr);
    const QLight light(nullptr);
    EXPECT_EQ(light.TypeId(), TypeIdLight);
    for (const QLight* l : {&snapshot, &light}) {
        EXPECT_EQ(l->snapshotCursor, 0);
        EXPECT_TRUE(l->Snapshots().empty());
        EXPECT_EQ(Vec3Compare(l->position, ZERO_VEC3), 0);
        EXPECT_EQ(ColourToRgb24(l->colour), 0xFFFFFFu);
        EXPECT_EQ(l->brightness, 0.8);
        EXPECT_EQ(l->localValue1, 1000.0);
        EXPECT_EQ(l->localValue2, 0.5);
        EXPECT_EQ(l->localValue3, 0.0);
        EXPECT_EQ(l->shadowFactor, 0.3);
        EXPECT_FALSE(l->flag0 || l->isOn || l->isAtObject || l->IsVisibleInView());
        EXPECT_EQ(l->shadowBlendWeights, (std::array<double, 3>{0.0, 0.0, 0.0}));
    }
}

TEST(QLight, AssignAndCopyLeaveVisibilityLinksAndHistoryBehind) {
    LitScene scene;
    HeardLog log;
    Recorder followed("followed", &log);
    QLight from(&scene.view);
    from.position = Vec3{1.0, 2.0, 3.0};
    from.isOn = true;
    from.isAtObject = true;
    from.flag0 = true;
    from.localValue2 = 0.25;
    from.SetShadowParms(-2.0);
    from.SetLink(LightLinkFollowed, &followed);
    from.SetVisibleInView(true);
    from.PushSnapshot();
    EXPECT_EQ(from.shadowBlendWeights, (std::array<double, 3>{-2.0, -2.0, 2.0}));

    QLight to(nullptr);
    QLight::Assign(from, to);
    EXPECT_EQ(to.view, &scene.view);
    EXPECT_TRUE(to.isOn && to.isAtObject && to.flag0);
    EXPECT_EQ(to.localValue2, 0.25);
    EXPECT_EQ(to.shadowBlendWeights, from.shadowBlendWeights);
    EXPECT_FALSE(to.IsVisibleInView());
    EXPECT_EQ(to.Link(LightLinkFollowed), nullptr);
    EXPECT_TRUE(to.Snapshots().empty());

    const QLight copy(from);
    EXPECT_EQ(copy.TypeId(), TypeIdLight);
    EXPECT_TRUE(copy.IsVisibleInView());
    EXPECT_EQ(copy.Link(LightLinkFollowed), nullptr);
    EXPECT_FALSE(copy.IsRegisteredOn(&followed, 0));
    ASSERT_EQ(copy.Snapshots().size(), 1u);
    EXPECT_EQ(copy.Snapshots()[0]->position.z, 3.0);
}

TEST(QLight, CommitUndoStepKeepsFiveAndDropsRedoSnapshots) {
    QLight light(nullptr);
    for (int i = 0; i < 6; ++i) {
        light.brightness = i;
        light.CommitUndoStep();
    }
    ASSERT_EQ(light.Snapshots().size(), 5u);
    EXPECT_EQ(light.Snapshots().front()->brightness, 5.0);
    EXPECT_EQ(light.Snapshots().back()->brightness, 1.0);

    // Two steps undone: the two newer snapshots go before the new state is pushed.
    light.snapshotCursor = 2;
    light.brightness = 9.0;
    light.CommitUndoStep();
    ASSERT_EQ(light.Snapshots().size(), 4u);
    EXPECT_EQ(light.snapshotCursor, 0);
    EXPECT_EQ(light.Snapshots()[0]->brightness, 9.0);
    EXPECT_EQ(light.Snapshots()[1]->brightness, 3.0);

    light.ClearHistory();
    EXPECT_TRUE(light.Snapshots().empty());
    EXPECT_EQ(light.snapshotCursor, 0);
}

TEST(QLight, DistanceFromTarget) {
    // The target lies straight ahead of the identity camera at the depth of what the centre
    // pixel shows: the picked point, else the mean depth of the frame, else 1000 / scene scale.
    CurrentDocumentScope document;
    model_test::ScriptedView view(document.document.get());
    struct Case {
        const char* name;
        bool isHit;
        double pickedDepth;
        double meanDepth;
        Vec3 start;
        double distance;
        Vec3 expected;
    };
    const Case cases[] = {
        {"empty frame, along the line of sight", false, 0.0, -1.0, {0, 0, 100}, 50.0, {0, 0, 50}},
        {"empty frame, beside the target", false, 0.0, -1.0, {30, 0, 10}, 50.0,
         {std::sqrt(2400.0), 0.0, 10.0}},
        {"empty frame, nearer than the target", false, 0.0, -1.0, {0, 3, 4}, 50.0, {0, 30, 40}},
        {"empty frame, line cannot reach", false, 0.0, -1.0, {0, 0, 100}, 5.0, {0, 0, 5}},
        {"missed pick, mean depth", false, 0.0, 20.0, {30, 0, 20}, 50.0,
         {std::sqrt(2100.0), 0.0, 20.0}},
        {"picked part", true, 40.0, 20.0, {30, 0, 40}, 50.0, {30, 0, 40}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view.isHit = c.isHit;
        view.hitPoint = Vec3{0.0, 0.0, c.pickedDepth};
        view.meanDepth = c.meanDepth;
        QLight light(&view);
        light.position = c.start;
        EXPECT_TRUE(light.SetDistanceFromTarget(c.distance));
        EXPECT_NEAR(light.position.x, c.expected.x, 1e-9);
        EXPECT_NEAR(light.position.y, c.expected.y, 1e-9);
        EXPECT_NEAR(light.position.z, c.expected.z, 1e-9);
        EXPECT_FALSE(light.IsVisibleInView());
        EXPECT_EQ(view.pickedX, 320);
        EXPECT_EQ(view.pickedY, 240);
    }

    QLight hidden(&view);
    Vec3 target{1.0, 1.0, 1.0};
    EXPECT_FALSE(hidden.GetViewTarget(target));
    EXPECT_EQ(Vec3Compare(target, ZERO_VEC3), 0);
}

TEST(QLight, FollowsItsObjectsCentre) {
    LitScene scene;
    HeardLog log;
    Recorder documentWatcher("document", &log);
    QReferenceObject::AddReference(scene.document.document.get(), &documentWatcher, 0);

    QLight atObject(&scene.view);
    atObject.isAtObject = true;
    atObject.FollowCentre(Vec3{4.0, 5.0, 6.0});
    EXPECT_EQ(Vec3Compare(atObject.position, Vec3{4.0, 5.0, 6.0}), 0);

    // A light on the sphere of radius 50 moves to where the ray from the target (0, 0, 10)
    // towards the centre leaves that sphere.
    QLight distant(&scene.view);
    distant.SetVisibleInView(true);
    distant.position = Vec3{0.0, 0.0, 50.0};
    distant.FollowCentre(Vec3{0.0, 10.0, 10.0});
    EXPECT_NEAR(distant.position.x, 0.0, 1e-9);
    EXPECT_NEAR(distant.position.y, std::sqrt(2400.0), 1e-9);
    EXPECT_NEAR(distant.position.z, 10.0, 1e-9);

    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].message, MessageChanged);
    EXPECT_EQ(log[0].a, DocumentChangeLights);
    QReferenceObject::RemoveReference(scene.document.document.get(), &documentWatcher, 0);
}

TEST(QLight, FollowsTheSceneObjectItIsLinkedTo) {
    LitScene scene;
    HeardLog log;
    Recorder documentWatcher("document", &log);
    QReferenceObject::AddReference(scene.document.document.get(), &documentWatcher, 0);
    QMorvanObjects& objects = *scene.document->Objects();
    const Colour white = ColourFromBytes(255, 255, 255);
    QMorvanObject* ball = objects.AddShapeType1(1.0, white, Vec3{1.0, 2.0, 3.0});
    QMorvanObject* shaft = objects.AddShapeType1(1.0, white, Vec3{7.0, 7.0, 7.0});
    QLight* light = scene.AddLight(Vec3{50.0, 0.0, 0.0});
    light->isAtObject = true;
    light->SetLink(LightLinkFollowed, ball);
    light->SetLink(LightLinkSecond, shaft);
    const std::int32_t lightCount = scene.Lights().Count();

    // Only the followed object pulls the light along.
    shaft->SetSelected(true);
    shaft->SetPosition(Vec3{8.0, 8.0, 8.0});
    objects.BroadcastToObjects(MessageChanged, true);
    EXPECT_EQ(Vec3Compare(light->position, Vec3{50.0, 0.0, 0.0}), 0);
    EXPECT_TRUE(log.empty());

    ball->SetPosition(Vec3{4.0, 5.0, 6.0});
    objects.BroadcastToObjects(MessageChanged, false);
    EXPECT_EQ(Vec3Compare(light->position, Vec3{4.0, 5.0, 6.0}), 0);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].message, MessageChanged);
    EXPECT_EQ(log[0].a, DocumentChangeLights);

    // An object taken out of the block has no centre; the light stays where it is, and goes
    // when the object is destroyed.
    std::unique_ptr<QMorvanObject> removed = objects.RemovePartRecord(ball);
    QReferenceObject::Broadcast(ball, MessageChanged, 1);
    EXPECT_EQ(Vec3Compare(light->position, Vec3{4.0, 5.0, 6.0}), 0);
    removed.reset();
    EXPECT_EQ(scene.Lights().Count(), lightCount - 1);
    QReferenceObject::RemoveReference(scene.document.document.get(), &documentWatcher, 0);
}

TEST(QLights, CollectLinkedObjectIdsGivesSelectedObjectsFollowedByLightsThatAreOn) {
    LitScene scene;
    QMorvanObjects& objects = *scene.document->Objects();
    std::vector<QMorvanObject*> shapes;
    for (int i = 0; i < 6; ++i) {
        shapes.push_back(objects.AddShapeType1(1.0, ColourFromBytes(255, 255, 255),
                                               Vec3{static_cast<double>(i), 0.0, 0.0}));
    }
    struct Case {
        const char* name;
        std::int32_t object;
        std::int32_t slot;
        bool selected;
        bool on;
        bool atObject;
    };
    const Case cases[] = {
        {"second link only", 0, LightLinkSecond, true, true, false},
        {"at its object", 1, LightLinkFollowed, true, true, true},
        {"light off", 2, LightLinkFollowed, true, false, false},
        {"object not selected", 3, LightLinkFollowed, false, true, false},
        {"keeping its distance", 4, LightLinkFollowed, true, true, false},
        {"object out of the block", 5, LightLinkFollowed, true, true, false},
    };
    for (const Case& c : cases) {
        QLight* light = scene.AddLight(Vec3{0.0, 0.0, 1.0});
        light->isOn = c.on;
        light->isAtObject = c.atObject;
        light->SetLink(c.slot, shapes[static_cast<std::size_t>(c.object)]);
        shapes[static_cast<std::size_t>(c.object)]->SetSelected(c.selected);
    }
    std::unique_ptr<QMorvanObject> removed = objects.RemovePartRecord(shapes[5]);

    IdSet ids;
    ids.Insert(3);
    scene.Lights().CollectLinkedObjectIds(ids);
    EXPECT_EQ(std::vector<std::int32_t>(ids.Ids().begin(), ids.Ids().end()),
              (std::vector<std::int32_t>{1, 4}));

    scene.view.isDelegate = true;
    scene.Lights().CollectLinkedObjectIds(ids);
    EXPECT_EQ(ids.Count(), 0);
    removed.reset();
}

TEST(QLight, BecomingCurrentSelectsTheLightInItsView) {
    LitScene scene;
    HeardLog log;
    Recorder followed("followed", &log);
    Recorder third("third", &log);
    scene.AddLight(Vec3{1.0, 0.0, 0.0});
    QLight* light = scene.AddLight(Vec3{0.0, 1.0, 0.0});
    light->SetLink(LightLinkFollowed, &followed);
    light->SetLink(LightLinkThird, &third);
    scene.view.selectedLight = 5;

    QReferenceObject::Broadcast(&third, MessageBecameCurrent, 0);
    EXPECT_EQ(scene.view.selectedLight, 5);
    QReferenceObject::Broadcast(&followed, MessageBecameCurrent, 0);
    EXPECT_EQ(scene.view.selectedLight, 1);
}

TEST(QLights, SetDefaultLightsReplacesEveryLight) {
    LitScene scene;
    for (int i = 0; i < 3; ++i) scene.AddLight(Vec3{1.0, 2.0, 3.0});
    scene.Lights().SetDefaultLights();
    ASSERT_EQ(scene.Lights().Count(), 2);
    const double brightness[] = {0.8, 0.5};
    for (std::int32_t i = 0; i < 2; ++i) {
        const QLight* light = scene.Lights().At(i);
        EXPECT_NEAR(Vec3Length(light->position), 4000.0, 1e-9);
        EXPECT_EQ(light->brightness, brightness[i]);
        EXPECT_TRUE(light->isOn);
        EXPECT_FALSE(light->isAtObject || light->IsVisibleInView());
        EXPECT_EQ(light->view, &scene.view);
        EXPECT_EQ(light->Snapshots().size(), 1u);
    }
    const Vec3 first = scene.Lights().At(0)->position;
    EXPECT_NEAR(first.x / first.y, std::sin(PI / 8.0) / std::sin(PI / 3.0), 1e-12);
    EXPECT_NEAR(first.z / first.y, std::cos(PI / 3.0) / std::sin(PI / 3.0), 1e-12);
    const Vec3 second = scene.Lights().At(1)->position;
    EXPECT_NEAR(second.x, second.y, 1e-9);
    EXPECT_NEAR(second.z, -second.x, 1e-9);

    const QLight stranger(nullptr);
    EXPECT_EQ(scene.Lights().IndexOf(&stranger), 2);
    EXPECT_EQ(scene.Lights().IndexOf(scene.Lights().At(1)), 1);
}

TEST(QLights, SyncFromAssignsOrRecreates) {
    LitScene scene;
    QLights source;
    source.SetDefaultLights();
    source.At(0)->brightness = 0.1;

    QLights& target = scene.Lights();
    target.SetDefaultLights();
    QLight* const kept = target.At(0);
    target.SyncFrom(source);
    EXPECT_EQ(target.At(0), kept);
    EXPECT_EQ(kept->brightness, 0.1);

    Recorder followed("followed", nullptr);
    QLights single;
    single.SetDefaultLights();
    EXPECT_EQ(single.RemoveLightAt(1, true), nullptr);
    single.At(0)->SetLink(LightLinkFollowed, &followed);
    target.SyncFrom(single);
    ASSERT_EQ(target.Count(), 1);
    EXPECT_NE(target.At(0), kept);
    EXPECT_EQ(target.At(0)->Link(LightLinkFollowed), nullptr);
    EXPECT_EQ(target.At(0)->Snapshots().size(), 1u);
}

TEST(QLights, RestoreSnapshotsSkipsCursorsOutsideTheHistory) {
    LitScene scene;
    QLight* light = scene.AddLight(Vec3{1.0, 0.0, 0.0}, 0.3);
    light->brightness = 0.9;
    light->snapshotCursor = -1;
    scene.Lights().RestoreSnapshots();
    EXPECT_EQ(light->brightness, 0.9);
    light->snapshotCursor = 1;
    scene.Lights().RestoreSnapshots();
    EXPECT_EQ(light->brightness, 0.9);
    light->snapshotCursor = 0;
    scene.Lights().RestoreSnapshots();
    EXPECT_EQ(light->brightness, 0.3);
}

TEST(QLights, ClearUndoHistoryLeavesEachViewLightOneSnapshot) {
    LitScene scene;
    QLight* light = scene.AddLight(Vec3{1.0, 0.0, 0.0});
    light->CommitUndoStep();
    light->CommitUndoStep();
    light->snapshotCursor = 1;
    scene.document->ClearUndoHistory();
    EXPECT_EQ(light->Snapshots().size(), 1u);
    EXPECT_EQ(light->snapshotCursor, 0);
}

TEST(QMorvanLightState, StepWalksTheCursorAndRestoresSnapshots) {
    LitScene scene;
    HeardLog log;
    Recorder other("other", &log, TypeIdObject);
    QLight* light = scene.AddLight(Vec3{1.0, 0.0, 0.0}, 0.2);
    light->brightness = 0.7;
    light->CommitUndoStep();

    QRenderView secondary(nullptr);
    scene.view.secondaryView = &secondary;

    QMorvanLightState state;
    state.AddLight(light);
    state.AddLight(light);
    state.AddLight(&other);
    ASSERT_EQ(state.Lights().size(), 1u);
    EXPECT_TRUE(state.IsRegisteredOn(light, 0));

    state.Step(false);  // cursor -1 names no snapshot
    EXPECT_EQ(light->snapshotCursor, -1);
    EXPECT_EQ(light->brightness, 0.7);
    EXPECT_EQ(scene.document->lightsChanged, 0);
    EXPECT_FALSE(secondary.lightsChanged);

    state.Step(true);
    state.Step(true);  // cursor 1: the older snapshot
    EXPECT_EQ(light->snapshotCursor, 1);
    EXPECT_EQ(light->brightness, 0.2);
    EXPECT_EQ(scene.document->lightsChanged, 1);
    EXPECT_TRUE(secondary.lightsChanged);
    EXPECT_EQ(scene.view.directionLightCount, 1);

    state.Step(false);
    EXPECT_EQ(light->brightness, 0.7);
}

TEST(QMorvanLightState, DeletedLightsLeaveAndReturn) {
    LitScene scene;
    QLight* light = scene.AddLight(Vec3{1.0, 0.0, 0.0});
    auto state = std::make_unique<QMorvanLightState>();
    state->AddLight(light);

    light->MarkDeleted();
    EXPECT_TRUE(state->Lights().empty());
    EXPECT_EQ(scene.Lights().Count(), 0);
    light->MarkCreated();
    QReferenceObject::Broadcast(light, MessageRestored, 0);
    EXPECT_EQ(state->Lights().size(), 1u);
    EXPECT_EQ(scene.Lights().Count(), 1);

    // A destroyed light leaves the state, which then dies without touching it.
    scene.Lights().RemoveAll();
    EXPECT_TRUE(state->Lights().empty());
    state.reset();
}

TEST(QLightLifecycle, LightDeletedWhenItsListGoesIsTheUndoHistorys) {
    // A bot's view settings may go before the document's history forgets a deleted light.
    CurrentDocumentScope document;
    model_test::DestructionWitness witness;
    auto lights = std::make_unique<QLights>();
    lights->AddLight(std::make_unique<QLight>(nullptr));
    lights->AddLight(std::make_unique<QLight>(nullptr));
    QLight* deleted = lights->At(1);
    QReferenceObject::AddReference(deleted, &witness, 0);
    document->BeginOperation("delete");
    deleted->MarkDeleted();
    EXPECT_EQ(lights->Count(), 1);

    lights.reset();
    EXPECT_EQ(witness.destroyedCount, 0);
    for (std::int32_t i = 0; i < UndoStepLimit; ++i) document->BeginOperation("later");
    EXPECT_EQ(witness.destroyedCount, 1);
}

TEST(QLightLifecycle, DeletedLinkedObjectIsDroppedBeforeItIsDestroyed) {
    auto scene = std::make_unique<LitScene>();
    bool objectDestroyed = false;
    auto* object = new Recorder("object", nullptr, TypeIdObject, &objectDestroyed);
    object->MarkCreated();
    QLight* light = scene->AddLight(Vec3{1.0, 0.0, 0.0});
    light->SetLink(LightLinkFollowed, object);
    light->SetLink(LightLinkSecond, object);

    scene->document->BeginOperation("delete");
    object->MarkDeleted();
    EXPECT_EQ(light->Link(LightLinkFollowed), nullptr);
    EXPECT_EQ(light->Link(LightLinkSecond), nullptr);
    EXPECT_FALSE(light->IsRegisteredOn(object, 0));

    // The deletion ages out of the history and the object is destroyed for good; the light
    // lives on, and the list destroys it later.
    for (int i = 0; i < 5; ++i) scene->document->BeginOperation("later");
    EXPECT_TRUE(objectDestroyed);
    EXPECT_EQ(scene->Lights().Count(), 1);
    light->SetVisibleInView(true);
    scene->view.PrepareLights();
    scene.reset();
}

TEST(QLightLifecycle, DeletedSceneObjectAgesOutWhileTheLightLivesOn) {
    auto scene = std::make_unique<LitScene>();
    QMorvanObjects& objects = *scene->document->Objects();
    QMorvanObject* ball =
        objects.AddShapeType1(1.0, ColourFromBytes(255, 255, 0), Vec3{1.0, 0.0, 0.0});
    QLight* light = scene->AddLight(Vec3{0.0, 0.0, 1.0});
    light->isAtObject = true;
    light->SetLink(LightLinkFollowed, ball);
    auto state = std::make_unique<QMorvanLightState>();
    state->AddLight(light);
    scene->document->AppendToChangeList(state.release());

    scene->document->BeginOperation("delete");
    ball->MarkDeleted();
    EXPECT_EQ(light->Link(LightLinkFollowed), nullptr);
    EXPECT_EQ(objects.Count(), 0);
    for (int i = 0; i < 5; ++i) scene->document->BeginOperation("later");
    EXPECT_TRUE(scene->document->ChangeList().empty());
    EXPECT_EQ(scene->Lights().IndexOf(light), scene->Lights().Count() - 1);
    scene->view.PrepareLights();
    EXPECT_EQ(scene->view.localLightCount, 1);
    scene.reset();
}

TEST(QLightLifecycle, DestroyedLinkedObjectTakesTheLightAlong) {
    LitScene scene;
    HeardLog log;
    Recorder listWatcher("list", &log);
    QReferenceObject::AddReference(&scene.Lights(), &listWatcher, 0);
    auto object = std::make_unique<Recorder>("object", nullptr, TypeIdObject);
    scene.AddLight(Vec3{1.0, 0.0, 0.0});
    QLight* light = scene.AddLight(Vec3{0.0, 0.0, 1.0});
    light->isAtObject = true;
    light->SetLink(LightLinkThird, object.get());
    QMorvanLightState state;
    state.AddLight(light);
    scene.view.PrepareLights();
    EXPECT_EQ(scene.view.localLightCount, 1);

    object.reset();
    EXPECT_EQ(scene.Lights().Count(), 1);
    EXPECT_TRUE(state.Lights().empty());
    EXPECT_EQ(scene.view.localLightCount, 0);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().message, MessageChanged);
    EXPECT_EQ(log.back().a, 1);
    QReferenceObject::RemoveReference(&scene.Lights(), &listWatcher, 0);
}

}  // namespace
