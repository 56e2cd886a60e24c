#include "gizmo/sound_sink.h"

namespace {

SoundSink* installedSink = nullptr;

}  // namespace

void SetSoundSink(SoundSink* sink) { installedSink = sink; }

SoundSink* CurrentSoundSink() { return installedSink; }
