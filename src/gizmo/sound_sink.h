#pragma once

// Where the gizmo's sounds go. The sound voices belong to the player above this layer, which
// installs its sink at start-up; with no sink installed the gizmo is silent. Tools install
// sinks of their own (gizmo-run prints the sounds it is handed).

#include <string_view>

class SoundSink {
public:
    virtual ~SoundSink() = default;
    // Plays the sound file at name with the source gain and pitch and the listener gain.
    virtual void PlaySoundByName(std::string_view name, float gain, float pitch,
                                 float listenerGain) = 0;
};

// Installs sink for the process (not owned; it must outlive its installation); null makes
// the process silent.
void SetSoundSink(SoundSink* sink);

// The installed sink, or null when none is.
SoundSink* CurrentSoundSink();
