#include "scenefile/scene_file_writer.h"

#include "core/base64.h"
#include "core/check.h"
#include "core/matrix3.h"
#include "core/matrix4.h"
#include "core/private_block.h"
#include "core/private_heap.h"
#include "core/xml_document.h"
#include "imaging/image_file.h"
#include "model/document_view.h"
#include "model/q_document_base.h"
#include "model/q_group.h"
#include "model/q_groups.h"
#include "model/q_light.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "model/q_texture_list.h"
#include "model/q_toad_obj.h"
#include "model/q_toad_obj_list.h"
#include "model/view_settings.h"
#include "scenefile/bot_element.h"
#include "scenefile/object_records.h"
#include "scenefile/scene_file_reader.h"
#include "scenefile/scene_names.h"
#include "scenefile/scene_settings.h"
#include "scenefile/scene_values.h"
#include "texture/q_texture.h"
#include "texture/texture_xml.h"
#include "view/q_render_view.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

// Progress stage the document announces while a scene is saved.
constexpr std::int32_t SaveProgressStage = 64;
// The percentage announced before the object records, from which they count.
constexpr std::int32_t ObjectsProgressStart = 10;

// Ends the document's progress however the save ends.
class ProgressScope {
public:
    explicit ProgressScope(QDocumentBase& saved)
        : document(saved), isCurrent(IsCurrentDocument(saved)) {
        if (isCurrent) document.AnnounceProgress(SaveProgressStage, 0);
    }
    ~ProgressScope() {
        if (isCurrent) document.EndProgress();
    }
    ProgressScope(const ProgressScope&) = delete;
    ProgressScope& operator=(const ProgressScope&) = delete;

    void Announce(std::int32_t percent) {
        if (isCurrent) document.AnnounceProgress(SaveProgressStage, percent);
    }

private:
    QDocumentBase& document;
    bool isCurrent = false;
};

// A stored length from a working length.
Vec3 Stored(const Vec3& working, double scale) {
    return Vec3{working.x * scale, working.y * scale, working.z * scale};
}

// The scene values a writer needs that the render view holds, taken from the view, or from a
// new view's settings and the scene settings when the document has none.
struct ViewSource {
    const ViewSettings* view = nullptr;
    std::int32_t selectedLight = 0;
};

// The pieces the writer puts into the text after the document is built: one bot element
// for each placeholder "Toad" element.
struct BotPlaceholder {
    std::int32_t position = 0;
    std::string text;
};

void WriteCamera(XmlDocument& xml, const QCamera& camera, double scale) {
    xml.AddElement(CameraElement);
    SceneSetVector(xml, "p", Stored(camera.position, scale));
    SceneSetVector(xml, "r", SceneRotationToVector(Matrix3FromMatrix4(camera.transform)));
    SceneSetVector(xml, "o", SceneRotationToVector(camera.orientation));
    const Vec3 translation{camera.transform.m[3], camera.transform.m[7], camera.transform.m[11]};
    SceneSetVector(xml, "t", Stored(translation, scale));
    SceneSetFloat(xml, "fov", camera.fov);
}

void WriteCameraStack(XmlDocument& xml, const SceneSettings& s) {
    xml.AddElement(CameraStackElement);
    xml.EnterElement();
    for (const auto& camera : s.cameraStack) camera->WriteXml(xml);
    xml.LeaveElement();
}

void WriteFog(XmlDocument& xml, const ViewSettings& v, const SceneSettings& s, double scale) {
    xml.AddElement(FogElement);
    SceneSetFlag(xml, "on", s.fogOn);
    SceneSetFloat(xml, "n", v.nearDepth * scale);
    SceneSetFloat(xml, "f", v.farDepth * scale);
    SceneSetFlag(xml, "st", s.fogSt);
    SceneSetInt(xml, "type", s.fogTypeFlag ? 1 : 0);
    SceneSetColour(xml, "c", v.colours[1]);
    SceneSetFlag(xml, "vf", s.volumeFog);
    xml.EnterElement();
    for (const FogLayer& layer : v.fogLayers.layers) {
        xml.AddElement(FogLayerElement);
        SceneSetFlag(xml, "on", layer.flag != 0);
        SceneSetFloat(xml, "a", layer.values[2]);
        SceneSetFloat(xml, "r", layer.values[4] * scale);
        SceneSetFloat(xml, "g", layer.values[1]);
        SceneSetFloat(xml, "h", layer.values[0] * scale);
        SceneSetFloat(xml, "o", layer.values[3]);
    }
    xml.LeaveElement();
}

void WriteSky(XmlDocument& xml, const ViewSettings& v, const SceneSettings& s) {
    xml.AddElement(SkyElement);
    xml.EnterElement();
    xml.AddElement(GradientElement);
    SceneSetFlag(xml, "on", s.gradientOn);
    SceneSetFloat(xml, "a", v.viewAngle);
    SceneSetColour(xml, "hc", v.colours[6]);
    SceneSetColour(xml, "pc", v.colours[7]);
    xml.AddElement(StarsElement);
    SceneSetFlag(xml, "on", v.stars.isOn);
    SceneSetInt(xml, "n", v.stars.count);
    SceneSetInt(xml, "sd", v.stars.seed);
    SceneSetFloat(xml, "sz", v.stars.size);
    SceneSetFloat(xml, "c", v.stars.spread);
    xml.LeaveElement();
}

// The values of the "Shadows" element: the render view's while the document has one, else
// the settings record's.
struct ShadowValues {
    bool isOn = true;
    std::int32_t radiusMode = 0;
    std::int32_t centreMode = 0;
    bool isAuto = false;
    double radius = 0.0;
    double radiusWeight = 1.0;
    double density = 1.25;
    Vec3 centre{};
};

ShadowValues ShadowValuesOf(const DocumentView* view, const SceneSettings& s) {
    const auto* render = dynamic_cast<const QRenderView*>(view);
    if (render == nullptr) {
        return ShadowValues{s.shadowsOn != 0, s.shadowAutoMode,   s.shadowMode,
                            s.shadowAuto,     s.shadowCastRadius, s.shadowRadiusScale,
                            s.shadowDensity,  s.shadowPoint};
    }
    return ShadowValues{render->viewSettings.shadowsOn != 0,
                        render->shadowRadiusMode,
                        render->shadowCentreMode,
                        render->isShadowAuto,
                        render->shadowRadius,
                        render->shadowRadiusWeight,
                        render->lightMapScale,
                        render->shadowCentre};
}

void WriteFiltersAndShadows(XmlDocument& xml, const SceneSettings& s, const ShadowValues& shadows,
                            double scale) {
    xml.AddElement(FilterElement);
    SceneSetInt(xml, "t", s.filterType);
    SceneSetInt(xml, "a", s.filterAmount);
    xml.AddElement(InlineFiltersElement);
    SceneSetFlag(xml, "on", s.inlineFiltersOn);
    SceneSetFloat(xml, "b", s.inlineB);
    SceneSetFloat(xml, "s", s.inlineS);
    SceneSetFloat(xml, "c", s.inlineC);
    SceneSetFloat(xml, "h", s.inlineH);
    xml.AddElement(ShadowsElement);
    SceneSetInt(xml, "on", shadows.isOn ? 1 : 0);
    SceneSetInt(xml, "rm", shadows.radiusMode);
    SceneSetInt(xml, "cm", shadows.centreMode);
    SceneSetFlag(xml, "auto", shadows.isAuto);
    SceneSetFloat(xml, "cast", shadows.radius * scale);
    SceneSetFloat(xml, "rs", shadows.radiusWeight);
    SceneSetFloat(xml, "sd", shadows.density);
    SceneSetVector(xml, "cp", shadows.centre);
}

// The display values of the "Display" element that the render view holds while a scene is
// open: its draw state and its samples per pixel. They come from the settings record when the
// document has no render view.
struct DisplayDraw {
    bool isSketch = false;
    bool isWireframe = false;
    std::int32_t lineStyle = 0;
    std::int32_t samples = 1;
};

DisplayDraw DisplayDrawOf(const DocumentView* view, const SceneSettings& s) {
    const auto* render = dynamic_cast<const QRenderView*>(view);
    if (render == nullptr)
        return DisplayDraw{s.displaySk, s.displayWr, s.lineV, s.depthBufferCount};
    // The view holds 1 or 2 samples; a stored count that gives the view's count is written
    // as it came, so a scene saved unchanged keeps its bytes.
    const std::int32_t samples = render->SamplesPerPixel();
    const bool storedGivesSamples = std::clamp(s.depthBufferCount, 1, 2) == samples;
    return DisplayDraw{render->drawState.isSketch, render->drawState.isWireframe,
                       render->drawState.lineStyle,
                       storedGivesSamples ? s.depthBufferCount : samples};
}

void WriteDisplay(XmlDocument& xml, const ViewSettings& v, const DisplayDraw& draw,
                  const SceneSettings& s) {
    xml.AddElement(DisplayElement);
    SceneSetInt(xml, "sample", s.sample);
    SceneSetFlag(xml, "hilite", v.IsHighlightOn());
    SceneSetColour(xml, "col", v.colours[0]);
    SceneSetFlag(xml, "sk", draw.isSketch);
    SceneSetFlag(xml, "wr", draw.isWireframe);
    SceneSetInt(xml, "dz", draw.samples);
    SceneSetFloat(xml, "sm", s.displaySm);
    SceneSetFlag(xml, "do", s.displayDo);
    // The word's low three bits are the switches the reader unpacks from it; they are
    // written as the switches now stand, the other bits as the word came.
    const std::int32_t glWord = (s.glWord & ~7) | (s.glFirstSwitch ? 0 : 1) |
                                (s.glSecondSwitch ? 2 : 0) | (s.sustainedFastRender ? 4 : 0);
    SceneSetInt(xml, "gl", glWord);
    SceneSetInt(xml, "pd", s.displayPd);
    SceneSetFlag(xml, "ler", s.displayLer);
    xml.EnterElement();
    xml.AddElement(LineElement);
    SceneSetInt(xml, "v", draw.lineStyle);
    SceneSetFloat(xml, "ow", v.viewScale1);
    SceneSetFloat(xml, "lw", v.viewScale2);
    SceneSetColour(xml, "oc", v.colours[3]);
    SceneSetColour(xml, "lfc", v.colours[5]);
    SceneSetColour(xml, "lc", v.colours[4]);
    xml.LeaveElement();
}

void WriteGroups(XmlDocument& xml, const QGroups& groups) {
    xml.AddElement(GroupsElement);
    xml.EnterElement();
    for (std::int32_t i = 0; i < groups.Count(); ++i) {
        const QGroup* group = groups.GetGroup(i);
        xml.AddElement(GroupElement);
        xml.SetAttribute(xml.CurrentPosition(), "name", group->GetName());
        xml.SetAttribute(xml.CurrentPosition(), "parms", group->GetParms());
    }
    xml.LeaveElement();
}

void WriteLights(XmlDocument& xml, const ViewSource& source, double scale) {
    const ViewSettings& v = *source.view;
    xml.AddElement(LightsElement);
    SceneSetInt(xml, "sel", source.selectedLight);
    SceneSetColour(xml, "amb", v.colours[2]);
    xml.EnterElement();
    for (const QLight* light : v.lights.Lights()) {
        xml.AddElement(LightElement);
        SceneSetFlag(xml, "on", light->isOn);
        SceneSetFlag(xml, "lc", light->isAtObject);
        SceneSetVector(xml, "p", Stored(light->position, scale));
        SceneSetFloat(xml, "i", light->brightness);
        SceneSetColour(xml, "col", light->colour);
        SceneSetFloat(xml, "si", light->shadowFactor);
        const auto& triple = light->shadowBlendWeights;
        SceneSetVector(xml, "sb", Vec3{triple[0], triple[1], triple[2]});
        xml.EnterElement();
        xml.AddElement(FalloffElement);
        SceneSetFlag(xml, "on", light->flag0);
        SceneSetFloat(xml, "n", light->localValue1 * scale);
        SceneSetFloat(xml, "s", light->localValue2);
        SceneSetFloat(xml, "t", light->localValue3);
        xml.LeaveElement();
    }
    xml.LeaveElement();
}

void WriteOutput(XmlDocument& xml, const SceneSettings& s) {
    xml.AddElement(OutputElement);
    SceneSetInt(xml, "x", s.outputWidth);
    SceneSetInt(xml, "y", s.outputHeight);
    xml.EnterElement();
    xml.AddElement(CropRectElement);
    SceneSetFloat(xml, "ct", s.cropTop);
    SceneSetFloat(xml, "cl", s.cropLeft);
    SceneSetFloat(xml, "cw", s.cropWidth);
    SceneSetFloat(xml, "ch", s.cropHeight);
    SceneSetFlag(xml, "on", s.cropOn);
    xml.LeaveElement();
}

// The preview as the base64 of a 128 x 128 TIFF; empty when there is none or it cannot be
// encoded (the scene is then saved without one).
std::string ThumbnailText(std::span<const std::uint32_t> thumbnail) {
    constexpr std::size_t Words = std::size_t{SceneThumbnailSide} * SceneThumbnailSide;
    if (thumbnail.size() != Words) return {};
    std::uint32_t size = 0;
    PrivateBlockPtr<std::uint8_t> tiff(EncodeTiffToMemory(
        "argb", reinterpret_cast<const std::uint8_t*>(thumbnail.data()), SceneThumbnailSide,
        SceneThumbnailSide, SceneThumbnailSide * 4, false, 0, size));
    if (tiff == nullptr) return {};
    return Base64Encode({tiff.get(), size});
}

// Index of each scene object's entry in a list of the document: entry i for object i, -1
// for an object whose entry is in no list.
template <typename Entry, typename Find>
std::vector<std::int32_t> IndexTable(const std::vector<QMorvanObject*>& objects,
                                     const std::vector<Entry*>& list, Find entryOf) {
    std::map<const void*, std::int32_t> indexOf;
    for (std::size_t k = 0; k < list.size(); ++k) {
        indexOf.emplace(list[k], static_cast<std::int32_t>(k));
    }
    std::vector<std::int32_t> table(objects.size(), -1);
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const void* entry = entryOf(*objects[i]);
        if (const auto found = indexOf.find(entry); entry != nullptr && found != indexOf.end()) {
            table[i] = found->second;
        }
    }
    return table;
}

std::vector<QGroup*> GroupList(const QGroups& groups) {
    std::vector<QGroup*> list;
    for (std::int32_t i = 0; i < groups.Count(); ++i) list.push_back(groups.GetGroup(i));
    return list;
}

// The positive finite scale of the settings; the default scale otherwise, as the reader
// takes one that is not.
double ScaleOf(const SceneSettings& s) {
    return s.scale > 0.0 && std::isfinite(s.scale) ? s.scale : SceneScale;
}

// Builds the whole file text into text. Returns SceneSaved or SceneTextureNotEncoded.
std::int16_t BuildSceneText(QDocumentBase& document, SceneSaveMode mode, const SceneSettings& s,
                            std::span<const std::uint32_t> thumbnail, ProgressScope& progress,
                            std::string& text) {
    const double scale = ScaleOf(s);
    const bool withObjects = mode != SceneSaveMode::ViewOnly;
    const bool withBots = mode == SceneSaveMode::Everything;

    ViewSettings fallback;
    ViewSource source;
    if (const DocumentView* view = document.RenderView()) {
        source.view = &view->viewSettings;
        source.selectedLight = view->selectedLight;
    } else {
        fallback.nearDepth = s.fogNear;
        fallback.farDepth = s.fogFar;
        fallback.colours[0] = s.displayColour;
        fallback.SetHighlight(s.hilite);
        fallback.colours[1] = s.fogColour;
        fallback.colours[2] = s.ambient;
        fallback.colours[6] = s.gradientHc;
        fallback.colours[7] = s.gradientPc;
        fallback.colours[3] = s.lineOc;
        fallback.colours[4] = s.lineLc;
        fallback.colours[5] = s.lineLfc;
        fallback.viewScale1 = s.lineOw;
        fallback.viewScale2 = s.lineLw;
        fallback.viewAngle = s.gradientA;
        fallback.stars = StarSettings{s.starsOn, s.starCount, s.starSeed, s.starSize, s.starSpread};
        source.view = &fallback;
        source.selectedLight = s.selectedLight;
    }
    const ViewSettings& v = *source.view;

    const std::vector<QMorvanObject*>& objects = document.Objects()->Objects();
    std::vector<std::int32_t> textureIndices;
    if (withObjects) {
        textureIndices =
            IndexTable(objects, document.TextureList()->Textures(),
                       [](const QMorvanObject& o) -> const void* { return o.Texture(); });
    }
    const std::vector<std::int32_t> groupIndices =
        IndexTable(objects, GroupList(*document.Groups()),
                   [](const QMorvanObject& o) -> const void* { return o.Group(); });

    XmlDocument xml(SceneXmlDeclaration);
    xml.AddElement(RootElement);
    xml.SetAttribute(xml.CurrentPosition(), "version", SceneFileVersionText);
    document.fileVersion = SceneFileVersion;
    xml.EnterElement();

    if (const std::string preview = ThumbnailText(thumbnail); !preview.empty()) {
        xml.AddElement(ThumbnailElement, preview);
        SceneSetInt(xml, "w", SceneThumbnailSide);
        SceneSetInt(xml, "h", SceneThumbnailSide);
    }

    xml.AddElement(ViewElement);
    SceneSetFloat(xml, ViewScaleKey, scale);
    xml.EnterElement();
    WriteCamera(xml, v.camera, scale);
    WriteCameraStack(xml, s);
    WriteFog(xml, v, s, scale);
    WriteSky(xml, v, s);
    WriteFiltersAndShadows(xml, s, ShadowValuesOf(document.RenderView(), s), scale);
    WriteDisplay(xml, v, DisplayDrawOf(document.RenderView(), s), s);
    WriteGroups(xml, *document.Groups());
    progress.Announce(ObjectsProgressStart);
    WriteQSect(document, xml, textureIndices, groupIndices, mode, scale);
    WriteLights(xml, source, scale);
    xml.LeaveElement();

    WriteOutput(xml, s);

    std::int16_t result = SceneSaved;
    xml.AddElement(TexturesElement);
    xml.EnterElement();
    if (withObjects) {
        for (QReferenceObject* member : document.TextureList()->Textures()) {
            auto* texture = dynamic_cast<QTexture*>(member);
            ORBELLE_CHECK(texture != nullptr);
            if (WriteTextureXml(*texture, xml, false) != 0) result = SceneTextureNotEncoded;
        }
    }
    xml.LeaveElement();

    std::vector<BotPlaceholder> placeholders;
    xml.AddElement(BotsElement);
    xml.EnterElement();
    if (withBots) {
        const std::vector<QToadObj*>& bots = document.BotList()->Bots();
        std::map<const QToadObj*, std::int32_t> numbers;
        for (std::size_t i = 0; i < bots.size(); ++i) {
            numbers.emplace(bots[i], static_cast<std::int32_t>(i));
            xml.AddElement(BotElement);
            placeholders.push_back({xml.CurrentPosition(), BotElementText(*bots[i])});
        }
        for (const QToadObj* bot : bots) {
            xml.AddElement(MorphLinkElement);
            if (const auto prev = numbers.find(bot->morphPrev); prev != numbers.end()) {
                SceneSetInt(xml, "prev", prev->second);
            }
            if (const auto next = numbers.find(bot->morphNext); next != numbers.end()) {
                SceneSetInt(xml, "next", next->second);
            }
            SceneSetFlag(xml, "sm", document.SecondBot() == bot);
        }
    }
    xml.LeaveElement();

    // Each bot element takes its placeholder's place, the last first, so the places of the
    // others stay where the document recorded them.
    text = xml.Text();
    for (auto it = placeholders.rbegin(); it != placeholders.rend(); ++it) {
        const ElementPosition* e = xml.Element(it->position);
        text.replace(static_cast<std::size_t>(e->start), static_cast<std::size_t>(e->length),
                     it->text);
    }
    return result;
}

}  // namespace

std::int16_t SaveSceneFile(QDocumentBase& document, std::string_view path, SceneSaveMode mode,
                           const SceneSettings* settings,
                           std::span<const std::uint32_t> thumbnail) {
    ProgressScope progress(document);
    const SceneSettings defaults;
    std::string text;
    const std::int16_t built = TranslateBadAlloc([&] {
        return BuildSceneText(document, mode, settings != nullptr ? *settings : defaults, thumbnail,
                              progress, text);
    });
    // A texture written without its image would come back without it: nothing is saved.
    if (built != SceneSaved) return built;
    std::string resultText;
    std::uint32_t flags = 0;
    if (!XmlDocument::WriteTextFile(text, resultText, path, flags)) return SceneNotWritten;
    progress.Announce(100);
    return SceneSaved;
}
