#pragma once

// The loaded gizmo: the one record the player keeps of the gizmo it plays. It owns the scene
// document with its render view, the simulation (GizmoWorld), the gizmo's own copy of the
// part block with the parts the loader adds, the part-record table and the moving-part list
// the world refers to, the frame the view draws into, and what the camera and window
// handling keep between frames.
//
// Lifecycle: a record starts with its defaults (no gizmo, not active); LoadGizmo fills it and
// leaves the gizmo paused; UnloadGizmo returns it to its defaults. A failed load leaves the
// defaults and its message in errorText.

#include "core/matrix4.h"
#include "core/private_block.h"
#include "core/vec3.h"
#include "gizmo/gizmo_world.h"
#include "gizmo/hit_scoring.h"
#include "platform/program_folder.h"
#include "platform/work_area.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class QRenderView;
class SceneGeometry;
struct SceneDocument;

// The incremental frame render as the simulation asks for it, over the gizmo's render view:
// an object that starts moving leaves the background, one that stops joins it again, each
// redrawn where its parts lie. Ready once the view keeps a background (AllocAuxBuffers).
class ViewSimulationRender final : public SimulationRender {
public:
    // Over view, with the scene's moving-part list (both must outlive the adapter).
    ViewSimulationRender(QRenderView& renderView, const std::vector<std::int32_t>& movingParts)
        : view(&renderView), moving(&movingParts) {}
    bool IsReady() const override;
    void PartsStarted(std::span<const std::int32_t> movingParts,
                      std::span<const std::int32_t> objectParts) override;
    void PartsStopped(std::span<const std::int32_t> objectParts) override;

private:
    void RenderComplement(std::span<const std::int32_t> movingParts,
                          std::span<const std::int32_t> changedParts);

    QRenderView* view;
    const std::vector<std::int32_t>* moving;
    // The renderer's count-prefixed lists, kept from call to call.
    std::vector<std::int32_t> movingList;
    std::vector<std::int32_t> changedList;
};

// Part bounding radii for hit sounds, from the scene geometry.
class GeometryPartBounds final : public PartBounds {
public:
    explicit GeometryPartBounds(const SceneGeometry& sceneGeometry) : geometry(&sceneGeometry) {}
    double BoundingRadius(std::int32_t partIndex) const override;

private:
    const SceneGeometry* geometry;
};

// Simulated time per frame at the default frame rate, seconds.
inline constexpr double DefaultStepTime = 1.0 / 30.0;

// Lights the scene keeps positions of.
inline constexpr std::size_t SceneLightCount = 16;

struct GizmoScene {
    GizmoScene();
    ~GizmoScene();
    GizmoScene(const GizmoScene&) = delete;
    GizmoScene& operator=(const GizmoScene&) = delete;

    // ---- Owned while a gizmo is loaded ----
    std::unique_ptr<SceneDocument> document;  // the document, its view and settings
    std::unique_ptr<GizmoWorld> world;
    std::unique_ptr<ViewSimulationRender> simulationRender;
    std::unique_ptr<GeometryPartBounds> partBounds;
    SceneGeometry* geometry = nullptr;  // the document's
    QRenderView* view = nullptr;        // the document's
    // The gizmo's part block: the document's records, then the two catcher discs. The
    // gizmo's record flags and role values are written here, never into the document.
    PrivateBlockPtr<std::uint8_t> partBlock;
    std::uint32_t partBlockBytes = 0;
    std::vector<std::uint8_t*> partTable;      // per part index, its record in partBlock
    std::vector<std::int32_t> movingPartList;  // part indices of the moving parts
    std::vector<std::uint32_t> viewBits;       // the frame the view draws, width x height
    std::vector<std::int32_t> frameList;       // the moving parts as the renderer takes them

    // ---- Timing and input ----
    std::uint32_t pressStamp = 0;
    std::uint32_t frameStamp = 0;
    std::uint32_t previousFrameStamp = 0;
    std::array<ScreenPoint, 20> cursorTrail{};
    ScreenPoint dragStartCursor;
    ScreenPoint lastCursor;
    std::int32_t manipulation = 0;

    // ---- The stage's game overrides: -1 absent; 1 yes, 0 no, or the value ----
    std::int32_t overrideGameMode = -1;
    std::int32_t overrideEndTime = -1;
    std::int32_t overrideEndScore = -1;
    std::int32_t overrideTimeVal = -1;
    std::int32_t overrideScoreVal = -1;

    // ---- Camera and window, set by the loader ----
    double loadDistance = 0.0;  // the camera's distance from the origin as the file had it
    double loadNear = 0.0;      // the view's near and far depths as the file had them
    double loadFar = 0.0;
    double stepTime = DefaultStepTime;
    double perspective = 0.0;        // radius of the ball about sceneCentre holding the drawn parts
    double minCameraDistance = 0.0;  // 1.75 x sceneRadius
    double sceneRadius = 0.0;        // radius of the ball about the origin holding them
    std::array<double, 2> acceptedAngles{};
    std::array<double, 2> pressAngles{};
    std::array<double, 2> angles{};  // yaw, pitch (radians)
    double acceptedScale = 0.0;
    double pressScale = 0.0;
    double scale = 0.0;                    // pixels per image unit: the view's focal value x 1000
    std::array<double, 2> windowOrigin{};  // screen position of the projection centre
    std::array<double, 2> pressWindowOrigin{};
    ScreenRect workArea;
    ScreenRect dragStartRect;
    ScreenRect windowRect;
    Vec3 sceneCentre;
    Matrix4W acceptedViewMatrix;
    Matrix4W pressViewMatrix;
    // The lights' scene positions, homogeneous term first.
    std::array<std::array<double, 4>, SceneLightCount> lightPositions{};

    // ---- Switches ----
    std::uint8_t mouseHold = 0;
    std::uint8_t active = 0;  // a gizmo is loaded
    std::uint8_t muted = 0;
    std::uint8_t savedPause = 0;
    std::uint8_t paused = 0;
    std::uint8_t redrawWhilePaused = 0;
    std::uint8_t windowDrag = 0;
    std::uint8_t controlDrag = 0;
    std::uint8_t renderAbandoned = 0;

    // ---- Kept across loads ----
    // The folder whose "Sounds" folder holds the gizmo's sounds: a sound file is this +
    // "Sounds/" + name + ".wav". The program's folder unless set otherwise.
    std::string programFolder = ProgramFolder();
    std::vector<std::string> soundNames;  // sound file paths; objects keep indices into it
    std::string fileID;
    std::string errorText;  // the message of the last failed load
};

// Sets every field that a loaded gizmo fills back to its default; soundNames, fileID,
// errorText, programFolder, the rectangles and the camera values stay.
void ResetSceneDefaults(GizmoScene& scene);

// Loads the gizmo file at path into the scene (LoadScene). Returns 0 on success; any other
// result is a failure whose message, if the load gave one, is in errorText. An exception out
// of the load (a malformed role, exhausted memory) gives -1; after a failure the scene is
// unloaded.
std::int32_t LoadGizmo(std::string_view path, GizmoScene& scene);

// Unloads the gizmo: clears active, closes the document (view first), frees the world and
// the gizmo's part block, table and lists, and resets the defaults. Unloading a scene that
// holds nothing only resets the defaults.
void UnloadGizmo(GizmoScene& scene);

// Draws the gizmo's frame whole: the scene without its moving parts, which the view keeps
// as the background of the incremental frames, then the moving parts over it. Without memory
// for the background the frame is drawn whole with the moving parts, and later frames are
// drawn whole too. UserAbortRender from the view's polls passes through.
void RenderGizmoBackground(GizmoScene& scene);

// Draws the moving parts where they now stand over the background: only what they cover or
// leave is drawn again. UserAbortRender passes through.
void RenderMovingParts(GizmoScene& scene);

// Hands the sounds of the frame's hit events to the installed sound sink, newest first: each
// event with a sound index plays that entry of soundNames at the event's gain and pitch and
// listener gain 1.0. Nothing plays when muted, without a world, or without a sink.
void PlayQueuedSounds(const GizmoScene& scene);
