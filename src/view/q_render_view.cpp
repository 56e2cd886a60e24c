#include "view/q_render_view.h"

#include "core/colour.h"
#include "core/float_convert.h"
#include "core/private_heap.h"
#include "core/rotation.h"
#include "core/scalar_maths.h"
#include "geometry/scene_geometry.h"
#include "model/q_document_base.h"
#include "model/q_light.h"
#include "object/q_abort_exception.h"
#include "render/cast_frame_pass.h"
#include "render/render_parts.h"
#include "render/scene_render_parts.h"
#include "render/span_shade.h"
#include "render/star_field.h"
#include "view/view_buffers_exception.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

namespace {

// M (x, y, z, 1) in full double precision.
Vec3 ApplyAffine(const Matrix4& m, const Vec3& p) {
    return Vec3{m.m[0] * p.x + m.m[1] * p.y + m.m[2] * p.z + m.m[3],
                m.m[4] * p.x + m.m[5] * p.y + m.m[6] * p.z + m.m[7],
                m.m[8] * p.x + m.m[9] * p.y + m.m[10] * p.z + m.m[11]};
}

// The light's colour, its shadow colour and its plain values.
RenderLight RenderLightOf(const QLight& light, const Vec3& position) {
    RenderLight record;
    record.position = position;
    record.colour = {ColourRedByte(light.colour) / 255.0, ColourGreenByte(light.colour) / 255.0,
                     ColourBlueByte(light.colour) / 255.0};
    BlendColourHsv(record.shadowColour.data(), record.colour[0], record.colour[1], record.colour[2],
                   light.shadowFactor, light.shadowBlendWeights[0], light.shadowBlendWeights[1],
                   light.shadowBlendWeights[2]);
    record.brightness = light.brightness;
    record.flag0 = light.flag0;
    record.localValue1 = light.localValue1;
    record.localValue2 = light.localValue2;
    record.localValue3 = light.localValue3;
    return record;
}

// A colour as 0x00RRGGBB.
std::uint32_t Packed(const Colour& colour) { return ColourToRgb24(colour) & 0xFFFFFFu; }

// Direction lights stand this far along their direction: far enough that the light's
// direction barely changes across a scene of working lengths.
constexpr double DirectionLightDistance = 1e6;

// Outlines wider than this are drawn this wide.
constexpr double MaxOutlineWidth = 2.2;

}  // namespace

QRenderView::QRenderView(QDocumentBase* owner) : DocumentView(owner) {
    viewSettings.camera.m = 1.0;
    viewSettings.SetDefaults(*this);
    // A selected part is lifted by (0.35, 0.25, 0.06) x 1020, a warm tint.
    shade.highlight = {357, 255, 61};
    // The shadow sphere until the bounds are measured (CreateSecondaryView): 1000 / scale
    // ahead of the eye and as wide; light maps 1.25 cells a pixel, with dependency lists.
    shadowCentre = Vec3{0.0, 0.0, 1000.0 / SceneScale};
    shadowRadius = 1000.0 / SceneScale;
    shadowRadiusWeight = 1.0;
    isShadowRadiusReady = true;
    lightMapScale = 1.25;
    options.perLightDependents = true;
}

void QRenderView::ClearRenderFlags() {
    isFrameValid = false;
    isDeferred = false;
}

bool QRenderView::InitViewBuffers(std::int32_t strideBytes, std::uint32_t* pixels,
                                  std::int32_t width, std::int32_t height, bool throwOnFailure) {
    ownPixels = pixels;
    ownStrideBytes = strideBytes;
    renderWidth = width;
    renderHeight = height;
    centreX = width * 0.5;
    centreY = height * 0.5;
    PrepareRender(viewSettings);
    // With shadows the extra planes keep the light layers, so incremental frames resolve the
    // pixels whose shadows alone moved instead of shading them again.
    const std::int32_t result = SetSize(pixels, width, height, strideBytes / 4, options.shadows);
    // SetSize takes the allocated size as the render size only when it succeeds.
    renderWidth = width;
    renderHeight = height;
    isFrameValid = false;
    if (result == RenderSizeOk) return true;
    if (!throwOnFailure) return false;
    if (result == RenderSizeNoMemory) throw KVOutOfMemoryException();
    throw ViewBuffersException(result);
}

void QRenderView::PrepareRender(const ViewSettings& settings) {
    const QCamera& camera =
        (isDelegate && mainView != nullptr) ? mainView->viewSettings.camera : settings.camera;
    focalScale = camera.fov * camera.m;
    shade.nearDepth = settings.nearDepth;
    shade.farDepth = settings.farDepth;
    shade.backgroundColour = Packed(settings.colours[0]);
    shade.flatColour = Packed(settings.colours[5]);
    // The first draw byte: fog makes surfaces transparent (alpha from its weight) instead of
    // painting them opaque in the fog colour.
    shade.isAlphaFromFog = settings.viewFlags[0] != 0;
    // The sketch mode draws the flat preview; the line style reaches the renderer through
    // PrepareEdges.
    options.flatPreview = drawState.isSketch;
    shade.horizonColour = Packed(settings.colours[6]);
    shade.zenithColour = Packed(settings.colours[7]);
    shade.gradientTan = std::tan(static_cast<double>(settings.viewAngle));
    PrepareStars(settings.stars);
    PrepareEdges(settings);
    const std::uint32_t ambient = Packed(settings.colours[2]);
    for (std::size_t c = 0; c < 3; ++c) {
        const double channel = ((ambient >> (16 - 8 * c)) & 0xFF) / 255.0;
        shade.ambient[c] = TruncToInt32(channel * 1020.0 + 0.5);
    }

    PrepareLights();
    shade.ambientDirection =
        Vec3Compare(meanLightDirection, ZERO_VEC3) != 0 ? meanLightDirection : Vec3{0.0, -1.0, 0.0};
    const std::int32_t count =
        std::min(static_cast<std::int32_t>(renderLights.size()), RenderLightSlotCount);
    for (std::int32_t i = 0; i < RenderLightSlotCount; ++i) {
        RenderLightSlot& slot = LightSlot(i);
        slot.enabled = i < count ? 1 : 0;
        if (i >= count) continue;
        const RenderLight& light = renderLights[static_cast<std::size_t>(i)];
        slot.position = i < directionLightCount ? Vec3Scale(light.position, DirectionLightDistance)
                                                : light.position;
        RenderLightSlotSetColours(slot, light.colour, light.shadowColour, light.brightness);
        slot.hasRange = false;
    }
    // The lights that keep their distance come first and cast shadows; a light at an object
    // sits inside it and would shadow everything.
    const std::int32_t shadowLights = std::min(directionLightCount, count);
    if (isDelegate) {
        if (SetLightCounts(count, 0) == RenderSizeNoMemory) throw KVOutOfMemoryException();
    } else {
        PrepareShadows(settings, count, shadowLights);
    }
    settings.fogLayers.BuildRenderData(&fogBlock);
    // The first two fog layers become the shading's fog volumes, their quadrics seen from
    // the camera.
    const Matrix4W worldFromView = GetCameraMatrix();
    for (std::size_t i = 0; i < shade.fogVolumes.size(); ++i) {
        FogVolume& volume = shade.fogVolumes[i];
        volume = FogVolume{};
        if (i >= fogBlock.quadrics.size() || i >= fogBlock.layers.size()) continue;
        const Matrix4W form = QuadricTransform(fogBlock.quadrics[i], worldFromView);
        const auto& e = form.m;
        volume.form = {e[5], e[6], e[7], e[9], e[10], e[11], e[13], e[14], e[15]};
        volume.linear = Vec3{e[1], e[2], e[3]};
        volume.constant = e[0];
        volume.p = fogBlock.layers[i].values;
        volume.isEnabled = fogBlock.layers[i].flag != 0;
    }
}

void QRenderView::PrepareStars(const StarSettings& stars) {
    shade.isStars = stars.isOn;
    if (!stars.isOn) return;
    // The sky buffer the stars are filed in: made now when the view is already sized.
    if (SetSkyOption(true) == RenderSizeNoMemory) throw KVOutOfMemoryException();
    QDocumentBase* owner = Document();
    if (owner == nullptr || owner->Geometry() == nullptr) return;
    if (builtStars.has_value() && *builtStars == stars) return;
    builtStars.reset();
    BuildStarField(*owner->Geometry(), stars.seed, stars.count, stars.size, stars.spread);
    builtStars = stars;
}

void QRenderView::PrepareEdges(const ViewSettings& settings) {
    // The line style is the renderer's draw style; every non-zero style draws outlines, whose
    // lines neighbouring pixels share through the edge index map. The pixel pass draws them,
    // and it is what a second depth sample is kept for (the thin parts it finds), so either
    // turns it on. The wr switch asks for the quick look, every pixel point sampled as cast;
    // quick mode draws that look without lines and keeps the buffers as they are.
    const std::int32_t style = isQuickMode ? 0 : drawState.lineStyle;
    shade.drawStyle = style;
    edges.isRefined =
        !isQuickMode && !drawState.isWireframe && (style != 0 || SamplesPerPixel() > 1);
    if (!isQuickMode && options.edgeLines != (style != 0)) {
        const std::int32_t result = SetEdgeLineOption(style != 0);
        if (result == RenderSizeNoMemory) throw KVOutOfMemoryException();
        isFrameValid = false;
    }
    // The flat styles take the first line colour and width, the shaded ones the second.
    const bool isFlat = style > 0;
    const double width = isFlat ? settings.viewScale1 : settings.viewScale2;
    edges.outlineWidth = width > 0.0 ? std::min(width, MaxOutlineWidth) : 0.0;
    edges.outlineColour = Packed(settings.colours[isFlat ? 3 : 4]);
}

std::int32_t QRenderView::RenderDocument() {
    QDocumentBase* owner = Document();
    if (owner == nullptr || owner->Geometry() == nullptr || !BuffersReady()) {
        return CastNotSized;
    }
    PrepareRender(viewSettings);
    const Matrix4W viewFromWorld = ToWFirstMatrix(GetViewMatrix());
    LoadRenderParts(*this, *owner->Geometry(), viewFromWorld);
    // The stars are directions: only the view's rotation turns them.
    starSky.field = &owner->Geometry()->starField;
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 3; ++j) {
            starSky.viewFromWorld[3 * i + j] = viewFromWorld.m[4 * (i + 1) + j + 1];
        }
    }
    const std::int32_t result = RenderShadedFrame(*this);
    // A sketch frame holds no shading to build on.
    isFrameValid = result == CastDone && parts.Count() > 0 && !drawState.isSketch;
    return result;
}

std::int32_t QRenderView::ReportProgress(std::int32_t current, std::int32_t from, std::int32_t to,
                                         std::int32_t stage) {
    progress = RenderProgressState{current, from, to, stage};
    progressText = "Stage: " + std::to_string(stage);
    QDocumentBase* owner = Document();
    if (owner == nullptr) return 0;
    // An empty range has nothing left to do; it reports 0 rather than dividing by zero.
    const std::int64_t span = static_cast<std::int64_t>(to) - from;
    const std::int32_t percent =
        span == 0 ? 0 : static_cast<std::int32_t>(static_cast<std::int64_t>(current) * 100 / span);
    owner->AnnounceProgress(stage, percent);
    if (owner->IsAbortRequested()) throw QAbortException();
    return 0;
}

Matrix4W QRenderView::GetCameraMatrix() const {
    if (!isCameraDriven) return storedCameraMatrix;
    return ToWFirstMatrix(GetInverse(GetViewMatrix()));
}

void QRenderView::ConjugateByView(Matrix4& m) const {
    const Matrix4 v = GetViewMatrix();
    m = MultiplyMatrix(GetInverse(v), MultiplyMatrix(m, v));
}

void QRenderView::ConjugateByInverseView(Matrix4& m) const {
    const Matrix4 v = GetViewMatrix();
    m = MultiplyMatrix(v, MultiplyMatrix(m, GetInverse(v)));
}

Vec3 QRenderView::WorldDirToView(const Vec3& d) const {
    const Matrix4 v = GetViewMatrix();
    return Vec3{v.m[0] * d.x + v.m[1] * d.y + v.m[2] * d.z,
                v.m[4] * d.x + v.m[5] * d.y + v.m[6] * d.z,
                v.m[8] * d.x + v.m[9] * d.y + v.m[10] * d.z};
}

Vec3 QRenderView::ViewDirToWorld(const Vec3& d) const {
    const Matrix4 w = GetInverse(GetViewMatrix());
    return Vec3{w.m[0] * d.x + w.m[1] * d.y + w.m[2] * d.z,
                w.m[4] * d.x + w.m[5] * d.y + w.m[6] * d.z,
                w.m[8] * d.x + w.m[9] * d.y + w.m[10] * d.z};
}

Vec3 QRenderView::ScreenDeltaToWorld(double dx, double dy, double depth) const {
    const double f = focalScale * 1000.0;
    return ViewDirToWorld(Vec3{dx * depth / f, dy * depth / f, 0.0});
}

Vec3 QRenderView::ScreenDragOnPlane(double fromX, double fromY, double toX, double toY,
                                    const Vec3& point, const Vec3& normal) const {
    const double f = focalScale * 1000.0;
    const Vec3 n = WorldDirToView(normal);
    Vec3 p = point;
    TransformByView(p);
    if (!(p.z != 0.0)) return ZERO_VEC3;
    // The plane point on the screen (from the centre), and the drag's end.
    const double s0 = p.x * f / p.z;
    const double t0 = p.y * f / p.z;
    const double s1 = s0 + toX - fromX;
    const double t1 = t0 + toY - fromY;
    // Each screen point's ray (s, t, f) meets the plane n . q = n . p at depth
    // (n . p) f / (s nx + t ny + f nz).
    const double np = Vec3Dot(n, p);
    const double d0 = s0 * n.x + t0 * n.y + f * n.z;
    const double d1 = s1 * n.x + t1 * n.y + f * n.z;
    if (!(std::fabs(d0) > 1e-8) || !(std::fabs(d1) > 1e-8)) return ZERO_VEC3;
    const double z0 = np * f / d0;
    const double z1 = np * f / d1;
    Vec3 start{z0 * s0 / f, z0 * t0 / f, z0};
    Vec3 end{z1 * s1 / f, z1 * t1 / f, z1};
    TransformByInverseView(start);
    TransformByInverseView(end);
    return Vec3{end.x - start.x, end.y - start.y, end.z - start.z};
}

void QRenderView::ScaleZoom(double factor) {
    if (isDelegate) return;
    viewSettings.camera.m *= factor;
    if (secondaryView != nullptr) secondaryView->viewSettings.camera.m = viewSettings.camera.m;
}

void QRenderView::SetCameraPosition(const Vec3& position) {
    viewSettings.camera.position = position;
    if (!isDelegate && secondaryView != nullptr) {
        secondaryView->viewSettings.camera.position = position;
    }
}

void QRenderView::PrepareLights() {
    std::vector<RenderLight> records;
    Vec3 mean{};
    std::int32_t directionCount = 0;
    std::int32_t localCount = 0;
    TranslateBadAlloc([&] {
        const auto lights = viewSettings.lights.Lights();
        records.reserve(lights.size());

        // Direction lights: their positions seen from the view give the directions, and the
        // brightness-weighted sum of those gives the mean light direction.
        for (const QLight* light : lights) {
            if (!light->isOn || light->isAtObject) continue;
            Vec3 direction = light->position;
            TransformByView(direction);
            Vec3Normalize(direction);
            Vec3AddTo(mean, Vec3Scale(direction, light->brightness));
            records.push_back(RenderLightOf(*light, direction));
            ++directionCount;
        }
        if (Vec3Compare(mean, ZERO_VEC3) != 0) Vec3Normalize(mean);

        const Matrix4 viewFromWorld = GetViewMatrix();
        for (const QLight* light : lights) {
            if (!light->isOn || !light->isAtObject) continue;
            const Vec3 p = light->position;
            RenderLight record =
                RenderLightOf(*light, TransformPoint(viewFromWorld, p.x, p.y, p.z));
            record.localValue2 = std::max(light->localValue2 * 0.8, 0.1);
            record.localValue3 = std::min(light->localValue3, 0.99);
            records.push_back(record);
            ++localCount;
        }
    });
    renderLights = std::move(records);
    meanLightDirection = mean;
    directionLightCount = directionCount;
    localLightCount = localCount;
}

void QRenderView::ResetCamera() {
    QCamera& camera = viewSettings.camera;
    camera.fov = 1.0;
    camera.m = 1.0;
    // The turn goes into the rig, about the origin, and the camera stands back from it
    // unturned: the origin then lies straight ahead at depth 1000 / scene scale, between the
    // default near and far depths. Turning the camera itself at that position would leave the
    // origin behind it.
    camera.transform = Matrix4FromMatrix3(Matrix3FromEulerZYX(PI, 3.0 * PI / 4.0, -PI / 6.0));
    camera.orientation = Matrix3SetDiagonal(1.0);
    camera.position = Vec3{0.0, 0.0, -1000.0 / SceneScale};
}

Matrix4 QRenderView::GetViewMatrix() const {
    const DocumentView& source =
        (isDelegate && mainView != nullptr) ? *mainView : static_cast<const DocumentView&>(*this);
    return source.viewSettings.camera.GetViewMatrix();
}

void QRenderView::TransformByView(Vec3& point) const {
    point = ApplyAffine(GetViewMatrix(), point);
}

void QRenderView::TransformByInverseView(Vec3& point) const {
    point = ApplyAffine(GetInverse(GetViewMatrix()), point);
}

double QRenderView::MeasureDepthRange(double& nearest, double& farthest) const {
    double mean = -1.0;
    MeasureDepthSpread(nearest, farthest, mean);
    return mean;
}

void QRenderView::UpdateObjectGeometry() {
    // The overlay's handles are sized for the main view's camera as it stands.
    if (isDelegate && mainView != nullptr) {
        static_cast<QRenderView*>(mainView)->SyncObjectsWithView(false);
    }
}
