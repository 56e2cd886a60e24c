// geomdump FILE: reads a scene file, or a binary part block, as the player opens one and
// prints every part's built geometry as JSON (see geometry/geometry_dump.h): shape type,
// surfaces, bound, proxy and feature table. The exit status is the reader's result: 0 loaded,
// 1 unreadable, 2 invalid, 3 newer version, 4 out of memory; 64 for a wrong command line.
// Nothing is printed for a file that was not loaded.

#include "app/process_init.h"
#include "geometry/geometry_dump.h"
#include "model/q_document_base.h"
#include "model/q_lights.h"
#include "scenefile/scene_file_reader.h"
#include "scenefile/scene_settings.h"
#include "view/q_render_view.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: geomdump FILE\n", stderr);
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
        status = LoadSceneFile(document, argv[1], &settings);
        if (status == SceneLoaded) {
            const std::string json = GeometryDumpJson(*document.Geometry());
            std::fwrite(json.data(), 1, json.size(), stdout);
        } else {
            std::fprintf(stderr, "geomdump: %s not loaded (%d)\n", argv[1], status);
        }
    }
    ShutdownProcess();
    return status;
}
