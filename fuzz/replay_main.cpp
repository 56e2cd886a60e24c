// Runs a fuzz target over files instead of generated inputs: every regular file below the
// folders given on the command line, in name order. Exits non-zero when no file was found,
// so a wrong data path cannot pass silently.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path root = argv[i];
        if (std::filesystem::is_regular_file(root)) {
            files.push_back(root);
            continue;
        }
        std::error_code ec;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root, ec)) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        // Every prefix too: truncation is the commonest corruption.
        for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 64) {
            LLVMFuzzerTestOneInput(bytes.data(), cut);
        }
    }
    std::printf("replayed %zu files\n", files.size());
    return files.empty() ? 1 : 0;
}
