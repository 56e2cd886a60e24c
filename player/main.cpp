// orbelle: the player. Plays one gizmo in a borderless translucent window, or, without a
// display (or with --headless), plays it without one and writes its frames to image files.
//
//   orbelle [GIZMO] [--headless] [--frames N] [--out DIR] [--keys "FRAME:KEY,..."] [--mute]
//
// Exit status 0 when the player ran (a desktop run whose start sheet closes without a gizmo
// included), 1 when a headless run has no gizmo to play or cannot make its frame folder, 2
// for bad arguments.

#include "app/fltk_dialogs.h"
#include "app/headless_display.h"
#include "app/player_app.h"
#include "app/player_command_line.h"
#include "app/player_dialogs.h"
#include "app/player_display.h"
#include "app/process_init.h"
#include "app/sound_voices.h"
#include "core/private_heap.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

int Play(const PlayerOptions& options) {
    PlayerDisplay opened = OpenPlayerDisplay({options.isHeadless, options.frameFolder});
    if (opened.isHeadless && !options.isHeadless) {
        std::fprintf(stderr, "orbelle: playing without a window: %s\n", opened.reason.c_str());
    }
    if (opened.isHeadless && !options.isGizmoNamed) {
        std::fputs("orbelle: a run without a window needs a gizmo to play\n", stderr);
        return 1;
    }
    if (opened.isHeadless && !options.frameFolder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(options.frameFolder, error);
        if (error) {
            std::fprintf(stderr, "orbelle: cannot make %s: %s\n", options.frameFolder.c_str(),
                         error.message().c_str());
            return 1;
        }
    }
    if (!options.isMuted) {
        std::string whyNot;
        if (!StartSoundLibrary(whyNot)) {
            std::fprintf(stderr, "orbelle: playing without sound: %s\n", whyNot.c_str());
        }
    }
    std::unique_ptr<PlayerDialogs> dialogs;
    if (opened.isHeadless) {
        dialogs = std::make_unique<ConsoleDialogs>();
    } else {
        dialogs = MakeFltkDialogs();
    }
    int status = 0;
    {
        PlayerApp app(*opened.display, *dialogs, opened.isHeadless);
        try {
            app.InitInstance(options);
        } catch (const KVOutOfMemoryException&) {
            app.FatalOutOfMemory();
        }
        std::int32_t frames = options.frameCount;
        if (opened.isHeadless && frames < 0) frames = DefaultHeadlessFrames;
        if (opened.isHeadless && app.Scene().active == 0) status = 1;
        app.Run(frames, options.keys);
        // A run whose last frame could not be written fails: its frames are what it makes.
        const auto* headless = dynamic_cast<const HeadlessDisplay*>(opened.display.get());
        if (headless != nullptr && !headless->LastError().empty()) {
            std::fprintf(stderr, "orbelle: %s\n", headless->LastError().c_str());
            status = 1;
        }
        if (opened.isHeadless && status == 0) {
            std::printf("orbelle: played %d frames, score %d\n", app.TickCount(),
                        GizmoScore(app.Scene()));
        }
    }
    StopSoundLibrary();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    std::string whyNot;
    const std::optional<PlayerOptions> options = ParsePlayerCommandLine(arguments, whyNot);
    if (!options) {
        std::fprintf(stderr, "orbelle: %s\n%s", whyNot.c_str(), PlayerUsage);
        return 2;
    }
    InitProcess();
    const int status = Play(*options);
    ShutdownProcess();
    return status;
}
