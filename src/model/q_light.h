#pragma once

// QLight is one light of a view's or a bot's light list: position, colour, brightness, the
// values the renderer gets for a light that sits at an object, three links to scene objects
// it follows, the render view whose settings hold it, and its own snapshot history for
// undo (newest first, at most five after a committed step, with a cursor on the snapshot
// that matches the live light).
//
// A light is registered (set 0) on each object it links, so it hears when they change or go
// away. A linked object that is destroyed takes the light with it. A linked object that is
// deleted undoably loses its link at once: it may be destroyed later by the undo history
// without a word to its referrers, and the light must never touch it then.

#include "core/colour.h"
#include "core/vec3.h"
#include "object/q_reference_object.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>

class DocumentView;

// Link slots of a light.
inline constexpr std::int32_t LightLinkFollowed = 0;  // the object the light follows
inline constexpr std::int32_t LightLinkSecond = 1;
inline constexpr std::int32_t LightLinkThird = 2;
inline constexpr std::int32_t LightLinkCount = 3;

// Snapshots a light keeps after a committed step.
inline constexpr std::size_t LightSnapshotLimit = 5;

// Argument of message 7 from the document: the lights changed.
inline constexpr std::int32_t DocumentChangeLights = 7;

class QLight : public QReferenceObject {
public:
    // A snapshot light: the defaults, no view, type id 0.
    QLight();

    // A light of view (may be null): the defaults, type id 3.
    explicit QLight(DocumentView* owner);

    // A view light (type id 3) with from's flags, values, view, visibility, position, colour
    // and shadow parameters, no links, and one snapshot of itself. Throws std::bad_alloc.
    QLight(const QLight& from);

    QLight& operator=(const QLight&) = delete;

    // Forgets the snapshots, unregisters from its linked objects and broadcasts message 0.
    ~QLight() override;

    // Copies the three flags, brightness, local values, view, position, colour and shadow
    // parameters of from into to; not the visibility in the view, the links or the history.
    static void Assign(const QLight& from, QLight& to);

    // Pushes a copy of the live light at the front of the snapshots. Throws std::bad_alloc.
    void PushSnapshot();

    // Drops the snapshots newer than the cursor, keeps at most four older ones and pushes the
    // live light as the newest, with the cursor on it. Throws std::bad_alloc.
    void CommitUndoStep();

    // Deletes every snapshot and puts the cursor at 0.
    void ClearHistory() override;

    // Shadow blend weights (v, -|v|, -v).
    void SetShadowParms(double v);

    // Shows or hides the light in its view; a change re-synchronises the view.
    void SetVisibleInView(bool visible);
    bool IsVisibleInView() const { return isVisibleInView; }

    // The world point the light aims at in its view: the view point under the centre pixel,
    // or one at the view's mean depth (1000 / scene scale when there is none) when the
    // centre pixel shows nothing. True only when the centre pixel hit an object. A light
    // that is not visible in a view gives the origin and false.
    bool GetViewTarget(Vec3& target) const;

    // Moves the light along the line from its view target through the light to distance d
    // from the origin; when that line cannot reach d, or the light is not farther out than
    // the target, it moves to d along its own direction. Returns true.
    bool SetDistanceFromTarget(double d);

    // Moves the light after its followed object moved to centre: onto the centre when the
    // light sits at its object, else to where the ray from the view target towards the centre
    // meets the light's sphere about the origin (unchanged on a miss). The view's document
    // then announces the change (message 7, argument 7).
    void FollowCentre(const Vec3& centre);

    // Links object (may be null) in slot, registering on it; the old link is dropped.
    void SetLink(std::int32_t slot, QReferenceObject* object);

    // Drops every link and unregisters from the objects.
    void ClearLinks();

    // The object linked in slot (0 to LightLinkCount - 1, not checked), or null.
    QReferenceObject* Link(std::int32_t slot) const {
        return links[static_cast<std::size_t>(slot)];
    }

    // Reacts to its linked objects: destroyed (message 0) deletes the light, deleted
    // undoably (1) drops that link, became current (3, followed or second link) makes the
    // light the view's selected light, changed (7, the followed scene object) moves the light
    // after the object's centre (FollowCentre); a followed object without a record is ignored.
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

    // The snapshots, newest first.
    const std::deque<std::unique_ptr<QLight>>& Snapshots() const { return snapshots; }

    std::int32_t snapshotCursor = 0;  // 0 is the newest snapshot
    Vec3 position{};
    Colour colour = ColourFromBytes(255, 255, 255);
    double brightness = 0.8;
    double localValue1 = 1000.0;  // values of a light at an object, for the renderer
    double localValue2 = 0.5;
    double localValue3 = 0.0;
    double shadowFactor = 0.3;  // k of the shadow colour's HSV blend
    bool flag0 = false;         // handed to the renderer unchanged
    bool isOn = false;
    bool isAtObject = false;  // sits at its followed object, else keeps its distance
    DocumentView* view = nullptr;
    std::array<double, 3> shadowBlendWeights{};  // red, green, blue weights of the blend

protected:
    // Forgets a linked object destroyed without announcing it.
    void OnTargetDestroyed(QReferenceObject* target) override;

private:
    // Announces a change of the lights through the view's document.
    void AnnounceChange() const;

    std::deque<std::unique_ptr<QLight>> snapshots;
    std::array<QReferenceObject*, LightLinkCount> links{};
    bool isVisibleInView = false;
};
