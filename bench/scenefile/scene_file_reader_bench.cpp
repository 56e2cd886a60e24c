#include "scenefile/scene_file_reader.h"

#include "bench_textures.h"
#include "core/xml_document.h"
#include "core/xml_values.h"
#include "model/q_document_base.h"
#include "model/q_lights.h"
#include "model/q_texture_list.h"
#include "scenefile/scene_settings.h"
#include "texture/q_texture.h"
#include "texture/q_texture_image.h"
#include "texture/texture_import.h"
#include "texture/texture_xml.h"
#include "view/q_render_view.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// Reading a whole scene: 2,000 objects of three shape types in eleven groups, ten textures
// with 128 x 128 images and their mappings, from the file to a document with its geometry
// built. The same file is checked by xmllint --noout (a parse of the XML alone, in another
// process) when xmllint is installed, and the counters give its best wall time and the
// ratio of ours to it.

namespace {

constexpr int ObjectCount = 2000;
constexpr int TextureCount = 10;
constexpr int GroupCount = 10;
constexpr int ImageSide = 128;

std::string Float(float v) { return FloatToBase64(v); }

std::string TextureElements() {
    QDocumentBase document;
    std::string text;
    for (int t = 0; t < TextureCount; ++t) {
        QTexture* texture = AddBenchTexture(document, t, ImageSide);
        XmlDocument xml;
        WriteTextureXml(*texture, xml, false);
        text += xml.Text();
    }
    return text;
}

std::string SceneText() {
    std::string text = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n"
                       "<KVXMLFile version=\"2.1\">\r\n<View_0>\r\n<Groups>\r\n"
                       "<Group name=\"[Default]\" parms=\"\"/>\r\n";
    for (int g = 1; g <= GroupCount; ++g) {
        text += "<Group name=\"Group " + std::to_string(g) + "\" parms=\"&lt;Game/&gt;\"/>\r\n";
    }
    text += "</Groups>\r\n<KVR version=\"3\" numGroups=\"1\" flags=\"192\">\r\n";
    const int types[3] = {1, 2, 4};
    for (int i = 0; i < ObjectCount; ++i) {
        const int type = types[i % 3];
        const int params = type == 4 ? 3 : type;
        const auto x = static_cast<float>((i % 50) * 40 - 1000);
        const auto z = static_cast<float>((i / 50) * 40 - 800);
        text += "<Obj o=\"" + std::to_string(type) + "\" f=\"0\" g=\"" + std::to_string(i + 1) +
                "\" c=\"" + std::to_string(0x203040 + i) + "\" n=\"" + std::to_string(params) +
                "\" e=\"0\" px=\"" + Float(x) + "\" py=\"" + Float(0.0f) + "\" pz=\"" + Float(z) +
                "\" rx=\"" + Float(0.0f) + "\" ry=\"" + Float(0.25f) + "\" rz=\"" + Float(0.0f) +
                "\" ti=\"" + std::to_string(i % TextureCount) + "\" gi=\"" +
                std::to_string(i % (GroupCount + 1)) + "\" ct=\"" + Float(0.5f) +
                "\" tn=\"0\" tc=\"0\" an=\"0\" mox=\"" + Float(0.0f) + "\" moy=\"" + Float(0.0f) +
                "\" moz=\"" + Float(0.0f) + "\" glv=\"" + Float(1.0f) +
                "\" glc=\"16777215\" tb=\"-1\" t=\"Part " + std::to_string(i) + "\">\r\n";
        for (int p = 0; p < params; ++p) text += "<P>" + Float(10.0f + static_cast<float>(p)) + "</P>\r\n";
        text += "<ToadOp sc=\"0\" c=\"11\" fs=\"" + Float(0.0f) + "\" k=\"0\" m=\"0\" s=\"11000\" "
                "sp=\"13\" co=\"0\" mo=\"0\"/>\r\n</Obj>\r\n";
    }
    text += "</KVR>\r\n<Lights sel=\"0\"><L on=\"1\" px=\"" + Float(100.0f) + "\" py=\"" +
            Float(500.0f) + "\" pz=\"" + Float(300.0f) + "\" i=\"" + Float(0.6f) +
            "\" col=\"16777215\"/></Lights>\r\n</View_0>\r\n<Output x=\"640\" y=\"480\"/>\r\n"
            "<Textures>\r\n" + TextureElements() + "</Textures>\r\n<Toads/>\r\n</KVXMLFile>\r\n";
    return text;
}

const std::string& ScenePath() {
    static const std::string path = [] {
        const std::filesystem::path file =
            std::filesystem::temp_directory_path() / "orbelle_bench_scene.kvr";
        std::ofstream(file, std::ios::binary) << SceneText();
        return file.string();
    }();
    return path;
}

using Clock = std::chrono::steady_clock;

// The best of five runs of xmllint --noout on the file, in milliseconds; 0 when xmllint is
// not installed or fails.
double XmllintBestMs(const std::string& path) {
    if (std::system("command -v xmllint > /dev/null 2>&1") != 0) return 0.0;
    const std::string command = "xmllint --noout '" + path + "'";
    double best = 0.0;
    for (int run = 0; run < 5; ++run) {
        const Clock::time_point start = Clock::now();
        if (std::system(command.c_str()) != 0) return 0.0;
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        best = run == 0 ? ms : std::min(best, ms);
    }
    return best;
}

void BM_LoadSceneFile(benchmark::State& state) {
    const std::string& path = ScenePath();
    double bestMs = 0.0;
    bool first = true;
    for (auto _ : state) {
        state.PauseTiming();
        {
            QDocumentBase document;
            QRenderView view(&document);
            view.viewSettings.lights.RemoveAll();
            SceneSettings settings;
            state.ResumeTiming();
            const Clock::time_point start = Clock::now();
            const std::int16_t result = LoadSceneFile(document, path, &settings);
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            state.PauseTiming();
            if (result != SceneLoaded) state.SkipWithError("the scene did not load");
            bestMs = first ? ms : std::min(bestMs, ms);
            first = false;
        }
        state.ResumeTiming();
    }
    state.counters["best_ms"] = bestMs;
    const double xmllintMs = XmllintBestMs(path);
    if (xmllintMs > 0.0) {
        state.counters["xmllint_ms"] = xmllintMs;
        state.counters["ratio"] = bestMs / xmllintMs;
    }
    state.counters["file_kib"] =
        static_cast<double>(std::filesystem::file_size(path)) / 1024.0;
}

BENCHMARK(BM_LoadSceneFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace
