// replay: scenefile/corpus
// Takes arbitrary bytes as a scene file: read into a document with a view (as XML, or as a
// binary part block when it does not parse), dumped, and read again as an object file.
// Either the file is refused with its code or everything it describes is safe to hold,
// print and destroy: hostile counts, indices, base64 and nesting included.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "app/process_init.h"
#include "model/q_document_base.h"
#include "scenefile/object_records.h"
#include "scenefile/scene_dump.h"
#include "scenefile/scene_file_reader.h"
#include "scenefile/scene_settings.h"
#include "view/q_render_view.h"

namespace {

std::string FuzzPath() {
    return "/tmp/orbelle_scene_fuzz_" + std::to_string(getpid()) + ".kvr";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InitProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string path = FuzzPath();
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) return 0;
        // An empty input may come with a null pointer, which fwrite must not be given.
        const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
        if (std::fclose(file) != 0 || !written) return 0;
    }
    {
        QDocumentBase document;
        QRenderView view(&document);
        SetCurrentDocument(&document);
        SceneSettings settings;
        const std::int16_t result = LoadSceneFile(document, path, &settings);
        (void)SceneDumpJson(document, settings, result);
        SetCurrentDocument(nullptr);
    }
    {
        PartRecordList records;
        (void)LoadQSectFile(records, path);
    }
    std::remove(path.c_str());
    return 0;
}
