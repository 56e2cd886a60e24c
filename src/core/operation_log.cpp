#include "core/operation_log.h"

#include "platform/file_system.h"

#include <cstdio>
#include <memory>
#include <utility>

namespace {

struct LogState {
    std::string path;
    const std::uint8_t* loggingSwitch = nullptr;
};

LogState& Log() {
    static LogState log;
    return log;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

void OperationLogSetPath(std::string path) { Log().path = std::move(path); }

void OperationLogSetSwitch(const std::uint8_t* loggingSwitch) {
    Log().loggingSwitch = loggingSwitch;
}

void AppendToLogFile(std::string_view line) {
    const LogState& log = Log();
    if (log.path.empty() || log.loggingSwitch == nullptr || *log.loggingSwitch == 0) return;

    const std::string path = NormalizeSeparators(log.path);
    FilePtr file(std::fopen(path.c_str(), "a"));
    if (!file) return;
    std::fseek(file.get(), 0, SEEK_END);
    if (std::ftell(file.get()) > OperationLogLimitBytes) {
        file.reset(std::fopen(path.c_str(), "w"));
        if (!file) return;
    }
    std::fwrite(line.data(), 1, line.size(), file.get());
}
