#include "platform/window_events.h"

namespace {

constinit WindowEventSink* gSink = nullptr;

}  // namespace

void SetWindowEventSink(WindowEventSink* sink) { gSink = sink; }

WindowEventSink* CurrentWindowEventSink() { return gSink; }
