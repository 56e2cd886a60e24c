// scenedump FILE: reads a scene file and prints what was read as JSON (see
// scenefile/scene_dump.h). The exit status is the reader's result: 0 loaded, 1 unreadable,
// 2 invalid, 3 newer version, 4 out of memory; 64 for a wrong command line.

#include "app/process_init.h"
#include "model/q_document_base.h"
#include "model/q_lights.h"
#include "scenefile/scene_dump.h"
#include "scenefile/scene_file_reader.h"
#include "scenefile/scene_settings.h"
#include "view/q_render_view.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: scenedump FILE\n", stderr);
        return 64;
    }
    InitProcess();
    int status = 0;
    {
        QDocumentBase document;
        QRenderView view(&document);
        // The scene brings its own lights, as when the player opens a gizmo.
        view.viewSettings.lights.RemoveAll();
        SceneSettings settings;
        const std::int16_t result = LoadSceneFile(document, argv[1], &settings);
        const std::string json = SceneDumpJson(document, settings, result);
        std::fwrite(json.data(), 1, json.size(), stdout);
        status = result;
    }
    ShutdownProcess();
    return status;
}
