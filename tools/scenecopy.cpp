// scenecopy IN OUT [MODE]: reads the scene file IN and saves it as OUT in save mode MODE (0
// everything, the default; 1 without bots; 2 the view and groups only), as the modeller's
// save commands write a loaded scene. The exit status is 0 when OUT was written; the
// reader's result (1 to 4) when IN could not be read; 8 plus the writer's result (9 not
// written, 13 a texture image that cannot be encoded) when OUT was not written; 64 for a
// wrong command line.

#include "app/process_init.h"
#include "scenefile/loaded_scene.h"
#include "scenefile/scene_file_reader.h"
#include "scenefile/scene_file_writer.h"

#include <cstdio>
#include <string_view>

int main(int argc, char** argv) {
    const std::string_view mode = argc == 4 ? argv[3] : "0";
    if ((argc != 3 && argc != 4) || (mode != "0" && mode != "1" && mode != "2")) {
        std::fputs("usage: scenecopy IN OUT [0|1|2]\n", stderr);
        return 64;
    }
    InitProcess();
    int status = 0;
    {
        LoadedScene scene(argv[1]);
        if (scene.result != SceneLoaded) {
            std::fprintf(stderr, "scenecopy: cannot read %s (result %d)\n", argv[1], scene.result);
            status = scene.result;
        } else {
            const auto saveMode = static_cast<SceneSaveMode>(mode[0] - '0');
            const std::int16_t saved =
                SaveSceneFile(scene.document, argv[2], saveMode, &scene.settings);
            if (saved != SceneSaved) {
                std::fprintf(stderr, "scenecopy: cannot write %s (result %d)\n", argv[2], saved);
                status = 8 + saved;
            }
        }
    }
    ShutdownProcess();
    return status;
}
