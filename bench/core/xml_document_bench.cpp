// Reading a large scene-like document: parse it, extract every data element, decode the
// base64 and checksum the bytes, as texture loading does. Each stage reports its MB/s over
// the bytes it consumes.

#include "core/xml_document.h"

#include "core/base64.h"
#include "core/crc32.h"
#include "core/xml_values.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::size_t DocumentBytes = 30u * 1024 * 1024;
constexpr int DataElementCount = 5;
constexpr std::size_t DataElementBytes = 3u * 1024 * 1024;  // decoded size of each

// A scene of many small objects with base64 float attributes, and texture elements whose
// pictures are multi-megabyte base64 data, to about 30 MB in all.
const std::string& SceneText() {
    static const std::string text = [] {
        XmlDocument document("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n");
        document.AddElement("KVXMLFile");
        document.SetAttribute(document.CurrentPosition(), "version", "2.1");
        document.EnterElement();
        std::uint32_t state = 1;
        std::vector<std::uint8_t> pixels(DataElementBytes);
        for (int t = 0; t < DataElementCount; ++t) {
            for (std::uint8_t& b : pixels) {
                state = state * 214013u + 2531011u;
                b = static_cast<std::uint8_t>(state >> 16);
            }
            document.AddElement("KV_TEXTURE");
            document.SetAttribute(document.CurrentPosition(), "version", "1.0");
            document.EnterElement();
            document.AddElement("Image", Base64Encode(pixels));
            document.LeaveElement();
        }
        const double position[3] = {1.5, -2.25, 3.0};
        for (int i = 0; document.Text().size() < DocumentBytes; ++i) {
            document.AddElement("Object");
            SetIntAttribute(document, "id", i);
            WriteVectorAttributes(document, "p", position);
            SetFloatAttribute(document, "scale", 0.5f);
            document.EnterElement();
            document.AddElement("Name", "<Control trigger=\"key\" key=\"A\"/>");
            document.LeaveElement();
        }
        return document.Text();
    }();
    return text;
}

// Finds every texture picture by position, which leaves the navigation state alone.
std::vector<std::string> ExtractData(const XmlDocument& document) {
    std::vector<std::string> data;
    const std::int32_t root = document.FindElementPath(0, 0, "KVXMLFile");
    for (std::int32_t texture = document.FindElementPath(root, 0, "KV_TEXTURE"); texture != 0;
         texture = document.FindElementPath(root, texture, "KV_TEXTURE")) {
        data.push_back(document.GetDataAt(document.FindElementPath(texture, 0, "Image")));
    }
    return data;
}

void BM_XmlParseScene(benchmark::State& state) {
    const std::string& text = SceneText();
    for (auto _ : state) {
        XmlDocument document(text);
        benchmark::DoNotOptimize(document.Element(1));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_XmlParseScene)->Unit(benchmark::kMillisecond);

void BM_XmlExtractData(benchmark::State& state) {
    XmlDocument document(SceneText());
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const std::vector<std::string> data = ExtractData(document);
        for (const std::string& d : data) bytes += static_cast<std::int64_t>(d.size());
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_XmlExtractData)->Unit(benchmark::kMillisecond);

void BM_Base64DecodeData(benchmark::State& state) {
    XmlDocument document(SceneText());
    const std::vector<std::string> data = ExtractData(document);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        for (const std::string& d : data) {
            const std::vector<std::uint8_t> decoded = Base64Decode(d);
            benchmark::DoNotOptimize(decoded.data());
            bytes += static_cast<std::int64_t>(d.size());
        }
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_Base64DecodeData)->Unit(benchmark::kMillisecond);

void BM_Crc32DecodedData(benchmark::State& state) {
    XmlDocument document(SceneText());
    std::vector<std::vector<std::uint8_t>> decoded;
    for (const std::string& d : ExtractData(document)) decoded.push_back(Base64Decode(d));
    std::int64_t bytes = 0;
    for (auto _ : state) {
        for (const std::vector<std::uint8_t>& d : decoded) {
            benchmark::DoNotOptimize(Crc32(d.data(), d.size()));
            bytes += static_cast<std::int64_t>(d.size());
        }
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_Crc32DecodedData)->Unit(benchmark::kMillisecond);

}  // namespace
