// replay: scenefile/corpus
// Takes arbitrary bytes as a scene file: read into a document with a view (as XML, or as a
// binary part block when it does not parse), dumped, and read again as an object file.
// Either the file is refused with its code or everything it describes is safe to hold,
// print and destroy: hostile counts, indices, base64 and nesting included. A scene that
// reads is saved, read back and saved again: the file must read, and the second save must
// give the bytes of the first.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/process_init.h"
#include "model/q_document_base.h"
#include "platform/file_bytes.h"
#include "scenefile/loaded_scene.h"
#include "scenefile/object_records.h"
#include "scenefile/scene_dump.h"
#include "scenefile/scene_file_reader.h"
#include "scenefile/scene_file_writer.h"
#include "scenefile/scene_settings.h"
#include "view/q_render_view.h"

namespace {

std::string FuzzPath(const char* suffix = "") {
    return "/tmp/orbelle_scene_fuzz_" + std::to_string(getpid()) + suffix + ".kvr";
}

std::vector<std::uint8_t> FileContents(const std::string& path) {
    FileBytes file;
    if (file.Read(path) != FileOpenError::None) std::abort();
    return {file.Bytes().begin(), file.Bytes().end()};
}

// Saves the scene, reads the file back and saves that; the two files must be alike.
void CheckSaveRoundTrip(QDocumentBase& document, const SceneSettings& settings) {
    const std::string first = FuzzPath("_first");
    const std::string second = FuzzPath("_second");
    if (SaveSceneFile(document, first, SceneSaveMode::Everything, &settings) != SceneSaved) {
        return;
    }
    LoadedScene saved(first);
    if (saved.result != SceneLoaded) std::abort();
    if (SaveSceneFile(saved.document, second, SceneSaveMode::Everything, &saved.settings) !=
        SceneSaved) {
        std::abort();
    }
    LoadedScene again(second);
    if (again.result != SceneLoaded) std::abort();
    if (SaveSceneFile(again.document, first, SceneSaveMode::Everything, &again.settings) !=
            SceneSaved ||
        FileContents(first) != FileContents(second)) {
        std::abort();
    }
    std::remove(first.c_str());
    std::remove(second.c_str());
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
        if (result == SceneLoaded) CheckSaveRoundTrip(document, settings);
    }
    {
        PartRecordList records;
        (void)LoadQSectFile(records, path);
    }
    std::remove(path.c_str());
    return 0;
}
