// scenedump FILE: reads a scene file and prints what was read as JSON (see
// scenefile/scene_dump.h). The exit status is the reader's result: 0 loaded, 1 unreadable,
// 2 invalid, 3 newer version, 4 out of memory; 64 for a wrong command line.

#include "app/process_init.h"
#include "scenefile/loaded_scene.h"
#include "scenefile/scene_dump.h"

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
        const LoadedScene scene(argv[1]);
        const std::string json = SceneDumpJson(scene.document, scene.settings, scene.result);
        std::fwrite(json.data(), 1, json.size(), stdout);
        status = scene.result;
    }
    ShutdownProcess();
    return status;
}
