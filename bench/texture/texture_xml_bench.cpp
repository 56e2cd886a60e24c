#include "texture/texture_xml.h"

#include "core/xml_document.h"
#include "texture/q_texture.h"
#include "texture/q_texture_image.h"
#include "texture/texture_import.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// The text of a texture element holding a 1024 x 1024 noise image; type 1 also carries its
// saved default mapping.
std::string TextureElementText(std::uint8_t type) {
    constexpr int Side = 1024;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(Side) * Side);
    std::uint32_t state = 12345;
    for (auto& p : pixels) {
        state = state * 1664525u + 1013904223u;
        p = state | 0xFF000000u;
    }
    QTexture texture(nullptr);
    texture.type = type;
    auto* image = new QTextureImage();
    std::string errorText;
    if (ImportTextureImage(texture, pixels.data(), image, false, true, true, errorText, Side, Side,
                           false) != TextureImportOk) {
        delete image;
        return {};
    }
    XmlDocument xml;
    if (WriteTextureXml(texture, xml, false) != 0) return {};
    return xml.Text();
}

// From the element's text to a texture whose pyramid holds level 0: parsing, base64, TIFF
// decoding, the image copy and premultiplication, pyramid level 0 and the saved mapping.
void BM_ReadTextureXml(benchmark::State& state) {
    const std::string text = TextureElementText(static_cast<std::uint8_t>(state.range(0)));
    if (text.empty()) {
        state.SkipWithError("no texture element");
        return;
    }
    for (auto _ : state) {
        XmlDocument xml(text);
        QTexture texture(nullptr);
        const std::int16_t result = ReadTextureXml(nullptr, xml, texture, false, false);
        if (result != 0 || texture.Image() == nullptr) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(texture.Image());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ReadTextureXml)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
