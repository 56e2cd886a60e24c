#include "view/texture_preview_scene.h"

#include "core/colour.h"
#include "core/matrix4.h"
#include "core/private_block.h"
#include "model/q_document_base.h"
#include "model/q_light.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "texture/q_texture.h"
#include "texture/texture_preview.h"
#include "view/q_render_view.h"

#include <memory>

namespace {

// The scene is kept in stored lengths and read in working lengths.
constexpr double PreviewSceneScale = 100.0;
constexpr double PreviewSphereRadius = 60.0 / PreviewSceneScale;
constexpr double PreviewLightBrightness = 0.6;

// The document outlives its view: the view goes first.
class PreviewScene final : public TexturePreviewScene {
public:
    std::unique_ptr<QDocumentBase> document;
    std::unique_ptr<QRenderView> view;
};

PreviewScene* SceneOf(QTexture& texture) {
    return static_cast<PreviewScene*>(texture.previewScene.get());
}

void AddPreviewLight(QRenderView& view, const Vec3& storedPosition) {
    auto light = std::make_unique<QLight>(&view);
    light->colour = ColourFromBytes(255, 255, 255);
    light->brightness = PreviewLightBrightness;
    light->isOn = true;
    light->position = Vec3{storedPosition.x / PreviewSceneScale,
                           storedPosition.y / PreviewSceneScale,
                           storedPosition.z / PreviewSceneScale};
    view.viewSettings.lights.AddLight(std::move(light));
}

QMorvanObject* PreviewSphere(PreviewScene& scene) {
    QMorvanObjects* objects = scene.document->Objects();
    if (objects == nullptr || objects->Count() == 0) return nullptr;
    return objects->At(0);
}

void BuildPreviewScene(QTexture& texture) {
    const auto words = static_cast<std::uint32_t>(texture.previewStride / 4) *
                       static_cast<std::uint32_t>(texture.previewHeight);
    texture.previewPixels = PrivateAllocBlock<std::uint32_t>(words);
    auto owned = std::make_unique<PreviewScene>();
    PreviewScene& scene = *owned;
    scene.document = std::make_unique<QDocumentBase>();
    scene.view = std::make_unique<QRenderView>(scene.document.get());
    texture.previewScene = std::move(owned);

    QRenderView& view = *scene.view;
    view.InitViewBuffers(texture.previewStride, texture.previewPixels.get(), texture.previewWidth,
                         texture.previewHeight, true);
    view.viewSettings.colours[0] = ColourFromBytes(0, 0, 0);
    view.viewSettings.colours[2] = ColourFromBytes(90, 90, 90);
    // Seen from the other side of the x axis: the half turn puts the lights above and in
    // front of the sphere.
    Matrix4& camera = view.viewSettings.camera.transform;
    camera = MakeIdentity();
    SetRotationCosSin(camera, Vec3{1.0, 0.0, 0.0}, -1.0, 0.0);

    view.viewSettings.lights.RemoveAll();
    AddPreviewLight(view, Vec3{100.0, 500.0, 300.0});
    AddPreviewLight(view, Vec3{-100.0, -500.0, 0.0});
    view.PrepareLights();

    QMorvanObject* sphere = scene.document->Objects()->AddShapeType1(
        PreviewSphereRadius, ColourFromBytes(255, 255, 255), Vec3{});
    sphere->SetTexture(&texture, true);
    sphere->SetTint(0, true);
    view.RenderDocument();
}

}  // namespace

void RenderTexturePreviewScene(QTexture& texture, std::int32_t mode) {
    if (!texture.previewScene) {
        BuildPreviewScene(texture);
        return;
    }
    RefreshTexturePreview(texture, mode);
}

void RefreshTexturePreview(QTexture& texture, std::int32_t) {
    PreviewScene* scene = SceneOf(texture);
    if (scene == nullptr || !texture.previewPixels || !scene->view) return;
    if (QMorvanObject* sphere = PreviewSphere(*scene)) sphere->MarkChangedAndRebuild();
    scene->view->RenderDocument();
}

void ViewInitProcess() { SetTexturePreviewRenderer(RenderTexturePreviewScene); }
