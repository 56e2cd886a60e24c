#include "view/q_render_view.h"

#include "core/colour.h"
#include "core/private_heap.h"
#include "core/rotation.h"
#include "core/scalar_maths.h"
#include "model/q_document_base.h"
#include "model/q_light.h"

#include <algorithm>
#include <cfloat>
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

}  // namespace

QRenderView::QRenderView(QDocumentBase* owner) : DocumentView(owner) {}

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

bool QRenderView::PickAtPixel(std::int32_t, std::int32_t, std::int32_t, std::int32_t& objectIndex,
                              Vec3& point, Vec3& normal) const {
    objectIndex = -1;
    point = ZERO_VEC3;
    normal = ZERO_VEC3;
    return false;
}

double QRenderView::MeasureDepthRange(double& nearest, double& farthest) const {
    nearest = DBL_MAX;
    farthest = 0.0;
    return -1.0;
}

void QRenderView::SyncObjectsWithView(bool) {}

void QRenderView::UpdateObjectGeometry() {}
