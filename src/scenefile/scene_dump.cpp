#include "scenefile/scene_dump.h"

#include "core/byte_order.h"
#include "core/colour.h"
#include "geometry/part_record.h"
#include "model/document_view.h"
#include "model/q_document_base.h"
#include "model/q_group.h"
#include "model/q_groups.h"
#include "model/q_light.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "scenefile/scene_settings.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace {

// Appends JSON text; fields are separated by commas within one object or array level.
class JsonWriter {
public:
    std::string text;

    void Open(char bracket) {
        Separate();
        text.push_back(bracket);
        first = true;
    }
    void Close(char bracket) {
        text.push_back(bracket);
        first = false;
    }
    void Key(std::string_view key) {
        Separate();
        String(key);
        text.push_back(':');
        first = true;  // the value follows without a comma
    }
    void Number(double value) {
        Separate();
        if (!std::isfinite(value)) {
            text += "null";
            return;
        }
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
        text.append(buffer, result.ptr);
    }
    void Integer(std::int64_t value) {
        Separate();
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
        text.append(buffer, result.ptr);
    }
    void Bool(bool value) {
        Separate();
        text += value ? "true" : "false";
    }
    void Text(std::string_view value) {
        Separate();
        String(value);
    }

    void Field(std::string_view key, double value) { Key(key), Number(value); }
    void IntField(std::string_view key, std::int64_t value) { Key(key), Integer(value); }
    void BoolField(std::string_view key, bool value) { Key(key), Bool(value); }
    void TextField(std::string_view key, std::string_view value) { Key(key), Text(value); }
    void ColourField(std::string_view key, const Colour& colour) {
        IntField(key, ColourToRgb24(colour));
    }
    void VectorField(std::string_view key, const Vec3& v) {
        Key(key);
        Open('[');
        Number(v.x);
        Number(v.y);
        Number(v.z);
        Close(']');
    }

private:
    void Separate() {
        if (!first) text.push_back(',');
        first = false;
    }
    // Bytes below 0x20, the quote and the backslash are escaped; other bytes pass as they
    // are (the files are single-byte text, so a byte above 0x7F is written as \u00XX).
    void String(std::string_view value) {
        text.push_back('"');
        for (const char ch : value) {
            const auto byte = static_cast<unsigned char>(ch);
            if (ch == '"' || ch == '\\') {
                text.push_back('\\');
                text.push_back(ch);
            } else if (byte < 0x20 || byte >= 0x7F) {
                static constexpr char Hex[] = "0123456789abcdef";
                text += "\\u00";
                text.push_back(Hex[byte >> 4]);
                text.push_back(Hex[byte & 15]);
            } else {
                text.push_back(ch);
            }
        }
        text.push_back('"');
    }

    bool first = true;
};

void WriteCamera(JsonWriter& json, const QCamera& camera) {
    json.Key("camera");
    json.Open('{');
    json.VectorField("position", camera.position);
    json.Key("transform");
    json.Open('[');
    for (double value : camera.transform.m) json.Number(value);
    json.Close(']');
    json.Key("orientation");
    json.Open('[');
    for (double value : camera.orientation.m) json.Number(value);
    json.Close(']');
    json.Field("fov", camera.fov);
    json.Close('}');
}

void WriteLights(JsonWriter& json, const DocumentView& view) {
    json.Key("lights");
    json.Open('[');
    for (const QLight* light : view.viewSettings.lights.Lights()) {
        json.Open('{');
        json.BoolField("on", light->isOn);
        json.BoolField("local", light->isAtObject);
        json.VectorField("position", light->position);
        json.Field("brightness", light->brightness);
        json.ColourField("colour", light->colour);
        json.Field("shadow", light->shadowFactor);
        json.Key("shadowTriple");
        json.Open('[');
        for (double value : light->shadowBlendWeights) json.Number(value);
        json.Close(']');
        json.BoolField("falloffOn", light->flag0);
        json.Field("falloff", light->localValue1);
        json.Field("slope", light->localValue2);
        json.Field("tail", light->localValue3);
        json.Close('}');
    }
    json.Close(']');
}

void WriteSettings(JsonWriter& json, const SceneSettings& s) {
    json.Key("settings");
    json.Open('{');
    json.BoolField("fogOn", s.fogOn);
    json.Field("fogNear", s.fogNear);
    json.Field("fogFar", s.fogFar);
    json.BoolField("fogSt", s.fogSt);
    json.BoolField("fogType", s.fogTypeFlag);
    json.ColourField("fogColour", s.fogColour);
    json.BoolField("volumeFog", s.volumeFog);
    json.BoolField("gradientOn", s.gradientOn);
    json.Field("gradientA", s.gradientA);
    json.ColourField("gradientHc", s.gradientHc);
    json.ColourField("gradientPc", s.gradientPc);
    json.BoolField("starsOn", s.starsOn);
    json.IntField("starCount", s.starCount);
    json.IntField("starSeed", s.starSeed);
    json.Field("starSize", s.starSize);
    json.Field("starSpread", s.starSpread);
    json.IntField("filterType", s.filterType);
    json.IntField("filterAmount", s.filterAmount);
    json.BoolField("inlineFiltersOn", s.inlineFiltersOn);
    json.Field("inlineB", s.inlineB);
    json.Field("inlineS", s.inlineS);
    json.Field("inlineC", s.inlineC);
    json.Field("inlineH", s.inlineH);
    json.IntField("shadowsOn", s.shadowsOn);
    json.IntField("shadowAutoMode", s.shadowAutoMode);
    json.IntField("shadowMode", s.shadowMode);
    json.BoolField("shadowAuto", s.shadowAuto);
    json.Field("shadowCastRadius", s.shadowCastRadius);
    json.Field("shadowRadiusScale", s.shadowRadiusScale);
    json.Field("shadowDensity", s.shadowDensity);
    json.VectorField("shadowPoint", s.shadowPoint);
    json.IntField("sample", s.sample);
    json.BoolField("hilite", s.hilite);
    json.ColourField("displayColour", s.displayColour);
    json.BoolField("sk", s.displaySk);
    json.BoolField("wr", s.displayWr);
    json.IntField("depthBufferCount", s.depthBufferCount);
    json.Field("sm", s.displaySm);
    json.BoolField("do", s.displayDo);
    json.IntField("gl", s.glWord);
    json.IntField("pd", s.displayPd);
    json.BoolField("ler", s.displayLer);
    json.IntField("lineV", s.lineV);
    json.Field("lineOw", s.lineOw);
    json.Field("lineLw", s.lineLw);
    json.ColourField("lineOc", s.lineOc);
    json.ColourField("lineLc", s.lineLc);
    json.ColourField("lineLfc", s.lineLfc);
    json.IntField("selectedLight", s.selectedLight);
    json.ColourField("ambient", s.ambient);
    json.IntField("outputWidth", s.outputWidth);
    json.IntField("outputHeight", s.outputHeight);
    json.BoolField("cropOn", s.cropOn);
    json.Field("cropTop", s.cropTop);
    json.Field("cropLeft", s.cropLeft);
    json.Field("cropWidth", s.cropWidth);
    json.Field("cropHeight", s.cropHeight);
    json.IntField("cameraStack", static_cast<std::int64_t>(s.cameraStack.size()));
    json.Close('}');
}

std::int32_t GroupIndex(const QGroups& groups, const QGroup* group) {
    for (std::int32_t i = 0; i < groups.Count(); ++i) {
        if (groups.GetGroup(i) == group) return i;
    }
    return -1;
}

void WriteObjects(JsonWriter& json, const QDocumentBase& document) {
    json.Key("objects");
    json.Open('[');
    const QGroups* groups = document.Groups();
    for (const QMorvanObject* object : document.Objects()->Objects()) {
        const std::uint8_t* record = object->GetPartRecord();
        if (record == nullptr) continue;
        json.Open('{');
        json.IntField("index", object->Index());
        json.IntField("type", LoadI32LE(record + PartRecordShapeTypeOffset));
        json.IntField("flags", record[PartRecordFlagsOffset]);
        json.IntField("id", LoadI32LE(record + PartRecordPartIdOffset));
        json.IntField("colour", LoadU32LE(record + PartRecordColourOffset));
        json.VectorField("position", PartRecordPosition(record));
        json.Key("parameters");
        json.Open('[');
        const std::int32_t count = PartRecordParamCount(record);
        for (std::int32_t i = 0; i < count; ++i) json.Number(PartRecordParam(record, i));
        json.Close(']');
        json.IntField("group", groups != nullptr ? GroupIndex(*groups, object->Group()) : -1);
        json.TextField("text", object->name);
        json.Close('}');
    }
    json.Close(']');
}

}  // namespace

std::string SceneDumpJson(const QDocumentBase& document, const SceneSettings& settings,
                          std::int32_t result) {
    JsonWriter json;
    json.Open('{');
    json.IntField("result", result);
    json.IntField("version", document.fileVersion);
    json.Field("scale", settings.scale);
    if (const DocumentView* view = document.RenderView()) {
        WriteCamera(json, view->viewSettings.camera);
        WriteLights(json, *view);
    }
    WriteSettings(json, settings);
    json.Key("groups");
    json.Open('[');
    if (const QGroups* groups = document.Groups()) {
        for (std::int32_t i = 0; i < groups->Count(); ++i) {
            const QGroup* group = groups->GetGroup(i);
            json.Open('{');
            json.TextField("name", group->GetName());
            json.TextField("parms", group->GetParms());
            json.Close('}');
        }
    }
    json.Close(']');
    WriteObjects(json, document);
    json.Close('}');
    json.text.push_back('\n');
    return json.text;
}
