#include "gizmo/gizmo_object.h"

#include "geometry/primitive_record.h"

GizmoObject NewFlipperObject() { return GizmoObject{}; }

GizmoObject NewSliderObject() {
    GizmoObject object;
    object.isSlider = 1;
    return object;
}

GizmoObject NewFlyerObject() {
    GizmoObject object;
    object.isFlyer = 1;
    return object;
}

void AddObjectPart(GizmoObject& object, std::int32_t partId, const std::uint8_t* record) {
    ObjectPartPair pair{PartRecordCopy(record), PartRecordCopy(record)};
    TranslateBadAlloc([&] {
        object.partIds.reserve(object.partIds.size() + 1);
        object.partPairs.reserve(object.partPairs.size() + 1);
    });
    object.partIds.push_back(partId);
    object.partPairs.push_back(std::move(pair));
}

void CommitState(GizmoObject& flyer) {
    flyer.flyer.committedPosition = flyer.position;
    flyer.flyer.committedVelocity = flyer.velocity;
    flyer.flyer.committedAngles = flyer.flyer.angles;
}

void RestoreState(GizmoObject& flyer) {
    flyer.position = flyer.flyer.committedPosition;
    flyer.velocity = flyer.flyer.committedVelocity;
    flyer.flyer.angles = flyer.flyer.committedAngles;
}

void TakeSnapshot(GizmoObject& flyer) {
    FlyerTail& f = flyer.flyer;
    f.snapshotAngularMomentum = f.angularMomentum;
    f.snapshotPosition = f.committedPosition;
    f.snapshotVelocity = f.committedVelocity;
    f.snapshotAngles = f.committedAngles;
    f.snapshotFrame = f.momentumFrame;
    f.snapshotLastHitPart = f.lastHitPart;
    f.snapshotLastContact = f.lastContactStamp;
    f.snapshotLastScore = f.lastScoreStamp;
    f.snapshotScore = f.score;
}
