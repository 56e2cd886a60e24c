#pragma once

// QRenderView is the render view of a document: it binds the document to a renderer, draws
// the document's scene and keeps the settings it is seen with. The document, its lights and
// view settings see it as a DocumentView.
//
// A secondary (delegate) view shows overlays for a main view and takes its camera from it.
//
// The view is a renderer (QRender) bound to a document: it sizes the renderer over a pixel
// buffer given from outside (InitViewBuffers), hands its view settings to the renderer before
// a render (PrepareRender), renders the document's scene geometry into the buffer
// (RenderDocument) and reports the renderer's progress to the document, which may ask for the
// render to be abandoned (ReportProgress).
//
// A new view gets its default settings (ViewSettings::SetDefaults) when it is constructed, so
// no creator can forget them; whoever wants a view without the default lights (a scene brings
// its own) removes them. The scene scale is a constant of the program, so a view made for a
// preview or a temporary render changes nothing beyond itself.
//
// Picking reads the cast frame: every sample cell holds the id of the part seen there, so a
// pick never intersects the scene again and the part picked is the part drawn. Selection
// changes set the parts' selected bytes and shade again only the footprint of the parts that
// changed (view_picking.cpp).
//
// The overlay of handles holds the lights' balls, shafts and arrowheads and the world-axis
// arrows (view_overlay.cpp).

#include "core/id_set.h"
#include "core/matrix4.h"
#include "core/private_block.h"
#include "core/vec3.h"
#include "model/document_view.h"
#include "render/fog_render_data.h"
#include "render/polygon_fill.h"
#include "render/q_render.h"
#include "render/render_light.h"
#include "view/q_off_bits.h"
#include "view/view_buffers_exception.h"
#include "view/view_draw_mode.h"
#include "view/view_history.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QDocumentBase;
class QLight;

// A rectangle of the view in pixels, as doubles.
struct ViewRectangle {
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;
};

// A view as a bot or an undo step keeps it: the settings it was seen with (camera, lights,
// depth-cue distances, colours) and the renderer's shadow bounds.
struct SavedViewState {
    ViewSettings settings;
    float shadowRadius = 0.1f;
    Vec3 shadowCentre{};
};

// Arguments of message 7 that the document sends after a saved view state was applied.
inline constexpr std::int32_t DocumentChangeViewState = 12;
inline constexpr std::int32_t DocumentChangeCamera = 4;
inline constexpr std::int32_t DocumentChangeViewColours = 11;

// The last progress report of a render: current of from..to in stage.
struct RenderProgressState {
    std::int32_t current = 0;
    std::int32_t from = 0;
    std::int32_t to = 0;
    std::int32_t stage = 0;
};

class QRenderView final : public DocumentView, public QRender {
public:
    // A view of document (may be null) with the default view settings (two default lights,
    // the default camera); becomes the document's render view. Throws
    // KVOutOfMemoryException.
    explicit QRenderView(QDocumentBase* owner);
    // Drops the overlay, its view before its document.
    ~QRenderView() override;

    // Points the view at pixels (width x height words, rows strideBytes apart), hands it the
    // settings and sizes the renderer. Returns true when the renderer was sized; otherwise
    // false, or with throwOnFailure a refused allocation throws KVOutOfMemoryException and a
    // size below 8 or a stride below the width ViewBuffersException. The view's width and
    // height are set either way.
    bool InitViewBuffers(std::int32_t strideBytes, std::uint32_t* pixels, std::int32_t width,
                         std::int32_t height, bool throwOnFailure);

    // Hands settings to the renderer: focal scale fov x m, the depth-cue distances, the
    // background (colour 0, or the gradient from colour 6 at the horizon to colour 7 at the
    // zenith with the sharpness tan(view angle) when the sky is on), the ambient colour
    // (colour 2, along the mean light direction), the flat colour (colour 5), the lights
    // (PrepareLights, then one renderer light per switched-on light), the shadows (the
    // settings' switch; the lights that keep their distance cast them), the fog block and,
    // from its first two layers seen from the camera, the shading's fog volumes (used when
    // shade.isFogVolumes is set), the stars (PrepareStars with the settings' stars) and the
    // lines (PrepareEdges). Throws KVOutOfMemoryException.
    void PrepareRender(const ViewSettings& settings);

    // The star switch goes to the shading; with it on, the view makes its sky buffer (at once
    // when it is already sized, else when it is sized) and draws the document's star field again
    // from stars when they differ from the settings it last drew the field from. Throws
    // KVOutOfMemoryException (the field then holds no stars and is drawn again next time).
    void PrepareStars(const StarSettings& stars);

    // Hands the draw state and the settings' lines to the renderer: the line style as the
    // draw style (0 in quick mode); the pixel pass on for a non-zero style or two samples per
    // pixel, unless the wr switch or quick mode asks for point samples; the edge index map for
    // a non-zero style (the buffers sized again, and the frame no longer valid, when that
    // changes outside quick mode); the outline width (at most 2.2 pixels) and colour: the
    // first line width and colour 3 for the flat styles (above 0), else the second and colour
    // 4. Throws KVOutOfMemoryException.
    void PrepareEdges(const ViewSettings& settings);
    // Draws the document's star field again from the settings' stars (after a render at
    // another scale). While unwinding a failure, a failed rebuild is left to the next render
    // instead of throwing; otherwise throws KVOutOfMemoryException.
    void RebuildStarField(bool isUnwinding);

    // Renders the document's scene geometry through the view's camera into the view's pixels:
    // PrepareRender with the view's settings, the parts seen from the camera, cast and shaded.
    // Returns the cast result (CastNotSized when the view is not sized or there is no
    // geometry). QAbortException from ReportProgress and UserAbortRender pass through.
    std::int32_t RenderDocument();

    // Records the report, tells the document (progress percent current x 100 / (to - from),
    // 0 over an empty range, and the status text "Stage: " and the stage) and throws
    // QAbortException when the document asks for the render to be abandoned; else 0.
    std::int32_t ReportProgress(std::int32_t current, std::int32_t from, std::int32_t to,
                                std::int32_t stage) override;

    // The target's pixels and row stride in bytes (null and 0 before InitViewBuffers).
    std::uint32_t* GetFrameBits() const { return ownPixels; }
    std::int32_t GetFrameStride() const { return ownPixels != nullptr ? ownStrideBytes : 0; }

    // ---- Camera and view transforms ----

    // View to world in the renderer's w-first form: the inverse of the view matrix.
    Matrix4W GetCameraMatrix() const;
    // M := inverse(V) M V and M := V M inverse(V).
    void ConjugateByView(Matrix4& m) const;
    void ConjugateByInverseView(Matrix4& m) const;
    // Directions through the view matrix's 3x3 block and through its inverse's.
    Vec3 WorldDirToView(const Vec3& direction) const;
    Vec3 ViewDirToWorld(const Vec3& direction) const;
    // A screen displacement (dx, dy) pixels at view depth depth, as a world vector.
    Vec3 ScreenDeltaToWorld(double dx, double dy, double depth) const;
    // The world displacement on the plane through point with normal that follows a drag on
    // the screen from (fromX, fromY) to (toX, toY); zero when the plane is seen edge-on
    // along a ray of the drag (no point of the ray meets it).
    Vec3 ScreenDragOnPlane(double fromX, double fromY, double toX, double toY, const Vec3& point,
                           const Vec3& normal) const;
    // Multiplies the camera's magnification by factor (a secondary view's follows).
    void ScaleZoom(double factor);
    // Moves the camera to position.
    void SetCameraPosition(const Vec3& position);
    void SetOrientation(const Matrix3& orientation) {
        viewSettings.camera.orientation = orientation;
    }
    Matrix3 GetOrientation() const { return viewSettings.camera.orientation; }

    // Rebuilds the light records, the mean light direction and the two light counts from
    // the view settings' lights that are on. Throws KVOutOfMemoryException; the old records
    // then stay.
    void PrepareLights() override;

    // Resets the settings' camera: fov and m 1.0, the transform turned by
    // Rz(pi) Ry(3 pi / 4) Rx(-pi / 6), identity orientation, position (0, 0, -1000 / scene
    // scale).
    void ResetCamera() override;

    // World to view: the camera's view matrix, on a secondary view that of its main view.
    Matrix4 GetViewMatrix() const;

    // Takes the point through the view matrix, or through its inverse (a singular view
    // matrix is used as it is).
    void TransformByView(Vec3& point) const;
    void TransformByInverseView(Vec3& point) const override;

    // ---- Picking and selection (view_picking.cpp) ----

    // Picks the part seen at pixel (x, y) of sample buffer 0, 1 or 2 of the last cast: true
    // for a hit, with its part index, the view-space point on the pixel's ray at the cell's
    // depth and the unit normal facing the eye. No hit (outside the frame, an empty pixel, an
    // unsized view): false, index -1, point and normal untouched.
    bool PickAtPixel(std::int32_t buffer, std::int32_t x, std::int32_t y, std::int32_t& objectIndex,
                     Vec3& point, Vec3& normal) const override;

    // Takes the attributes of the scene geometry's part records of ids (every part when
    // null) into the renderer's parts again: colour, visible and selected bytes and
    // placement, for a re-shade without a cast. Nothing before a render.
    void SyncObjectAttributes(const IdSet* ids = nullptr);

    // Sets the selected byte of the scene geometry's part records of ids (the document's
    // selection when null) to value and, with redraw, shades again the footprint of the parts
    // whose byte changed. Nothing without a document and its objects, and nothing in the
    // sketch draw mode; with the highlight switch off only the selection tool (105) lets a
    // selection be marked, while value 0 always proceeds. Throws KVOutOfMemoryException.
    void SetSelection(const IdSet* ids, bool value, bool redraw);

    // Shades again the footprint of the parts of ids (the document's selection when null)
    // with their selected bytes as the part records hold them. Throws KVOutOfMemoryException.
    void RedrawSelection(const IdSet* ids);

    // Selects the visible parts seen at a pixel whose centre lies inside polygon (screen
    // pixels, even-odd rule), with every member of a whole group (QGroup::IsSelectedWhole)
    // any of them belongs to, added to the selection or replacing it, and redraws the parts
    // whose selection changed. Nothing without a document and its objects. Throws
    // KVOutOfMemoryException.
    void SelectInPolygon(std::span<const PolygonPoint> polygon, bool add);

    // A click's selection: index -1 clears the selection; otherwise the object at index is
    // toggled (QMorvanObjects::ToggleSelection with mode and all, and with the same-group
    // criterion for a member of a whole group), after clearing the selection unless add.
    // Redraws the parts whose selection changed. Throws KVOutOfMemoryException.
    void UpdateSelection(std::int32_t index, bool add, std::int32_t mode, bool all);

    // The mean view depth of the covered pixels of the last cast, sampled every 4 pixels,
    // with their least and greatest depth; -1.0 (least the largest double, greatest 0) when
    // nothing is covered.
    double MeasureDepthRange(double& nearest, double& farthest) const override;

    // ---- The overlay of handles (view_overlay.cpp) ----

    // Makes (on) or drops (off) the overlay: a secondary view over a document of its own,
    // drawn with this view's camera into its own pixels at this view's size, holding hidden
    // handles: a ball (objects 0..15), a shaft (16..31) and an arrowhead (32..47) for each of
    // the 16 light slots, the world-axis arrows (48..53, y, x, z) and the object-axis arrows
    // (54..59). The lights let go of the old overlay's handles. Nothing on a secondary view.
    // Throws KVOutOfMemoryException.
    void CreateSecondaryScene(bool on);

    // Places the overlay's handles and links each of the first 16 lights with its own. A
    // light shown in the view (QLight::IsVisibleInView) shows a ball at the light, 10 pixels
    // in radius at its view depth, and, unless it sits at an object, a shaft 3 pixels in
    // radius and an arrowhead 25 pixels long, 1 pixel in radius at the light's view target
    // and 10 at the shaft; the other handles are hidden and leave the overlay's selection.
    // With the world axes shown, the arrows at the origin span half the shorter side (at
    // least one unit of length). With
    // render the overlay is drawn. Nothing without an overlay. Throws
    // KVOutOfMemoryException.
    void SyncObjectsWithView(bool render) override;

    // Where the object-axis arrows stand and which way they point, from the document's
    // selection (or, without one, the selected handles of a light at an object) and the
    // modeller's tool (DocumentModeller::AxisTools), while the document's object-axes switch
    // is on: anchor, the three axes, which of them the tool acts on and the selection's
    // extent (10.0 without a selection). Tool 102 and 103 take the view's, the world's or
    // the one selected object's axes by their frame mode (the world's for several objects),
    // tool 104 the first selected object's axes (none for a light's handles), tool 105 the
    // world's. A selection whose objects all belong to one group with a frame of its own
    // (QGroup::HasOwnFrame) sets isGroupFrame and takes the group's axes (its orientation
    // turning the world's) in place of the object's or the world's, and shows no arrows for
    // tool 104. False when the arrows are hidden: switched off, nothing selected, or another
    // tool.
    bool DragAlongObjectAxes(Vec3& anchor, std::array<Vec3, 3>& axes,
                             std::array<bool, 3>& axisFlags, double& length, bool& isGroupFrame,
                             bool& isLocalLight) const;
    // The same without the group-frame answer.
    bool DragAlongObjectAxes(Vec3& anchor, std::array<Vec3, 3>& axes,
                             std::array<bool, 3>& axisFlags, double& length,
                             bool& isLocalLight) const;

    // Places, sizes, colours and shows or hides the object-axis arrows of the overlay
    // (objects 54 to 59): shafts 1 pixel in radius (1.5 and yellow on an axis the tool acts
    // on, magenta in a group's frame) reaching 2.5 times the selection's extent, heads 9
    // pixels long and 9 in radius at the shaft's end. Nothing without an overlay. Throws
    // KVOutOfMemoryException.
    void UpdateAxisHandles();

    // The overlay's view and document (null without an overlay).
    QRenderView* OverlayView() const { return overlayView.get(); }
    QDocumentBase* OverlayDocument() const { return overlayDocument.get(); }

    // On an overlay view, places its handles for the main view's camera (the main view's
    // SyncObjectsWithView without a render); nothing on a main view.
    void UpdateObjectGeometry() override;

    // ---- View history and draw modes ----

    // Pushes a copy of the settings into the history (at most five, the oldest dropped).
    // Throws KVOutOfMemoryException or std::bad_alloc, the history unchanged.
    void PushViewHistory() { viewHistory.Push(viewSettings); }
    // A copy of the newest history entry, or of the settings when the history is empty.
    ViewSettings GetLastViewSettings() const { return viewHistory.Last(viewSettings); }
    // Drops the newest history entry; nothing when empty.
    void PopViewHistory() { viewHistory.Pop(); }
    // Draw-mode code 0..5 (view_draw_mode.h); other codes change nothing.
    void SetDrawMode(std::int32_t code) { ViewDrawStateSetMode(drawState, code); }
    std::int32_t GetDrawMode() const { return ViewDrawStateMode(drawState); }
    // The main view of a secondary view, else the view itself.
    QRenderView& GetMainView() {
        return isDelegate && mainView != nullptr ? static_cast<QRenderView&>(*mainView) : *this;
    }

    ViewHistory viewHistory;
    ViewDrawState drawState;

    // ---- Refresh and redraw (view_refresh.cpp) ----

    // Sizes the view on bitmap, which becomes the frame bitmap the view presents through
    // (not owned; it must outlive the view's use of it), as the pixel-buffer form does.
    bool InitViewBuffers(QOffBits& bitmap, bool throwOnFailure);

    // The full render: the settings to the renderer, the camera matrix kept, the whole frame
    // rendered (the changed rectangle the whole frame; none on a secondary view). While the
    // view defers without quick mode nothing renders and the frame is no longer valid.
    // Throws KVOutOfMemoryException; QAbortException and UserAbortRender pass through.
    void Refresh();
    // Draws the background backup again without the selected parts (they are about to
    // move); nothing without a selection. UserAbortRender passes through.
    void RenderParts();
    // Keeps the frame just rendered as the background of incremental frames.
    void ResetAuxBuffers();
    // Refresh, ResetAuxBuffers and RenderParts, on the secondary view too when asked; the
    // defer flag then follows quick mode.
    void RedrawAll(bool withSecondary);
    // Takes a saved view state: the camera's orientation, position, transform and field of
    // view (not its magnification), the lights, the depth-cue distances, colours 0 to 4 with
    // the second-colour switch and the two line widths, the fog layers and the shadow bounds;
    // a pending zoom is applied then. Hands the settings to the renderer,
    // places the overlay's handles, measures the shadow bounds again (CreateSecondaryView
    // without force) and tells the document that the view state, camera,
    // lights and colours changed (message 7 with 12, 4, 7, 11). Throws
    // KVOutOfMemoryException or std::bad_alloc.
    void ApplyViewState(const SavedViewState& state);

    // Keeps the overlay in step with this view: the object-axis arrows placed again and, with
    // render unless the view defers, the overlay drawn through this view's camera and kept as
    // the background of its incremental frames, its selected handles drawn over it. Nothing
    // on a secondary view or without an overlay. Throws KVOutOfMemoryException.
    void SyncSecondaryView(bool render);

    // Presents the changed rectangle through the frame bitmap, or the whole bitmap when full,
    // in draw mode 2 or while deferring. With an overlay that shows a handle and an overlay
    // frame bitmap, the overlay's picture is composed over the view's into that bitmap
    // (CompositeOverlayRect), which is presented instead. Nothing on a secondary view or
    // without a frame bitmap.
    void Redraw(bool full);
    // True when the overlay shows any handle.
    bool AnyObjectActive() const;

    QOffBitsBase* frameBitmap = nullptr;         // not owned
    QOffBitsBase* overlayFrameBitmap = nullptr;  // not owned; the view's size
    FrameRect dirtyRect;                         // what changed since the last presentation
    // A magnification to take with the next applied view state; -1.0 for none.
    double pendingZoom = -1.0;

    // ---- Shadows and their bounds (view_shadow_bounds.cpp) ----

    // The shadow bounds: the sphere (renderer's shadowCentre and shadowRadius) that the
    // shadow lights' maps cover. Nothing (false) on a secondary view, with the shadows switch
    // off or with a flat line style; true at once in quick mode. Otherwise the settings go to
    // the renderer; unless force, a valid frame measures the centre (UpdateCentrePoint) and a
    // move of at most tolerance keeps the old centre (false); with force, or without a valid
    // frame, a quick unlit render of the scene at half resolution through a temporary view
    // measures it. Then the radius follows (UpdateProjection); true. A scene without parts
    // keeps its centre. Throws KVOutOfMemoryException; QAbortException and UserAbortRender
    // from the quick render pass through.
    bool CreateSecondaryView(bool force, double tolerance);
    // Centre mode 0: the shadow centre on the view axis, at the depth halfway between the
    // nearest covered pixel of the last cast and the lesser of the farthest one and the mean
    // plus twice the spread (unchanged when nothing is covered); mode 1: point; other modes
    // nothing. Nothing on a secondary view.
    void UpdateCentrePoint(const Vec3& point);
    // The shadow radius from the centre (with the shadow-auto switch; without, the radius
    // stays): radius mode 0 max(0.1, |centre| x weight) / (fov x m); mode 1 the half-width
    // of the view at the centre's depth, max(0.1, z x weight x (W / 2) / sqrt(F^2 +
    // (W / 2)^2)) with F = m x fov x 1000 / view distance. The radius is then ready (other
    // modes change nothing with the switch on). Nothing on a secondary view.
    void UpdateProjection();
    // As MeasureDepthRange; also the mean, and the result the standard deviation of the
    // sampled depths (0.0, mean untouched, when nothing is covered).
    double MeasureDepthSpread(double& nearest, double& farthest, double& mean) const;

    bool isShadowAuto = true;  // the radius follows the centre (UpdateProjection)
    std::int32_t shadowRadiusMode = 1;
    std::int32_t shadowCentreMode = 0;
    // The player's perspective factor: the drawn parts' ball, as wide as it shows at its
    // nearest to the eye, over one and a half widths of the view (set by the gizmo's loader
    // and its camera manipulations). It leaves the light maps' density (lightMapScale, the
    // scene file's "sd") alone; the renderer does not read it.
    double perspectiveFactor = 0.0;

    // ---- Temporary renders (view_temporary_render.cpp) ----

    // Takes source's settings and what its renderer is set to beyond them (camera drive,
    // render options, shading switches, colour words, polling, depth and light-map
    // constants). Throws KVOutOfMemoryException or std::bad_alloc.
    void CopyViewOptions(const QRenderView& source);

    // Renders the document at width x height through a temporary view that sees what this
    // view sees, magnified by the longer side over this view's longer side (or the
    // rectangle's, when given), without selection marks: width x height words, rows packed,
    // straight alpha. Empty without a document or its geometry. This view, its settings and
    // the parts' selected bytes are as before whatever happens. Throws KVOutOfMemoryException
    // and ViewBuffersException (a side below 8); QAbortException and UserAbortRender from the
    // render pass through.
    PrivateBlockPtr<std::uint32_t> RenderTemporaryView(
        std::int32_t width, std::int32_t height,
        const std::optional<ViewRectangle>& rectangle = std::nullopt);

    // The same picture rendered by this view itself into a new buffer. Background mode 1 lays
    // it on black (colour 0 black, no sky gradient; mode 2 also colour 1 black) with fog
    // making surfaces transparent (the settings' first draw byte), so that its colours carry
    // their coverage; mode 3 keeps the view's background. Modes 1 to 3 set the renderer's
    // background-mode byte (fog leaves the background transparent). Afterwards, and also
    // when the render throws or is abandoned, the view's settings, draw state, level,
    // shadow bounds, renderer switches and the pixels it was sized on are back, the
    // background-mode byte clear, the selected bytes restored and the view's renders
    // abandonable by a click (interrupt mode -1); after a finished render the view's own
    // picture is drawn again (RedrawAll). Both temporary renders draw as the view does, its
    // line style included, but never with the point-sampled quick look. Throws
    // KVOutOfMemoryException and ViewBuffersException; QAbortException and UserAbortRender
    // pass through.
    PrivateBlockPtr<std::uint32_t> RenderToBuffer(
        std::int32_t width, std::int32_t height, std::int32_t backgroundMode,
        const std::optional<ViewRectangle>& rectangle = std::nullopt);

    std::int32_t FrameWidth() const override { return renderWidth; }
    std::int32_t FrameHeight() const override { return renderHeight; }

    // The renderer's light data, which PrepareLights fills: the direction lights first, then
    // the local lights.
    std::vector<RenderLight> renderLights;
    Vec3 meanLightDirection{};  // unit, or zero without direction lights
    std::int32_t directionLightCount = 0;
    std::int32_t localLightCount = 0;

    FogRenderData fogBlock;

    // Set after a full render of a scene with parts; cleared whenever the renderer has just
    // been sized and when the settings return to their defaults.
    bool isFrameValid = false;
    // While set a refresh without quick mode skips its render; cleared with the defaults.
    bool isDeferred = false;
    bool isQuickMode = false;
    // The view matrix comes from the settings' camera (else from the renderer's camera
    // matrix).
    bool isCameraDriven = true;
    Matrix4W storedCameraMatrix = ToWFirstMatrix(MakeIdentity());

    RenderProgressState progress;
    std::string progressText;  // "Stage: " and the stage of the last report

    // The settings returned to their defaults: the frame and the deferral no longer hold.
    void ClearRenderFlags() override;

private:
    // Shadows wanted: the settings' switch on, a shaded line style (not above 0), not quick
    // mode; the first shadowLights of the lights cast them. A change sizes the buffers
    // again (the frame no longer valid). Throws KVOutOfMemoryException.
    void PrepareShadows(const ViewSettings& settings, std::int32_t lights,
                        std::int32_t shadowLights);
    // The overlay's handles of light slot for light, linked with it; the world-axis arrows.
    void PlaceLightHandles(std::int32_t slot, QLight& light);
    void PlaceWorldAxes();
    // Draws the overlay whole through this view's camera and keeps it as its background.
    void RenderOverlay();
    // Unlinks the lights from the overlay's handles, which are about to go.
    void ReleaseLightHandles();

    std::unique_ptr<QDocumentBase> overlayDocument;
    std::unique_ptr<QRenderView> overlayView;
    std::vector<std::uint32_t> overlayPixels;
    std::uint32_t* ownPixels = nullptr;
    std::int32_t ownStrideBytes = 0;
    std::optional<StarSettings> builtStars;  // what the star field was last drawn from
};
