#include "gizmo/gizmo_run.h"

#include "gizmo/gizmo_object.h"
#include "gizmo/gizmo_scene.h"
#include "gizmo/hit_scoring.h"
#include "gizmo/world_step.h"

#include <algorithm>
#include <charconv>
#include <cstddef>

namespace {

// Shortest text that reads back as the same double; -0 is written as 0.
void AppendNumber(std::string& out, double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value + 0.0);
    out.append(buffer, result.ptr);
}

void AppendInt(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    out.append(buffer, result.ptr);
}

// Quotes text for JSON: quotes and backslashes escaped, control characters as \u00XX.
void AppendString(std::string& out, std::string_view text) {
    constexpr char Hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += Hex[byte >> 4];
            out += Hex[byte & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

const char* KindOf(const GizmoObject& object) {
    if (object.isFlyer != 0) return "flyer";
    if (object.isSlider != 0) return "slider";
    return "flipper";
}

}  // namespace

std::optional<std::vector<ScriptedKey>> ParseKeyScript(std::string_view script) {
    std::vector<ScriptedKey> keys;
    while (!script.empty()) {
        const std::size_t comma = script.find(',');
        const std::string_view entry = script.substr(0, comma);
        script = comma == std::string_view::npos ? std::string_view{} : script.substr(comma + 1);
        const std::size_t colon = entry.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        ScriptedKey key;
        const auto parsed = std::from_chars(entry.data(), entry.data() + colon, key.frame);
        if (parsed.ec != std::errc() || parsed.ptr != entry.data() + colon || key.frame < 0) {
            return std::nullopt;
        }
        const std::string_view name = entry.substr(colon + 1);
        if (name.size() != 1 || name[0] < '1' || name[0] > '9') return std::nullopt;
        key.keyIndex = name[0] - '1';
        keys.push_back(key);
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const ScriptedKey& a, const ScriptedKey& b) { return a.frame < b.frame; });
    return keys;
}

void StepGizmoFrame(GizmoScene& scene) {
    if (scene.world == nullptr || scene.partBounds == nullptr || scene.paused != 0) return;
    StepWorld(*scene.world, scene.stepTime, *scene.partBounds);
    PlayQueuedSounds(scene);
}

std::string GizmoFrameJson(const GizmoScene& scene, std::int32_t frame) {
    std::string out = "{\"frame\":";
    AppendInt(out, frame);
    out += ",\"paused\":";
    AppendInt(out, scene.paused);
    out += ",\"score\":";
    AppendInt(out, scene.world != nullptr ? SceneScoreOrTargetFlags(*scene.world, 0) : 0);
    out += ",\"moving\":[";
    for (std::size_t i = 0; i < scene.movingPartList.size(); ++i) {
        if (i != 0) out += ',';
        AppendInt(out, scene.movingPartList[i]);
    }
    out += "],\"objects\":[";
    if (scene.world != nullptr) {
        bool first = true;
        for (const auto& object : scene.world->objects) {
            if (!first) out += ',';
            first = false;
            out += "{\"kind\":";
            AppendString(out, KindOf(*object));
            out += ",\"position\":[";
            AppendNumber(out, object->position.x);
            out += ',';
            AppendNumber(out, object->position.y);
            out += ',';
            AppendNumber(out, object->position.z);
            out += "],\"orientation\":[";
            for (std::size_t i = 0; i < object->orientation.m.size(); ++i) {
                if (i != 0) out += ',';
                AppendNumber(out, object->orientation.m[i]);
            }
            out += "]}";
        }
    }
    out += "]}";
    return out;
}

std::string SoundEventJson(std::int32_t frame, std::string_view name, float gain, float pitch,
                           float listenerGain) {
    std::string out = "{\"frame\":";
    AppendInt(out, frame);
    out += ",\"sound\":";
    AppendString(out, name);
    out += ",\"gain\":";
    AppendNumber(out, gain);
    out += ",\"pitch\":";
    AppendNumber(out, pitch);
    out += ",\"listenerGain\":";
    AppendNumber(out, listenerGain);
    out += '}';
    return out;
}
