#include "scenefile/scene_file_reader.h"

#include "core/base64.h"
#include "core/byte_order.h"
#include "core/crt_random.h"
#include "core/float_convert.h"
#include "core/matrix4.h"
#include "core/private_heap.h"
#include "core/rotation.h"
#include "core/xml_document.h"
#include "geometry/part_block.h"
#include "geometry/part_record.h"
#include "geometry/scene_geometry.h"
#include "model/document_view.h"
#include "model/fog_layer_list.h"
#include "model/q_document_base.h"
#include "model/q_group.h"
#include "model/q_groups.h"
#include "model/q_light.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "model/q_texture_list.h"
#include "model/q_toad_obj.h"
#include "model/q_toad_obj_list.h"
#include "platform/file_bytes.h"
#include "scenefile/object_records.h"
#include "scenefile/scene_names.h"
#include "scenefile/scene_settings.h"
#include "scenefile/scene_values.h"
#include "texture/q_texture.h"
#include "texture/texture_xml.h"
#include "view/q_render_view.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// Progress stage the document announces while a scene loads.
constexpr std::int32_t LoadProgressStage = 32;

struct ObjEntry {
    PrivateBlockPtr<std::uint8_t> record;
    std::int32_t textureIndex = -1;
    std::int32_t groupIndex = 0;
    std::int32_t botIndex = -1;
    std::int32_t toadOp = 0;  // element position, 0 for none
    std::string text;
};

struct LightEntry {
    bool on = false;
    bool atObject = false;
    Vec3 position{};
    double brightness = 0.0;
    Colour colour{};
    double shadow = 0.0;
    std::array<double, 3> shadowTriple{0.0, -0.0, -0.0};
    bool falloffOn = false;
    double falloff = 0.0;
    double slope = 0.0;
    double tail = 0.0;
};

struct BotEntry {
    std::string element;
    std::string name;
    std::uint8_t morphHead = 0;
    std::optional<std::int32_t> morphMode;
    std::optional<std::int32_t> morphSteps;
    std::optional<float> morphDuration;
    std::optional<std::array<float, 22>> bt;
};

struct MorphEntry {
    std::optional<std::int32_t> prev;
    std::optional<std::int32_t> next;
    bool second = false;
};

// Everything a scene file says, read aside before the document changes.
struct SceneContents {
    SceneSettings settings;
    bool hasView = false;
    bool hasCamera = false;
    QCamera camera;
    bool hasFog = false;
    std::vector<FogLayer> fogLayers;
    bool hasGradient = false;
    bool hasDisplay = false;
    bool hasShadows = false;
    bool hasLine = false;
    bool hasFogColour = false;  // the fog colour was given, or taken from the display's
    bool hasAmbient = false;
    std::vector<LightEntry> lights;
    std::optional<std::string> defaultGroupParms;  // the writer's own "[Default]" group
    std::vector<std::pair<std::string, std::string>> groups;  // name, parms
    std::uint16_t blockVersion = 0;
    std::uint32_t blockIdSpan = 0;
    std::uint8_t blockFlags = 0;
    std::uint64_t recordBytes = 0;
    std::vector<ObjEntry> objects;
    std::vector<std::unique_ptr<QTexture>> textures;
    std::vector<BotEntry> bots;
    std::vector<MorphEntry> morphs;
};

// Raised inside the reader with the result it ends with.
struct SceneReadFailure {
    std::int16_t code;
};

// A stored length as a working length: divided by the file's scale.
Vec3 WorkingLengths(const Vec3& stored, double scale) {
    return Vec3{stored.x / scale, stored.y / scale, stored.z / scale};
}

void Announce(QDocumentBase& document, std::int32_t percent) {
    if (IsCurrentDocument(document)) document.AnnounceProgress(LoadProgressStage, percent);
}

// ---- reading aside ----------------------------------------------------------------------

void ReadCamera(const XmlDocument& xml, std::int32_t element, double scale, QCamera& camera) {
    camera.position = WorkingLengths(SceneVectorAt(xml, element, "p"), scale);
    Vec3 axis;
    double angle = 0.0;
    SceneRotationVector(SceneVectorAt(xml, element, "r"), axis, angle);
    camera.transform = Matrix4FromAxisAngle(axis, angle);
    const Vec3 t = WorkingLengths(SceneVectorAt(xml, element, "t"), scale);
    camera.transform.m[3] = t.x;
    camera.transform.m[7] = t.y;
    camera.transform.m[11] = t.z;
    SceneRotationVector(SceneVectorAt(xml, element, "o"), axis, angle);
    camera.orientation = Matrix3FromAxisAngle(axis, angle);
    camera.fov = SceneFloatAt(xml, element, "fov");
}

void ReadFog(const XmlDocument& xml, std::int32_t fog, SceneContents& c) {
    SceneSettings& s = c.settings;
    s.fogOn = SceneIntAt(xml, fog, "on") != 0;
    s.fogNear = SceneFloatAt(xml, fog, "n") / s.scale;
    s.fogFar = SceneFloatAt(xml, fog, "f") / s.scale;
    s.fogSt = SceneIntAt(xml, fog, "st") != 0;
    if (const auto type = SceneOptionalIntAt(xml, fog, "type")) s.fogTypeFlag = *type == 1;
    if (SceneHasValue(xml, fog, "c")) {
        s.fogColour = SceneColourAt(xml, fog, "c");
        c.hasFogColour = true;
    }
    if (const auto vf = SceneOptionalIntAt(xml, fog, "vf")) s.volumeFog = *vf != 0;
    c.hasFog = true;
    for (std::int32_t v = SceneFindChild(xml, fog, 0, FogLayerElement); v != 0;
         v = SceneNextNamed(xml, v, FogLayerElement)) {
        FogLayer layer;
        layer.flag = SceneIntAt(xml, v, "on") != 0 ? 1 : 0;
        layer.values[0] = SceneFloatAt(xml, v, "h") / s.scale;
        layer.values[1] = SceneFloatAt(xml, v, "g");
        layer.values[2] = SceneFloatAt(xml, v, "a");
        layer.values[3] = SceneFloatAt(xml, v, "o");
        layer.values[4] = SceneFloatAt(xml, v, "r") / s.scale;
        c.fogLayers.push_back(layer);
    }
    // A fog without layers gets the two default layers, the first flagged.
    if (c.fogLayers.empty()) c.fogLayers = FogLayerList().layers;
}

void ReadSky(const XmlDocument& xml, std::int32_t sky, SceneContents& c) {
    SceneSettings& s = c.settings;
    if (const std::int32_t grad = SceneFindChild(xml, sky, 0, GradientElement)) {
        c.hasGradient = true;
        s.gradientOn = SceneIntAt(xml, grad, "on") != 0;
        s.gradientA = SceneFloatAt(xml, grad, "a");
        s.gradientHc = SceneColourAt(xml, grad, "hc");
        s.gradientPc = SceneColourAt(xml, grad, "pc");
    }
    if (const std::int32_t stars = SceneFindChild(xml, sky, 0, StarsElement)) {
        s.starsOn = SceneIntAt(xml, stars, "on") != 0;
        s.starCount = SceneIntAt(xml, stars, "n");
        s.starSeed = SceneIntAt(xml, stars, "sd");
        s.starSize = SceneFloatAt(xml, stars, "sz");
        s.starSpread = SceneFloatAt(xml, stars, "c");
    }
}

void ReadShadows(const XmlDocument& xml, std::int32_t shadows, SceneSettings& s) {
    s.shadowsOn = SceneIntAt(xml, shadows, "on") != 0 ? 1 : 0;
    s.shadowAutoMode = SceneIntAt(xml, shadows, "rm");
    s.shadowMode = SceneIntAt(xml, shadows, "cm");
    s.shadowAuto = SceneIntAt(xml, shadows, "auto") != 0;
    // Zero stands for "never set": the defaults 1000, 1 and 1.25 take its place.
    const float cast = SceneFloatAt(xml, shadows, "cast");
    s.shadowCastRadius = (cast == 0.0f ? 1000.0 : static_cast<double>(cast)) / s.scale;
    const float rs = SceneFloatAt(xml, shadows, "rs");
    s.shadowRadiusScale = rs == 0.0f ? 1.0f : rs;
    const float sd = SceneFloatAt(xml, shadows, "sd");
    s.shadowDensity = sd == 0.0f ? 1.25f : sd;
    s.shadowPoint = SceneVectorAt(xml, shadows, "cp");
}

void ReadDisplay(const XmlDocument& xml, std::int32_t display, SceneContents& c) {
    SceneSettings& s = c.settings;
    c.hasDisplay = true;
    s.sample = SceneIntAt(xml, display, "sample");
    s.hilite = SceneIntAt(xml, display, "hilite") != 0;
    s.displayColour = SceneColourAt(xml, display, "col");
    if (!s.fogTypeFlag) {
        s.fogColour = s.displayColour;
        c.hasFogColour = true;
    }
    s.displaySk = SceneIntAt(xml, display, "sk") != 0;
    s.displayWr = SceneIntAt(xml, display, "wr") != 0;
    s.depthBufferCount = SceneIntAt(xml, display, "dz");
    if (SceneHasValue(xml, display, "sm")) s.displaySm = SceneFloatAt(xml, display, "sm");
    if (s.depthBufferCount == 0) s.depthBufferCount = 1;
    if (const auto v = SceneOptionalIntAt(xml, display, "do")) s.displayDo = *v != 0;
    if (const auto v = SceneOptionalIntAt(xml, display, "gl")) s.glWord = *v;
    if (const auto v = SceneOptionalIntAt(xml, display, "pd")) s.displayPd = *v;
    if (const auto v = SceneOptionalIntAt(xml, display, "ler")) s.displayLer = *v != 0;
    s.glFirstSwitch = (s.glWord & 1) == 0;
    s.glSecondSwitch = (s.glWord & 2) != 0;
    s.sustainedFastRender = (s.glWord & 4) != 0;
    if (const std::int32_t line = SceneFindChild(xml, display, 0, LineElement)) {
        c.hasLine = true;
        s.lineV = SceneIntAt(xml, line, "v");
        s.lineOw = SceneFloatAt(xml, line, "ow");
        s.lineLw = SceneFloatAt(xml, line, "lw");
        s.lineOc = SceneColourAt(xml, line, "oc");
        s.lineLc = SceneColourAt(xml, line, "lc");
        s.lineLfc = SceneColourAt(xml, line, "lfc");
    }
}

void ReadLights(const XmlDocument& xml, std::int32_t lights, SceneContents& c) {
    SceneSettings& s = c.settings;
    s.selectedLight = SceneIntAt(xml, lights, "sel");
    if (SceneHasValue(xml, lights, "amb")) {
        s.ambient = SceneColourAt(xml, lights, "amb");
        c.hasAmbient = true;
    }
    for (std::int32_t l = SceneFindChild(xml, lights, 0, LightElement); l != 0;
         l = SceneNextNamed(xml, l, LightElement)) {
        LightEntry light;
        light.on = SceneIntAt(xml, l, "on") != 0;
        light.atObject = SceneIntAt(xml, l, "lc") != 0;
        light.position = WorkingLengths(SceneVectorAt(xml, l, "p"), s.scale);
        light.brightness = SceneFloatAt(xml, l, "i");
        light.colour = SceneColourAt(xml, l, "col");
        if (SceneHasValue(xml, l, "si")) {
            light.shadow = SceneFloatAt(xml, l, "si");
            const Vec3 sb = SceneVectorAt(xml, l, "sb");
            light.shadowTriple = {sb.x, sb.y, sb.z};
        }
        if (const std::int32_t fo = SceneFindChild(xml, l, 0, FalloffElement)) {
            light.falloffOn = SceneIntAt(xml, fo, "on") != 0;
            light.falloff = SceneFloatAt(xml, fo, "n") / s.scale;
            light.slope = SceneFloatAt(xml, fo, "s");
            light.tail = SceneFloatAt(xml, fo, "t");
        }
        c.lights.push_back(light);
    }
}

void ReadOutput(const XmlDocument& xml, std::int32_t output, SceneSettings& s) {
    s.outputWidth = SceneIntAt(xml, output, "x");
    s.outputHeight = SceneIntAt(xml, output, "y");
    // Old files carry whole-number "Crop"; "CropRect" wins when both are there.
    if (const std::int32_t crop = SceneFindChild(xml, output, 0, OldCropElement)) {
        s.cropOn = SceneIntAt(xml, crop, "on") != 0;
        s.cropTop = SceneIntAt(xml, crop, "ct");
        s.cropLeft = SceneIntAt(xml, crop, "cl");
        s.cropWidth = SceneIntAt(xml, crop, "cw");
        s.cropHeight = SceneIntAt(xml, crop, "ch");
    }
    if (const std::int32_t crop = SceneFindChild(xml, output, 0, CropRectElement)) {
        s.cropOn = SceneIntAt(xml, crop, "on") != 0;
        s.cropTop = SceneFloatAt(xml, crop, "ct");
        s.cropLeft = SceneFloatAt(xml, crop, "cl");
        s.cropWidth = SceneFloatAt(xml, crop, "cw");
        s.cropHeight = SceneFloatAt(xml, crop, "ch");
    }
}

void ReadObjects(const XmlDocument& xml, std::int32_t kvr, SceneContents& c) {
    c.blockVersion = static_cast<std::uint16_t>(SceneIntAt(xml, kvr, "version"));
    c.blockIdSpan = static_cast<std::uint32_t>(SceneIntAt(xml, kvr, "numGroups"));
    c.blockFlags = static_cast<std::uint8_t>(SceneIntAt(xml, kvr, "flags"));
    for (std::int32_t obj = SceneFindChild(xml, kvr, 0, ObjElement); obj != 0;
         obj = SceneNextNamed(xml, obj, ObjElement)) {
        ObjEntry entry;
        entry.record = ReadObjRecord(xml, obj, ObjKeys::Scene, c.settings.scale);
        if (!entry.record) throw SceneReadFailure{SceneUnreadable};
        c.recordBytes += PartRecordBytes(entry.record.get());
        if (c.recordBytes > ObjRecordBytesLimit(xml.Text().size())) {
            throw SceneReadFailure{SceneUnreadable};
        }
        if (const auto ti = SceneOptionalIntAt(xml, obj, "ti")) entry.textureIndex = *ti;
        entry.groupIndex = SceneIntAt(xml, obj, "gi");
        if (const auto tb = SceneOptionalIntAt(xml, obj, "tb")) entry.botIndex = *tb;
        entry.toadOp = SceneFindChild(xml, obj, 0, SeedPointElement);
        entry.text = xml.GetAttributeAt(obj, "t");
        c.objects.push_back(std::move(entry));
    }
}

void ReadGroups(const XmlDocument& xml, std::int32_t groups, SceneContents& c) {
    for (std::int32_t g = SceneFindChild(xml, groups, 0, GroupElement); g != 0;
         g = SceneNextNamed(xml, g, GroupElement)) {
        std::string name = xml.GetAttributeAt(g, "name");
        std::string parms = xml.GetAttributeAt(g, "parms");
        // The writer writes the document's default group first; it is that group again,
        // not a second one, so every group index of the objects stays what it was.
        if (c.groups.empty() && !c.defaultGroupParms && name == DefaultGroupName) {
            c.defaultGroupParms = std::move(parms);
            continue;
        }
        c.groups.emplace_back(std::move(name), std::move(parms));
    }
}

std::optional<std::array<float, 22>> ReadRow(const XmlDocument& xml, std::int32_t element) {
    if (element == 0) return std::nullopt;
    std::array<std::uint8_t, 88> bytes{};
    const std::string text = xml.GetDataAt(element);
    if (Base64ToBytes(text, bytes.data(), bytes.size(), 4) < bytes.size()) return std::nullopt;
    std::array<float, 22> row{};
    for (std::size_t i = 0; i < row.size(); ++i) row[i] = LoadF32LE(bytes.data() + 4 * i);
    return row;
}

void ReadBots(const XmlDocument& xml, std::int32_t toads, SceneContents& c) {
    for (std::int32_t t = SceneFindChild(xml, toads, 0, BotElement); t != 0;
         t = SceneNextNamed(xml, t, BotElement)) {
        BotEntry bot;
        const ElementPosition* e = xml.Element(t);
        bot.element = xml.Text().substr(static_cast<std::size_t>(e->start),
                                        static_cast<std::size_t>(e->length));
        bot.name = xml.GetDataAt(SceneFindChild(xml, t, 0, BotNameElement));
        bot.morphHead = SceneTextToInt(xml.GetDataAt(SceneFindChild(xml, t, 0, BotMorphHeadElement))) != 0;
        if (const std::int32_t morph = SceneFindChild(xml, t, 0, BotMorphElement)) {
            bot.morphMode = SceneIntAt(xml, morph, "m");
            bot.morphSteps = SceneIntAt(xml, morph, "i");
            if (const std::int32_t time = SceneFindChild(xml, morph, 0, BotMorphTimeElement)) {
                bot.morphDuration = SceneFloatAt(xml, time, "s");
            }
        }
        bot.bt = ReadRow(xml, SceneFindChild(xml, t, 0, BotModeRowElement));
        c.bots.push_back(std::move(bot));
    }
    for (std::int32_t m = SceneFindChild(xml, toads, 0, MorphLinkElement); m != 0;
         m = SceneNextNamed(xml, m, MorphLinkElement)) {
        MorphEntry morph;
        morph.prev = SceneOptionalIntAt(xml, m, "prev");
        morph.next = SceneOptionalIntAt(xml, m, "next");
        morph.second = SceneIntAt(xml, m, "sm") != 0;
        c.morphs.push_back(morph);
    }
}

// The elements that QCamera and the texture reader read from the document's current
// element, reached by navigation: the camera stack and the textures.
void ReadNavigated(XmlDocument& xml, QDocumentBase& document, SceneContents& c) {
    const std::int32_t root = xml.CurrentPosition();
    if (!xml.EnterElement() || !xml.FindElement(ViewElement)) return;
    if (xml.EnterElement() && xml.FindElement(CameraStackElement) && xml.EnterElement()) {
        while (xml.FindElement(CameraElement)) {
            auto camera = std::make_unique<QCamera>();
            camera->ReadXml(xml);
            c.settings.cameraStack.push_back(std::move(camera));
        }
        xml.LeaveElement();
    }
    while (xml.CurrentPosition() != root && xml.LeaveElement()) {
    }
    if (xml.EnterElement() && xml.FindElement(TexturesElement) && xml.EnterElement()) {
        while (xml.FindElement(TextureElement)) {
            auto texture = std::make_unique<QTexture>(&document);
            (void)ReadTextureXml(&document, xml, *texture, false, true);
            c.textures.push_back(std::move(texture));
        }
        xml.LeaveElement();
    }
    while (xml.CurrentPosition() != root && xml.LeaveElement()) {
    }
}

void ReadScene(XmlDocument& xml, QDocumentBase& document, std::int32_t root, SceneContents& c) {
    SceneSettings& s = c.settings;
    const std::int32_t view = SceneFindChild(xml, root, 0, ViewElement);
    c.hasView = view != 0;
    const std::int32_t container = view != 0 ? view : root;
    if (view != 0) {
        const float scale = SceneFloatAt(xml, view, ViewScaleKey);
        // A scale that is not a positive finite number would turn every length into
        // infinities or NaNs; such a file is read at the default scale.
        if (scale > 0.0f && std::isfinite(scale)) s.scale = scale;
        if (const std::int32_t camera = SceneFindChild(xml, view, 0, CameraElement)) {
            c.hasCamera = true;
            ReadCamera(xml, camera, s.scale, c.camera);
        }
        if (const std::int32_t fog = SceneFindChild(xml, view, 0, FogElement)) ReadFog(xml, fog, c);
        if (const std::int32_t sky = SceneFindChild(xml, view, 0, SkyElement)) ReadSky(xml, sky, c);
        if (const std::int32_t filter = SceneFindChild(xml, view, 0, FilterElement)) {
            s.filterType = SceneIntAt(xml, filter, "t");
            s.filterAmount = SceneIntAt(xml, filter, "a");
        }
        if (const std::int32_t filters = SceneFindChild(xml, view, 0, InlineFiltersElement)) {
            s.inlineFiltersOn = SceneIntAt(xml, filters, "on") != 0;
            s.inlineS = SceneFloatAt(xml, filters, "s");
            s.inlineC = SceneFloatAt(xml, filters, "c");
            s.inlineH = SceneFloatAt(xml, filters, "h");
            s.inlineB = SceneFloatAt(xml, filters, "b");
        }
        if (const std::int32_t shadows = SceneFindChild(xml, view, 0, ShadowsElement)) {
            ReadShadows(xml, shadows, s);
            c.hasShadows = true;
        }
        if (const std::int32_t display = SceneFindChild(xml, view, 0, DisplayElement)) {
            ReadDisplay(xml, display, c);
        }
        if (const std::int32_t groups = SceneFindChild(xml, view, 0, GroupsElement)) {
            ReadGroups(xml, groups, c);
        }
    }

    const std::int32_t kvr = SceneFindChild(xml, container, 0, KvrElement);
    if (kvr == 0) throw SceneReadFailure{SceneInvalid};
    ReadObjects(xml, kvr, c);
    // The geometry takes blocks of its own version only.
    if (c.blockVersion != PartBlockVersion) throw SceneReadFailure{SceneUnreadable};

    if (const std::int32_t lights = SceneFindChild(xml, container, 0, LightsElement)) {
        ReadLights(xml, lights, c);
    }
    // Without "View_0" the root-level elements are not looked for: such a file holds objects
    // and lights only.
    if (view == 0) return;
    if (const std::int32_t output = SceneFindChild(xml, root, 0, OutputElement)) {
        ReadOutput(xml, output, s);
    }
    if (const std::int32_t toads = SceneFindChild(xml, root, 0, BotsElement)) ReadBots(xml, toads, c);
    ReadNavigated(xml, document, c);
}

// ---- applying ---------------------------------------------------------------------------

// Replaces the document's part block by the records read and builds the geometry. Returns
// 0, 1 when the geometry refuses the block or 4 when memory runs out while the block or the
// geometry is built; the document then holds no objects.
std::int16_t ApplyObjects(QDocumentBase& document, SceneContents& c) {
    QMorvanObjects& objects = *document.Objects();
    objects.ClearAll();
    std::uint8_t* block = objects.Block();
    StoreU16LE(block + PartBlockVersionOffset, c.blockVersion);
    StoreU16LE(block + PartBlockMarkerOffset, PartBlockNativeMarker);
    StoreU32LE(block + PartBlockIdSpanOffset, c.blockIdSpan);
    block[PartBlockFlagsOffset] = c.blockFlags;

    std::int32_t loaded = PartBlockRejected;
    try {
        // The block grows once, to hold every record.
        objects.batching = true;
        objects.reserveStep = static_cast<std::uint32_t>(c.recordBytes);
        for (ObjEntry& entry : c.objects) {
            objects.InsertPartRecord(entry.record.get(), false, false, false, nullptr);
            entry.record.reset();
        }
        objects.batching = false;
        objects.reserveStep = 0;
        loaded = LoadPartBlock(*document.Geometry(), objects.Block(),
                               PartBlockHeaderBytes + objects.RecordBytes(), true, nullptr, false);
    } catch (const KVOutOfMemoryException&) {
        objects.batching = false;
        objects.reserveStep = 0;
        objects.ClearAll();
        return SceneOutOfMemory;
    }
    if (loaded == PartBlockRejected) {
        objects.ClearAll();
        return SceneUnreadable;
    }
    return SceneLoaded;
}

std::string LowerCase(std::string text) {
    for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

void ApplyGroups(QDocumentBase& document, const SceneContents& c) {
    QGroups& groups = *document.Groups();
    if (c.defaultGroupParms) groups.GetGroup(0)->SetParms(*c.defaultGroupParms);
    for (const auto& [name, parms] : c.groups) {
        auto group = std::make_unique<QGroup>(name);
        group->SetParms(parms);
        groups.AddGroup(std::move(group), false);
    }
    // Group indices refer to the list as the file gave it: the default group, then the
    // file's groups in order. An index outside it leaves the object in the default group.
    const std::vector<QMorvanObject*>& objects = document.Objects()->Objects();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const std::int32_t index = c.objects[i].groupIndex;
        if (index == 0) continue;
        if (QGroup* group = groups.GetGroup(index)) objects[i]->SetGroup(group);
    }
    groups.SortByName();
    bool renamed = false;
    for (std::int32_t i = 2; i < groups.Count(); ++i) {
        QGroup* group = groups.GetGroup(i);
        if (LowerCase(group->GetName()) == LowerCase(groups.GetGroup(i - 1)->GetName())) {
            group->SetName(groups.MakeUniqueLoadedGroupName(nullptr, group->GetName()));
            renamed = true;
        }
    }
    if (renamed) groups.SortByName();
}

void ApplyView(DocumentView& view, SceneContents& c) {
    ViewSettings& v = view.viewSettings;
    if (c.hasCamera) {
        v.camera.position = c.camera.position;
        v.camera.transform = c.camera.transform;
        v.camera.orientation = c.camera.orientation;
        v.camera.fov = c.camera.fov;
    }
    const SceneSettings& s = c.settings;
    if (c.hasFog) {
        v.fogLayers.layers = c.fogLayers;
        v.nearDepth = s.fogNear;
        v.farDepth = s.fogFar;
    }
    if (c.hasFogColour) v.colours[1] = s.fogColour;
    if (c.hasGradient) {
        v.viewAngle = s.gradientA;
        v.colours[6] = s.gradientHc;
        v.colours[7] = s.gradientPc;
    }
    if (c.hasLine) {
        v.viewScale1 = s.lineOw;
        v.viewScale2 = s.lineLw;
        v.colours[3] = s.lineOc;
        v.colours[4] = s.lineLc;
        v.colours[5] = s.lineLfc;
    }
    if (c.hasDisplay) {
        v.colours[0] = s.displayColour;
        v.SetHighlight(s.hilite);
        // The draw state and the samples per pixel are the render view's own.
        if (auto* render = dynamic_cast<QRenderView*>(&view)) {
            render->drawState.isSketch = s.displaySk;
            render->drawState.isWireframe = s.displayWr;
            if (c.hasLine) render->drawState.lineStyle = s.lineV;
            if (render->SetSamplesPerPixel(s.depthBufferCount) == RenderSizeNoMemory) {
                throw KVOutOfMemoryException();
            }
        }
    }
    if (c.hasAmbient) v.colours[2] = s.ambient;
    v.shadowsOn = s.shadowsOn;
    // The shadow bounds and their modes are the render view's own: the sphere the light maps
    // cover starts as the file left it.
    if (auto* render = dynamic_cast<QRenderView*>(&view); render != nullptr && c.hasShadows) {
        render->shadowRadiusMode = s.shadowAutoMode;
        render->shadowCentreMode = s.shadowMode;
        render->isShadowAuto = s.shadowAuto;
        render->shadowRadius = s.shadowCastRadius;
        render->isShadowRadiusReady = true;
        render->shadowRadiusWeight = s.shadowRadiusScale;
        render->lightMapScale = s.shadowDensity;
        render->shadowCentre = s.shadowPoint;
    }
    v.stars = StarSettings{s.starsOn, s.starCount, s.starSeed, s.starSize, s.starSpread};
    for (const LightEntry& entry : c.lights) {
        auto light = std::make_unique<QLight>(&view);
        light->isOn = entry.on;
        light->isAtObject = entry.atObject;
        light->position = entry.position;
        light->brightness = entry.brightness;
        light->colour = entry.colour;
        light->shadowFactor = entry.shadow;
        light->shadowBlendWeights = entry.shadowTriple;
        light->flag0 = entry.falloffOn;
        light->localValue1 = entry.falloff;
        light->localValue2 = entry.slope;
        light->localValue3 = entry.tail;
        v.lights.AddLight(std::move(light));
    }
    for (QLight* light : v.lights.Lights()) light->PushSnapshot();
    // A selected index outside the list selects the first light.
    const std::int32_t count = v.lights.Count();
    view.selectedLight = s.selectedLight >= 0 && s.selectedLight < count ? s.selectedLight : 0;
}

void ApplyTextures(QDocumentBase& document, SceneContents& c) {
    std::vector<QReferenceObject*> added;
    for (std::unique_ptr<QTexture>& texture : c.textures) {
        added.push_back(texture.get());
        document.TextureList()->AddTexture(std::move(texture));
    }
    if (added.empty()) return;
    const std::vector<QMorvanObject*>& objects = document.Objects()->Objects();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const std::int32_t index = c.objects[i].textureIndex;
        // An index that names no texture of the file binds none.
        if (index >= 0 && static_cast<std::size_t>(index) < added.size()) {
            objects[i]->SetTexture(added[static_cast<std::size_t>(index)], true);
        }
        objects[i]->PushUndoChunk();
    }
}

void ApplyBots(QDocumentBase& document, SceneContents& c) {
    std::vector<QToadObj*> bots;
    for (BotEntry& entry : c.bots) {
        auto bot = std::make_unique<QToadObj>(&document);
        bot->name = entry.name;
        bot->morphHead = entry.morphHead;
        if (entry.morphMode) bot->morphMode = *entry.morphMode;
        if (entry.morphSteps) bot->morphSteps = *entry.morphSteps;
        if (entry.morphDuration) bot->morphDuration = *entry.morphDuration;
        if (entry.bt) bot->bt = *entry.bt;
        bot->storedElement = std::move(entry.element);
        bots.push_back(bot.get());
        // Names are made unique and the list sorted as each bot joins.
        document.BotList()->AddBot(std::move(bot), true);
    }
    auto botAt = [&bots](std::optional<std::int32_t> index) -> QToadObj* {
        if (!index || *index < 0 || static_cast<std::size_t>(*index) >= bots.size()) {
            return nullptr;
        }
        return bots[static_cast<std::size_t>(*index)];
    };
    // Links read from a file are made into simple chains: a link joins two bots only while
    // the first has no successor, the second no predecessor and the link closes no cycle.
    // A bot leaving its chain mends its neighbours' links, which holds only for such chains;
    // a one-sided or circular link would leave a neighbour pointing at a destroyed bot.
    auto link = [](QToadObj* from, QToadObj* to) {
        if (from == nullptr || to == nullptr || from == to) return;
        if (from->morphNext != nullptr || to->morphPrev != nullptr) return;
        for (const QToadObj* bot = to; bot != nullptr; bot = bot->morphNext) {
            if (bot == from) return;
        }
        from->morphNext = to;
        to->morphPrev = from;
    };
    // The k-th "Morph" belongs to the k-th bot of the file; extra ones have no bot.
    for (std::size_t k = 0; k < c.morphs.size() && k < bots.size(); ++k) {
        const MorphEntry& morph = c.morphs[k];
        link(bots[k], botAt(morph.next));
        link(botAt(morph.prev), bots[k]);
        if (morph.second) document.SetSecondBot(bots[k]);
    }
    const std::vector<QMorvanObject*>& objects = document.Objects()->Objects();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (QToadObj* bot = botAt(c.objects[i].botIndex)) objects[i]->SetOwnerBot(bot);
    }
    // The selected bot's morph length, in whole seconds (at least one), goes to every bot
    // after it along its chain (the chains have no cycle; the walk still stops at a bot it
    // has reached before).
    if (QToadObj* selected = document.BotList()->GetFirstSelectedBot()) {
        const double seconds = std::max(1.0, std::trunc(selected->morphDuration / 1000.0));
        std::vector<const QToadObj*> seen{selected};
        for (QToadObj* bot = selected->morphNext;
             bot != nullptr && std::find(seen.begin(), seen.end(), bot) == seen.end();
             bot = bot->morphNext) {
            bot->morphDuration = static_cast<float>(seconds * 1000.0);
            seen.push_back(bot);
        }
    }
}

void ApplyObjectFields(QDocumentBase& document, const XmlDocument& xml, SceneContents& c) {
    const std::vector<QMorvanObject*>& objects = document.Objects()->Objects();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        QMorvanObject& object = *objects[i];
        const std::uint8_t* record = object.GetPartRecord();
        object.seedPoint = c.objects[i].toadOp != 0
                               ? SeedPointFromElement(xml, c.objects[i].toadOp, record)
                               : SeedPointFromRecord(record);
        object.name = std::move(c.objects[i].text);
    }
}

// ---- binary part blocks -----------------------------------------------------------------

std::int16_t LoadBinaryScene(QDocumentBase& document, std::string_view path) {
    if (path.empty()) return SceneUnreadable;
    FileBytes file;
    // An empty file holds nothing to read, as a missing one.
    if (file.Read(path) != FileOpenError::None || file.Bytes().empty()) return SceneUnreadable;
    const std::span<const std::uint8_t> bytes = file.Bytes();
    if (bytes.size() < PartBlockHeaderBytes || bytes.size() > UINT32_MAX) return SceneInvalid;
    const auto length = static_cast<std::uint32_t>(bytes.size());
    auto block = PrivateAllocBlock<std::uint8_t>(length);
    std::memcpy(block.get(), bytes.data(), bytes.size());
    file.Clear();

    // The loader brings the block into our byte order and units in place; it is tried on a
    // geometry of its own first, so a refused block leaves the document's alone.
    {
        SceneGeometry scratch;
        if (LoadPartBlock(scratch, block.get(), length, true, nullptr, false) ==
            PartBlockRejected) {
            return SceneInvalid;
        }
    }
    if (LoadU32LE(block.get() + PartBlockRecordBytesOffset) == 0) {
        StoreU32LE(block.get() + PartBlockRecordBytesOffset, length - PartBlockHeaderBytes);
    }
    if (!PartBlockIsWellFormed(block.get(), length)) return SceneInvalid;

    QMorvanObjects& objects = *document.Objects();
    objects.ClearList();
    PrivateFree(*document.PartBlockSlot());
    *document.PartBlockSlot() = block.release();
    *document.PartBlockBytesSlot() = length;
    if (!objects.RebuildObjectList() ||
        LoadPartBlock(*document.Geometry(), objects.Block(), length, true, nullptr, false) ==
            PartBlockRejected) {
        objects.ClearAll();
        return SceneInvalid;
    }
    for (QMorvanObject* object : objects.Objects()) {
        if (std::uint8_t* record = object->GetPartRecord()) {
            StoreF32LE(record + PartRecordFractionOffset,
                       static_cast<float>(CrtRand() / static_cast<double>(CrtRandMax)));
        }
    }
    DocumentView* view = document.RenderView();
    if (view != nullptr && view->viewSettings.lights.Count() == 0) {
        view->viewSettings.SetDefaults(*view);
    }
    return SceneLoaded;
}

}  // namespace

std::int32_t SceneVersionFromText(std::string_view text) {
    const double v = SceneTextToDouble(text) * 100.0;
    if (std::isnan(v)) return 0;
    return TruncToInt32(v > 0.0 ? v + 0.5 : v - 0.5);
}

std::int16_t LoadSceneFile(QDocumentBase& document, std::string_view path,
                           SceneSettings* settings) {
    Announce(document, 0);
    std::int16_t result = SceneLoaded;
    XmlDocument xml;
    SceneContents contents;
    const bool parsed = !path.empty() && xml.Load(path);
    if (!parsed) {
        result = LoadBinaryScene(document, path);
    } else {
        const std::int32_t root = xml.Element(0)->firstChild;
        try {
            if (!xml.FindElement(xml.GetElementName(root))) throw SceneReadFailure{SceneUnreadable};
            const std::string versionText = xml.GetAttributeAt(root, "version");
            const double version = SceneTextToDouble(versionText) * 100.0;
            document.fileVersion = SceneVersionFromText(versionText);
            contents.settings.fileVersion = document.fileVersion;
            // Compared before the conversion, so a version too large for an integer is newer.
            if (std::round(version) > SceneFileVersion) throw SceneReadFailure{SceneNewerVersion};
            ReadScene(xml, document, root, contents);
        } catch (const SceneReadFailure& failure) {
            result = failure.code;
        }
        if (result == SceneLoaded) {
            result = ApplyObjects(document, contents);
        }
        if (result == SceneLoaded) {
            Announce(document, 50);
            ApplyObjectFields(document, xml, contents);
            ApplyGroups(document, contents);
            if (DocumentView* view = document.RenderView()) ApplyView(*view, contents);
            ApplyTextures(document, contents);
            Announce(document, 80);
            ApplyBots(document, contents);
        }
    }
    if (settings != nullptr && result == SceneLoaded) *settings = std::move(contents.settings);
    if (IsCurrentDocument(document)) {
        document.AnnounceProgress(LoadProgressStage, 100);
        document.EndProgress();
    }
    return result;
}
