#include "scenefile/scene_file_writer.h"

#include "bench_textures.h"
#include "core/colour.h"
#include "model/q_document_base.h"
#include "model/q_group.h"
#include "model/q_groups.h"
#include "model/q_morvan_object.h"
#include "model/q_morvan_objects.h"
#include "model/q_texture_list.h"
#include "scenefile/scene_settings.h"
#include "texture/q_texture.h"
#include "texture/q_texture_image.h"
#include "texture/texture_import.h"
#include "view/q_render_view.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// Saving a whole scene: 2,000 objects of three shape types in eleven groups and ten
// textures with 128 x 128 images and their mappings, the scene the reading benchmark reads,
// made here through the document instead of as text. One iteration builds the text and
// writes it through the safe writer (a temporary, a flush to disk and a rename).

namespace {

constexpr int ObjectCount = 2000;
constexpr int TextureCount = 10;
constexpr int GroupCount = 10;
constexpr int ImageSide = 128;

struct BenchScene {
    BenchScene() {
        QGroups& groups = *document.Groups();
        for (int g = 1; g <= GroupCount; ++g) {
            auto group = std::make_unique<QGroup>("Group " + std::to_string(g));
            group->SetParms("<Game/>");
            groups.AddGroup(std::move(group), true);
        }
        std::vector<QTexture*> textures;
        for (int t = 0; t < TextureCount; ++t) {
            QTexture* texture = AddBenchTexture(document, t, ImageSide);
            textures.push_back(texture);
        }
        QMorvanObjects& objects = *document.Objects();
        const Colour colour = ColourFromBytes(32, 48, 64);
        for (int i = 0; i < ObjectCount; ++i) {
            const Vec3 at{(i % 50) * 0.4 - 10.0, 0.0, (i / 50) * 0.4 - 8.0};
            QMorvanObject* object = nullptr;
            switch (i % 3) {
                case 0:
                    object = objects.AddShapeType1(0.1, colour, at);
                    break;
                case 1:
                    object = objects.AddShapeType2(0.1, 0.11, colour, at);
                    break;
                default:
                    object = objects.AddShapeType4(0.1, 0.11, 0.12, colour, at);
                    break;
            }
            object->name = "Part " + std::to_string(i);
            object->SetGroup(groups.GetGroup(i % (GroupCount + 1)));
            object->SetTexture(textures[static_cast<std::size_t>(i % TextureCount)], false);
        }
    }

    QDocumentBase document;
    QRenderView view{&document};
};

using Clock = std::chrono::steady_clock;

void BM_SaveSceneFile(benchmark::State& state) {
    static BenchScene scene;
    const std::string path =
        (std::filesystem::temp_directory_path() / "orbelle_bench_saved.kvr").string();
    const SceneSettings settings;
    double bestMs = 0.0;
    bool first = true;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const std::int16_t result =
            SaveSceneFile(scene.document, path, SceneSaveMode::Everything, &settings);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (result != SceneSaved) state.SkipWithError("the scene was not saved");
        bestMs = first ? ms : std::min(bestMs, ms);
        first = false;
    }
    state.counters["best_ms"] = bestMs;
    state.counters["file_kib"] = static_cast<double>(std::filesystem::file_size(path)) / 1024.0;
}

BENCHMARK(BM_SaveSceneFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace
