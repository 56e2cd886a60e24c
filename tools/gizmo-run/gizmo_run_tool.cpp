// gizmo-run: loads a gizmo without a window, runs it for a number of frames with trigger keys
// pressed at scripted frames, and prints each frame's poses and score, and every sound the
// gizmo plays, as lines of JSON; optionally saves each frame as an image.
//
//   gizmo-run FILE --frames N [--keys "FRAME:KEY,..."] [--images DIR]
//
// The gizmo runs as when the player opens it from the command line: unpaused, at the default
// step time. Sounds are printed as the sound sink hands them over, before the line of the
// frame they belong to, named from the program's folder on ("Sounds/NAME.wav"). Images are
// TIFF files (the frame with its straight alpha), DIR/frame_0000.tif onwards; DIR must exist.
// Exit status 0 on success, 1 when the gizmo does not load or an image cannot be written (the
// load's message goes to stderr), 2 for bad arguments.

#include "app/process_init.h"
#include "gizmo/gizmo_run.h"
#include "gizmo/game_input.h"
#include "gizmo/gizmo_scene.h"
#include "gizmo/sound_sink.h"
#include "imaging/image_file.h"
#include "view/q_render_view.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Options {
    std::string file;
    std::int32_t frames = -1;
    std::vector<ScriptedKey> keys;
    std::string images;
};

constexpr const char* Usage =
    "usage: gizmo-run FILE --frames N [--keys \"FRAME:KEY,...\"] [--images DIR]\n";

std::optional<Options> ParseArguments(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name.substr(0, 2) != "--") {
            if (!o.file.empty()) return std::nullopt;
            o.file = name;
            continue;
        }
        if (i + 1 >= argc) return std::nullopt;
        const std::string_view value = argv[++i];
        if (name == "--frames") {
            const auto result =
                std::from_chars(value.data(), value.data() + value.size(), o.frames);
            if (result.ec != std::errc() || result.ptr != value.data() + value.size() ||
                o.frames < 0) {
                return std::nullopt;
            }
        } else if (name == "--keys") {
            std::optional<std::vector<ScriptedKey>> keys = ParseKeyScript(value);
            if (!keys) return std::nullopt;
            o.keys = std::move(*keys);
        } else if (name == "--images") {
            o.images = value;
        } else {
            return std::nullopt;
        }
    }
    if (o.file.empty() || o.frames < 0) return std::nullopt;
    return o;
}

// Prints each sound as it is played, stamped with the frame being run.
class PrintingSoundSink final : public SoundSink {
public:
    std::int32_t frame = 0;
    void PlaySoundByName(std::string_view name, float gain, float pitch,
                         float listenerGain) override {
        std::printf("%s\n", SoundEventJson(frame, name, gain, pitch, listenerGain).c_str());
    }
};

bool SaveFrame(GizmoScene& scene, const std::string& folder, std::int32_t frame) {
    QRenderView& view = *scene.view;
    RenderMovingParts(scene);
    char name[32];
    std::snprintf(name, sizeof(name), "/frame_%04d.tif", frame);
    const std::string path = folder + name;
    static_assert(std::endian::native == std::endian::little, "pixel words are stored BGRA");
    std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(scene.viewBits.data());
    std::string error;
    if (SaveImageFile(bytes, view.renderWidth, view.renderHeight, path, true, 90, true, 0, 0, error,
                      false, false, 0) != ImageFileOk) {
        std::fprintf(stderr, "gizmo-run: cannot save %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

int Run(const Options& o) {
    PrintingSoundSink sink;
    SetSoundSink(&sink);
    GizmoScene scene;
    // Sounds are named from the program's folder on, so runs on any machine print alike.
    scene.programFolder.clear();
    if (LoadGizmo(o.file, scene) != 0) {
        std::fprintf(stderr, "gizmo-run: %s: %s\n", o.file.c_str(), scene.errorText.c_str());
        SetSoundSink(nullptr);
        return 1;
    }
    // Opened from the command line, the gizmo plays at once.
    scene.paused = 0;
    std::size_t nextKey = 0;
    int status = 0;
    for (std::int32_t frame = 0; frame < o.frames && status == 0; ++frame) {
        sink.frame = frame;
        for (; nextKey < o.keys.size() && o.keys[nextKey].frame == frame; ++nextKey) {
            TriggerControls(scene, TriggerKeyBit, o.keys[nextKey].keyIndex);
        }
        StepGizmoFrame(scene);
        std::printf("%s\n", GizmoFrameJson(scene, frame).c_str());
        if (!o.images.empty() && !SaveFrame(scene, o.images, frame)) status = 1;
    }
    UnloadGizmo(scene);
    SetSoundSink(nullptr);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseArguments(argc, argv);
    if (!options) {
        std::fputs(Usage, stderr);
        return 2;
    }
    InitProcess();
    const int status = Run(*options);
    ShutdownProcess();
    return status;
}
