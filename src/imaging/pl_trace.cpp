#include "imaging/pl_trace.h"

#include "core/operation_log.h"

#include <new>
#include <string>

namespace {

struct TraceSwitch {
    bool isOn = false;
    std::int32_t maxLevel = 0;
};

std::int64_t droppedLineCount = 0;

TraceSwitch& Switch() {
    static TraceSwitch traceSwitch;
    return traceSwitch;
}

}  // namespace

void PLTraceOn(std::int32_t maxLevel) { Switch() = {true, maxLevel}; }

void PLTraceOff() { Switch() = {}; }

bool PLTraceWants(std::int32_t level) {
    const TraceSwitch& traceSwitch = Switch();
    return traceSwitch.isOn && level <= traceSwitch.maxLevel;
}

void PLTrace(std::int32_t level, std::string_view text) {
    if (PLTraceWants(level)) AppendToLogFile(text);
}

void PLTraceFromCallback(std::int32_t level,
                         std::initializer_list<std::string_view> pieces) noexcept {
    if (!PLTraceWants(level)) return;
    try {
        std::string line;
        for (const std::string_view piece : pieces) line += piece;
        AppendToLogFile(line);
    } catch (const std::bad_alloc&) {
        ++droppedLineCount;
    }
}

std::int64_t PLTraceDroppedLineCount() { return droppedLineCount; }
