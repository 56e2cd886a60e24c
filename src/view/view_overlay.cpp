// The overlay of the modeller's view: a secondary view over a document of its own whose
// parts are handles, drawn with the main view's camera. A light shown in the view has a ball
// at the light and, unless it sits at an object, a shaft and an arrowhead pointing from the
// light at its view target; the world axes may be shown as three arrows at the origin. Every
// handle is sized from its view depth before every render, so it keeps one size on the
// screen however far it is from the camera. A light follows its ball (its first link), so
// dragging the ball moves the light.

#include "core/colour.h"
#include "core/private_heap.h"
#include "geometry/part_record.h"
#include "geometry/part_render_record.h"
#include "geometry/scene_geometry.h"
#include "model/document_modeller.h"
#include "model/q_document_base.h"
#include "model/q_group.h"
#include "model/q_light.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "view/q_render_view.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

namespace {

// The handle rows of the overlay document, by object index: a ball, a shaft and an arrowhead
// for each of the 16 light slots, then the world-axis arrows (shaft and head for y, x, z) and
// the object-axis arrows (for axes 0, 1, 2).
constexpr std::int32_t LightBallBase = 0;
constexpr std::int32_t LightShaftBase = 16;
constexpr std::int32_t LightHeadBase = 32;
constexpr std::int32_t WorldAxisBase = 48;
constexpr std::int32_t ObjectAxisBase = 54;
constexpr std::int32_t HandleCount = 60;

// Handle sizes in pixels: a light's ball radius, its shaft's radius, its arrowhead's radius
// at the shaft and at the target, and the arrowhead's length (the global default length,
// read as pixels).
constexpr double LightBallPixels = 10.0;
constexpr double LightShaftPixels = 3.0;
constexpr double LightHeadPixels = 10.0;
constexpr double LightTipPixels = 1.0;
constexpr double LightHeadLengthPixels = 25.0;
// An object-axis shaft's radius, plain and on an axis the tool acts on, and its head's radius
// at its base.
constexpr double ObjectAxisPixels = 1.0;
constexpr double ObjectAxisActivePixels = 1.5;
constexpr double ObjectAxisHeadPixels = 9.0;
// A world-axis arrowhead's radius at its base and at its tip.
constexpr double AxisHeadPixels = 8.0;
constexpr double AxisTipPixels = 0.05;

// The view-space depth of a world point in view.
double DepthOf(const QRenderView& view, const Vec3& point) {
    Vec3 seen = point;
    view.TransformByView(seen);
    return seen.z;
}

// Shows or hides a handle and rebuilds its part.
void SetHandleShown(QMorvanObject& handle, bool shown) {
    std::uint8_t* record = handle.GetPartRecord();
    if (record == nullptr) return;
    const std::uint8_t flags = record[PartRecordFlagsOffset];
    record[PartRecordFlagsOffset] = shown ? static_cast<std::uint8_t>(flags & ~PartFlagHidden)
                                          : static_cast<std::uint8_t>(flags | PartFlagHidden);
    // A handle put out of sight cannot stay selected.
    if (!shown && handle.IsSelected()) handle.SetSelected(false);
    handle.Rebuild(true, false);
}

// Writes a handle's position and first parameters into its record.
void SetHandleShape(QMorvanObject& handle, const Vec3& position,
                    std::initializer_list<double> params) {
    std::uint8_t* record = handle.GetPartRecord();
    if (record == nullptr) return;
    PartRecordSetPosition(record, position);
    std::int32_t i = 0;
    for (const double value : params) PartRecordSetParam(record, i++, static_cast<float>(value));
}

}  // namespace

QRenderView::~QRenderView() {
    // The lights let go of their handles first: a light goes with an object it is linked to,
    // and the handles go with the overlay. Then the overlay view goes before its document.
    ReleaseLightHandles();
    secondaryView = nullptr;
    overlayView.reset();
    overlayDocument.reset();
}

void QRenderView::ReleaseLightHandles() {
    if (overlayDocument == nullptr) return;
    for (QLight* light : viewSettings.lights.Lights()) {
        for (std::int32_t slot = 0; slot < LightLinkCount; ++slot) {
            const QReferenceObject* link = light->Link(slot);
            const auto& handles = overlayDocument->Objects()->Objects();
            if (std::find(handles.begin(), handles.end(), link) != handles.end()) {
                light->SetLink(slot, nullptr);
            }
        }
    }
}

void QRenderView::CreateSecondaryScene(bool on) {
    if (isDelegate) return;
    ReleaseLightHandles();
    // The view goes before its document.
    if (overlayView != nullptr) secondaryView = nullptr;
    overlayView.reset();
    overlayDocument.reset();
    overlayPixels.clear();
    if (!on) return;

    auto handles = std::make_unique<QDocumentBase>();
    auto view = std::make_unique<QRenderView>(handles.get());
    view->viewSettings.lights.RemoveAll();
    view->isDelegate = true;
    view->mainView = this;
    const Colour yellow = ColourFromBytes(255, 255, 0);
    const Colour red = ColourFromBytes(255, 0, 0);
    const Colour green = ColourFromBytes(0, 255, 0);
    const Colour blue = ColourFromBytes(0, 0, 255);
    QMorvanObjects& objects = *handles->Objects();
    for (std::int32_t i = 0; i < RenderLightSlotCount; ++i) {
        objects.AddShapeType1(1.0, yellow, Vec3{});
    }
    for (std::int32_t i = 0; i < RenderLightSlotCount; ++i) {
        objects.AddShapeType2(1.0, 1.0, green, Vec3{});
    }
    for (std::int32_t i = 0; i < RenderLightSlotCount; ++i) {
        objects.AddShapeType4(1.0, 1.0, 1.0, yellow, Vec3{});
    }
    // The world-axis arrows (y, x, z), then the object-axis arrows (axes 0, 1, 2), each a
    // shaft and a head turned along its axis.
    struct AxisArrow {
        Vec3 axis;
        Colour colour;
    };
    const AxisArrow worldAxes[] = {
        {Vec3{0.0, 1.0, 0.0}, green}, {Vec3{1.0, 0.0, 0.0}, red}, {Vec3{0.0, 0.0, 1.0}, blue}};
    const AxisArrow objectAxes[] = {
        {Vec3{1.0, 0.0, 0.0}, red}, {Vec3{0.0, 1.0, 0.0}, green}, {Vec3{0.0, 0.0, 1.0}, blue}};
    for (const auto* arrows : {worldAxes, objectAxes}) {
        for (std::size_t k = 0; k < 3; ++k) {
            const AxisArrow& arrow = arrows[k];
            objects.AddShapeType2(1.0, 1.0, arrow.colour, Vec3{})->PointAlong(arrow.axis);
            objects.AddShapeType4(1.0, 1.0, 1.0, arrow.colour, Vec3{})->PointAlong(arrow.axis);
        }
    }
    for (std::int32_t i = 0; i < HandleCount; ++i) {
        QMorvanObject* handle = objects.At(i);
        std::uint8_t* record = handle->GetPartRecord();
        if (record == nullptr) continue;
        record[PartRecordFlagsOffset] |= PartFlagHidden;
        handle->Rebuild(true, false);
        // The world axes are drawn in the highlight colour.
        if (i >= WorldAxisBase && i < ObjectAxisBase) handles->Geometry()->Part(i)->selected = 1;
    }
    std::vector<std::uint32_t> pixels;
    TranslateBadAlloc([&] {
        pixels.assign(static_cast<std::size_t>(std::max(renderWidth, 0)) *
                          static_cast<std::size_t>(std::max(renderHeight, 0)),
                      0u);
    });
    if (!pixels.empty()) {
        view->InitViewBuffers(renderWidth * 4, pixels.data(), renderWidth, renderHeight, true);
    }
    overlayPixels = std::move(pixels);
    overlayDocument = std::move(handles);
    overlayView = std::move(view);
    secondaryView = overlayView.get();
}

void QRenderView::PlaceLightHandles(std::int32_t slot, QLight& light) {
    QMorvanObjects& handles = *overlayDocument->Objects();
    QMorvanObject& ball = *handles.At(LightBallBase + slot);
    QMorvanObject& shaft = *handles.At(LightShaftBase + slot);
    QMorvanObject& head = *handles.At(LightHeadBase + slot);
    const bool shown = light.IsVisibleInView();
    // k pixels at view depth z span k |z| / F.
    const double focal = focalScale * 1000.0 / viewDistance;
    const auto pixels = [focal](double k, double z) { return k * std::fabs(z) / focal; };
    const Vec3 position = light.position;
    // The handles the light moves start their undo history again where they are placed: an
    // undo of a later drag returns them here, not to where an earlier view placed them.
    ball.ClearHistory();
    if (!light.isAtObject) {
        shaft.ClearHistory();
        head.ClearHistory();
    }

    bool hasShaft = false;
    Vec3 aim{};
    if (!light.isAtObject) {
        light.GetViewTarget(aim);
        const double zT = DepthOf(*this, aim);
        Vec3 along = Vec3Sub(position, aim);
        const double d = Vec3Length(along);
        // A light at its target points nowhere: it shows its ball alone.
        hasShaft = d > 1e-8;
        if (hasShaft) {
            const Vec3 u = Vec3Scale(along, 1.0 / d);
            const double a = pixels(LightShaftPixels, zT);
            const double l = static_cast<float>(std::min(d, a / 0.0001));
            const double w = static_cast<float>(std::max(pixels(LightHeadLengthPixels, zT), 1e-8));
            // The shaft runs from T + u w to T + u l, the head from T to T + u w, its narrow
            // end at the target.
            shaft.PointAlong(along);
            SetHandleShape(shaft, Vec3Add(aim, Vec3Scale(u, (l + w) * 0.5)),
                           {l - w, std::max(a, 1e-8)});
            head.PointAlong(along);
            SetHandleShape(head, Vec3Add(aim, Vec3Scale(u, w * 0.5)),
                           {w, std::max(pixels(LightTipPixels, zT), 1e-8),
                            std::max(pixels(LightHeadPixels, zT), 1e-8)});
        }
    }
    SetHandleShape(ball, position,
                   {std::max(pixels(LightBallPixels, DepthOf(*this, position)), 0.0001)});
    SetHandleShown(shaft, shown && hasShaft);
    SetHandleShown(ball, shown);
    SetHandleShown(head, shown && hasShaft);
    light.SetLink(LightLinkFollowed, &ball);
    light.SetLink(LightLinkSecond, light.isAtObject ? nullptr : &shaft);
    light.SetLink(LightLinkThird, light.isAtObject ? nullptr : &head);
    if (!light.isAtObject) shaft.PushUndoChunk();
    ball.PushUndoChunk();
    if (!light.isAtObject) head.PushUndoChunk();
}

void QRenderView::PlaceWorldAxes() {
    QMorvanObjects& handles = *overlayDocument->Objects();
    const QDocumentBase* owner = Document();
    const bool isWorldAxesShown = owner != nullptr && owner->worldAxesShown != 0;
    const float axisHandleWidth = owner != nullptr ? owner->axisHandleWidth : 1.5f;
    const double focal = focalScale * 1000.0 / viewDistance;
    const double z0 = DepthOf(*this, Vec3{});
    // Signed pixel lengths: an origin behind the eye gives the floors.
    const auto pixels = [focal, z0](double k) { return k * z0 / focal; };
    const double floor = 0.1 / SceneScale;
    const double s = std::max(1e-8, pixels(axisHandleWidth));
    const double r =
        std::min(std::max(1.0, pixels(0.5 * std::min(renderWidth, renderHeight))), s / 0.0001);
    const double t = std::max(pixels(AxisHeadPixels), floor);
    const Vec3 axes[] = {Vec3{0.0, 1.0, 0.0}, Vec3{1.0, 0.0, 0.0}, Vec3{0.0, 0.0, 1.0}};
    for (std::int32_t k = 0; k < 3; ++k) {
        QMorvanObject& shaft = *handles.At(WorldAxisBase + 2 * k);
        QMorvanObject& head = *handles.At(WorldAxisBase + 2 * k + 1);
        if (isWorldAxesShown) {
            SetHandleShape(shaft, Vec3{}, {r, s});
            SetHandleShape(head, Vec3Scale(axes[k], (r + t) * 0.5),
                           {t, t, std::max(pixels(AxisTipPixels), floor)});
        }
        SetHandleShown(shaft, isWorldAxesShown);
        SetHandleShown(head, isWorldAxesShown);
    }
}

void QRenderView::SyncObjectsWithView(bool render) {
    if (isDelegate || overlayView == nullptr) return;
    QMorvanObjects& handles = *overlayDocument->Objects();
    if (handles.Count() < HandleCount) return;
    const auto lights = viewSettings.lights.Lights();
    // The handle rows serve the first 16 lights; a light beyond them gets no handles.
    const std::int32_t handled =
        std::min(static_cast<std::int32_t>(lights.size()), RenderLightSlotCount);
    for (std::int32_t i = handled; i < RenderLightSlotCount; ++i) {
        for (const std::int32_t base : {LightShaftBase, LightBallBase, LightHeadBase}) {
            SetHandleShown(*handles.At(base + i), false);
        }
    }
    for (std::int32_t i = 0; i < handled; ++i) {
        PlaceLightHandles(i, *lights[static_cast<std::size_t>(i)]);
    }
    PlaceWorldAxes();
    UpdateAxisHandles();
    if (render) RenderOverlay();
}

void QRenderView::RenderOverlay() {
    if (overlayView == nullptr || overlayPixels.empty()) return;
    QRenderView& overlay = *overlayView;
    overlay.storedCameraMatrix = GetCameraMatrix();
    overlay.RenderDocument();
    // The overlay's picture is the background its selected handles are dragged over.
    overlay.AllocAuxBuffers();
    overlay.RenderParts();
}

namespace {

// The group every selected object belongs to; null when one has none or they differ.
const QGroup* SharedGroupOf(const QMorvanObjects& objects, const IdSet& selection) {
    const QGroup* shared = nullptr;
    for (const std::int32_t id : selection.Ids()) {
        const QMorvanObject* object = objects.At(id);
        const QGroup* group = object != nullptr ? object->Group() : nullptr;
        if (group == nullptr || (shared != nullptr && group != shared)) return nullptr;
        shared = group;
    }
    return shared;
}

}  // namespace

bool QRenderView::DragAlongObjectAxes(Vec3& anchor, std::array<Vec3, 3>& axes,
                                      std::array<bool, 3>& axisFlags, double& length,
                                      bool& isLocalLight) const {
    bool isGroupFrame = false;
    return DragAlongObjectAxes(anchor, axes, axisFlags, length, isGroupFrame, isLocalLight);
}

bool QRenderView::DragAlongObjectAxes(Vec3& anchor, std::array<Vec3, 3>& axes,
                                      std::array<bool, 3>& axisFlags, double& length,
                                      bool& isGroupFrame, bool& isLocalLight) const {
    axisFlags = {false, false, false};
    length = 10.0;
    isGroupFrame = false;
    isLocalLight = false;
    const QDocumentBase* owner = Document();
    if (owner == nullptr || owner->objectAxesShown == 0 || owner->Objects() == nullptr) {
        return false;
    }
    const AxisToolSettings tools =
        owner->Modeller() != nullptr ? owner->Modeller()->AxisTools() : AxisToolSettings{};
    const std::int32_t tool = tools.toolWord & 0xFFFFFF;

    const Vec3 world[3] = {Vec3{1.0, 0.0, 0.0}, Vec3{0.0, 1.0, 0.0}, Vec3{0.0, 0.0, 1.0}};
    bool result = true;
    const QMorvanObjects& objects = *owner->Objects();
    const IdSet& selection = objects.SelectionIds();
    if (selection.Count() > 0) {
        objects.GetBoundingSphere(anchor, length, true, selection.Count() > 1);
        if (objects.commonScaleCentre.has_value()) anchor = *objects.commonScaleCentre;
        // A selection of members of one group with a frame of its own is turned in the
        // group's frame; the scale tool then shows no arrows.
        if (const QGroup* group = SharedGroupOf(objects, selection);
            group != nullptr && group->HasOwnFrame()) {
            isGroupFrame = true;
            const Matrix3 orientation = group->GetOrientation();
            for (std::size_t j = 0; j < 3; ++j) {
                axes[j] = Matrix3TransformVec3(orientation, world[j]);
            }
            result = tool == 102 || tool == 103 || tool == 105;
        }
    } else if (overlayDocument != nullptr &&
               overlayDocument->Objects()->SelectionIds().Count() > 0) {
        // The overlay's selection holds a light's handles: a light at an object is moved
        // about its ball.
        const QMorvanObjects& handles = *overlayDocument->Objects();
        const QMorvanObject* first = handles.At(handles.SelectionIds().Ids()[0]);
        const auto* light =
            first != nullptr ? static_cast<const QLight*>(first->FindReferrerByType(TypeIdLight, 1))
                             : nullptr;
        isLocalLight = light != nullptr && light->isAtObject;
        if (isLocalLight) handles.GetBoundingSphere(anchor, length, true, true);
    }
    if (selection.Count() == 0 && !isLocalLight) return false;
    if (tool < 102 || tool > 105) return false;

    const auto worldFrame = [&] {
        for (std::size_t j = 0; j < 3; ++j) axes[j] = world[j];
    };
    const auto objectFrame = [&](const QMorvanObject& object) {
        for (std::size_t j = 0; j < 3; ++j) axes[j] = object.GetAxis(static_cast<std::int32_t>(j));
    };
    // The frame of tools 102 and 103 (the group's frame is in axes already); false for a
    // frame mode that names none.
    const auto frameByMode = [&](std::int32_t mode) {
        if (mode == 0) {
            for (std::size_t j = 0; j < 3; ++j) axes[j] = ViewDirToWorld(world[j]);
        } else if (mode == 1) {
            worldFrame();
        } else if (isGroupFrame) {
            return result;
        } else if (mode == 2) {
            const QMorvanObject* only =
                selection.Count() == 1 ? objects.At(selection.Ids()[0]) : nullptr;
            if (only != nullptr) {
                objectFrame(*only);
            } else {
                worldFrame();
            }
        } else {
            return false;
        }
        return result;
    };
    const auto flagsByChoice = [&](std::int32_t choice) {
        for (std::size_t j = 0; j < 3; ++j) {
            axisFlags[j] = choice == 0 || choice == static_cast<std::int32_t>(j) + 1;
        }
    };
    switch (tool) {
        case 102:
            flagsByChoice(tools.tool102AxisChoice);
            return frameByMode(tools.tool102FrameMode);
        case 103:
            for (std::size_t j = 0; j < 3; ++j) axisFlags[j] = (tools.tool103AxisMask >> j) & 1;
            return frameByMode(tools.tool103FrameMode);
        case 104: {
            if (isLocalLight) return false;
            const QMorvanObject* first = objects.At(selection.Ids()[0]);
            if (first == nullptr) return false;
            objectFrame(*first);
            flagsByChoice(tools.tool104AxisChoice);
            return result;
        }
        default:
            if (!isGroupFrame) worldFrame();
            return result;
    }
}

void QRenderView::UpdateAxisHandles() {
    if (isDelegate || overlayDocument == nullptr) return;
    QMorvanObjects& handles = *overlayDocument->Objects();
    if (handles.Count() < HandleCount) return;
    Vec3 anchor{};
    std::array<Vec3, 3> axes{};
    std::array<bool, 3> flags{};
    double length = 0.0;
    bool isGroupFrame = false;
    bool isLocalLight = false;
    const bool isShown =
        DragAlongObjectAxes(anchor, axes, flags, length, isGroupFrame, isLocalLight);
    const double focal = focalScale * 1000.0 / viewDistance;
    const double zP = isShown ? DepthOf(*this, anchor) : 0.0;
    // Signed pixel lengths: an anchor behind the eye gives the floors.
    const auto pixels = [focal, zP](double k) { return k * zP / focal; };
    const double reach = std::max(2.5 * length, 1.0);
    const double floor = 0.1 / SceneScale;
    const Colour axisColours[] = {ColourFromBytes(255, 0, 0), ColourFromBytes(0, 255, 0),
                                  ColourFromBytes(0, 0, 255)};
    for (std::size_t j = 0; j < 3; ++j) {
        QMorvanObject& shaft = *handles.At(ObjectAxisBase + 2 * static_cast<std::int32_t>(j));
        QMorvanObject& head = *handles.At(ObjectAxisBase + 2 * static_cast<std::int32_t>(j) + 1);
        if (!isShown) {
            SetHandleShown(shaft, false);
            SetHandleShown(head, false);
            continue;
        }
        const double radius =
            std::max(pixels(flags[j] ? ObjectAxisActivePixels : ObjectAxisPixels), 1e-8);
        const double height = std::min(reach, radius / 0.0001);
        // An axis the tool acts on is yellow, magenta in a group's frame.
        const Colour activeColour =
            isGroupFrame ? ColourFromBytes(255, 0, 255) : ColourFromBytes(255, 255, 0);
        const Colour shaftColour = flags[j] ? activeColour : axisColours[j];
        shaft.SetColor(ColourRedByte(shaftColour), ColourGreenByte(shaftColour),
                       ColourBlueByte(shaftColour));
        shaft.PointAlong(axes[j]);
        SetHandleShape(shaft, anchor, {height, radius});
        head.SetColor(ColourRedByte(axisColours[j]), ColourGreenByte(axisColours[j]),
                      ColourBlueByte(axisColours[j]));
        head.PointAlong(axes[j]);
        const double base = std::max(pixels(ObjectAxisHeadPixels), floor);
        SetHandleShape(head, Vec3Add(anchor, Vec3Scale(axes[j], height * 0.5)),
                       {base, base, std::max(pixels(AxisTipPixels), floor)});
        SetHandleShown(shaft, true);
        SetHandleShown(head, true);
        // A shaft the tool acts on, and every head, are drawn in the highlight colour.
        overlayDocument->Geometry()->Part(shaft.Index())->selected = flags[j] ? 1 : 0;
        overlayDocument->Geometry()->Part(head.Index())->selected = 1;
    }
}
