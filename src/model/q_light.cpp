#include "model/q_light.h"

#include "core/check.h"
#include "core/vec3_geometry.h"
#include "model/document_view.h"
#include "model/q_document_base.h"
#include "model/q_morvan_object.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

QLight::QLight() = default;

QLight::QLight(DocumentView* owner) : view(owner) { typeId = TypeIdLight; }

QLight::QLight(const QLight& from) : QReferenceObject(from) {
    typeId = TypeIdLight;
    Assign(from, *this);
    isVisibleInView = from.isVisibleInView;
    PushSnapshot();
}

QLight::~QLight() {
    ClearHistory();
    ClearLinks();
    Broadcast(this, MessageDestroyed, 0);
}

void QLight::Assign(const QLight& from, QLight& to) {
    to.flag0 = from.flag0;
    to.isOn = from.isOn;
    to.isAtObject = from.isAtObject;
    to.brightness = from.brightness;
    to.localValue1 = from.localValue1;
    to.localValue2 = from.localValue2;
    to.localValue3 = from.localValue3;
    to.view = from.view;
    to.position = from.position;
    to.colour = from.colour;
    to.shadowBlendWeights = from.shadowBlendWeights;
    to.shadowFactor = from.shadowFactor;
}

void QLight::PushSnapshot() {
    auto snapshot = std::make_unique<QLight>();
    Assign(*this, *snapshot);
    snapshots.push_front(std::move(snapshot));
}

void QLight::CommitUndoStep() {
    const auto redoCount = static_cast<std::size_t>(std::max(snapshotCursor, 0));
    snapshots.erase(snapshots.begin(), snapshots.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                               redoCount, snapshots.size())));
    while (snapshots.size() >= LightSnapshotLimit) snapshots.pop_back();
    snapshotCursor = 0;
    PushSnapshot();
}

void QLight::ClearHistory() {
    snapshots.clear();
    snapshotCursor = 0;
}

void QLight::SetShadowParms(double v) { shadowBlendWeights = {v, -std::fabs(v), -v}; }

void QLight::SetVisibleInView(bool visible) {
    if (visible == isVisibleInView) return;
    isVisibleInView = visible;
    if (view != nullptr) view->SyncObjectsWithView(false);
}

bool QLight::GetViewTarget(Vec3& target) const {
    target = ZERO_VEC3;
    if (!isVisibleInView || view == nullptr) return false;

    std::int32_t objectIndex = 0;
    Vec3 hitPoint;
    Vec3 normal;
    const bool isHit = view->PickAtPixel(0, view->FrameWidth() / 2, view->FrameHeight() / 2,
                                         objectIndex, hitPoint, normal);
    double depth = hitPoint.z;
    if (!isHit) {
        double nearest = 0.0;
        double farthest = 0.0;
        depth = view->MeasureDepthRange(nearest, farthest);
        if (!(depth > 0.0)) depth = 1000.0 / SceneScale;
    }
    target = Vec3{0.0, 0.0, depth};
    view->TransformByInverseView(target);
    return isHit;
}

bool QLight::SetDistanceFromTarget(double d) {
    // The target is wanted whether or not the light is shown; the flag is switched directly
    // so that the view is not re-synchronised twice for nothing.
    Vec3 target;
    const bool wasVisible = isVisibleInView;
    isVisibleInView = true;
    GetViewTarget(target);
    isVisibleInView = wasVisible;
    Vec3 u = Vec3Sub(position, target);
    Vec3Normalize(u);
    const double ut = Vec3Dot(u, target);
    const double discriminant = ut * ut - Vec3Dot(target, target) + d * d;
    if (discriminant >= 0.0 && Vec3Length(position) > Vec3Length(target)) {
        // The point t + s u of the line at distance d from the origin, on the far side.
        const double s = std::sqrt(discriminant) - ut;
        position = Vec3Add(target, Vec3Scale(u, s));
    } else {
        Vec3 direction = position;
        Vec3Normalize(direction);
        position = Vec3Scale(direction, d);
    }
    return true;
}

void QLight::FollowCentre(const Vec3& centre) {
    if (isAtObject) {
        position = centre;
    } else {
        Vec3 target;
        GetViewTarget(target);
        Vec3 u = Vec3Sub(centre, target);
        Vec3Normalize(u);
        const double radius = Vec3Length(position);
        if (radius > Vec3Length(target)) {
            Vec3 hit;
            if (IntersectRaySphere(u, target, radius, ZERO_VEC3, hit)) position = hit;
        }
    }
    AnnounceChange();
}

void QLight::SetLink(std::int32_t slot, QReferenceObject* object) {
    ORBELLE_CHECK(slot >= 0 && slot < LightLinkCount);
    QReferenceObject*& link = links[static_cast<std::size_t>(slot)];
    if (link == object) return;
    if (object != nullptr) AddReference(object, this, 0);
    QReferenceObject* old = link;
    link = object;
    if (old != nullptr && std::find(links.begin(), links.end(), old) == links.end()) {
        RemoveReference(old, this, 0);
    }
}

void QLight::ClearLinks() {
    for (std::int32_t slot = 0; slot < LightLinkCount; ++slot) SetLink(slot, nullptr);
}

void QLight::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                           QReferenceObject* sender) {
    if (sender == nullptr || std::find(links.begin(), links.end(), sender) == links.end()) return;
    switch (message) {
        case MessageDestroyed:
            // A light goes with any object it is linked to.
            DestroySelf();
            return;
        case MessageDeleted:
            for (std::int32_t slot = 0; slot < LightLinkCount; ++slot) {
                if (Link(slot) == sender) SetLink(slot, nullptr);
            }
            return;
        case MessageChanged: {
            if (sender != Link(LightLinkFollowed) || sender->TypeId() != TypeIdObject) return;
            const auto* object = static_cast<const QMorvanObject*>(sender);
            // An object without a record has no centre: following it would pull the light to
            // the origin.
            if (object->GetPartRecord() == nullptr) return;
            FollowCentre(object->GetCentre());
            return;
        }
        case MessageBecameCurrent:
            if (sender != Link(LightLinkFollowed) && sender != Link(LightLinkSecond)) return;
            if (view == nullptr) return;
            view->selectedLight = view->viewSettings.lights.IndexOf(this);
            AnnounceChange();
            return;
        default:
            return;
    }
}

void QLight::OnTargetDestroyed(QReferenceObject* target) {
    for (QReferenceObject*& link : links) {
        if (link == target) link = nullptr;
    }
}

void QLight::AnnounceChange() const {
    if (view == nullptr || view->Document() == nullptr) return;
    Broadcast(view->Document(), MessageChanged, DocumentChangeLights);
}
