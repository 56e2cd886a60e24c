#include "scenefile/loaded_scene.h"

#include "model/q_lights.h"
#include "scenefile/scene_file_reader.h"

LoadedScene::LoadedScene(std::string_view path) {
    view.viewSettings.lights.RemoveAll();
    result = LoadSceneFile(document, path, &settings);
}
