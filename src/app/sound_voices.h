#pragma once

// The player's sounds. Gizmos play short ".wav" files when controls are triggered and when
// parts collide, often the same file several times at once, so each file keeps a list of
// voices: OpenAL sources, each bound to a buffer made from the file. A sound plays on the
// first voice of its list that is not playing, and a new voice joins the list when all are
// busy; voices stay for the rest of the run, so a sound played n times at once keeps n
// sources. The lists are found by the file's path.
//
// OpenAL is started with ALUT (StartSoundLibrary) and stopped at exit; without it nothing
// plays and nothing fails loudly, as a player without sound still plays its gizmo. Sound files
// are read and checked by the player itself (wave_file.h), not by ALUT's file loader.

#include "app/string_key_table.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One voice: an OpenAL buffer made from the sound's file (0 when the file could not be read)
// and the source that plays it.
struct SoundVoice {
    std::uint32_t buffer = 0;
    std::uint32_t source = 0;
};

class SoundVoices {
public:
    SoundVoices() = default;
    // Deletes the sources and buffers while OpenAL still has a context.
    ~SoundVoices();
    SoundVoices(const SoundVoices&) = delete;
    SoundVoices& operator=(const SoundVoices&) = delete;

    // Plays the sound file at path (the path is also the list's key) with the gain, pitch and
    // listener gain. A new voice reads the file (through the platform's path lookup). Returns
    // true when a voice started playing; false when no source could be made (nothing is kept
    // then, so a later play tries again) or the file could not be read (the voice stays,
    // silent, and is reused like any other).
    bool PlaySoundByName(std::string_view path, float gain, float pitch, float listenerGain);

    // The voices of the sound at path, in list order; empty when it never played.
    std::span<const SoundVoice> VoicesOf(std::string_view path);

    // How many voices of the sound at path are playing now.
    std::int32_t PlayingVoiceCount(std::string_view path);

private:
    StringKeyTable<std::vector<SoundVoice>> lists;
};

// Plays one voice: sets its source's pitch and gain and the listener's gain (which is global
// to OpenAL: every play sets it again for all sounds), then starts it. A voice without a
// source does nothing. True when OpenAL reported no error.
bool PlayVoice(const SoundVoice& voice, float gain, float listenerGain, float pitch);

// The sound file of a sound name: folder + "Sounds/" + name + ".wav"; the folder defaults to
// the program's (ending in "/").
std::string SoundFilePath(std::string_view name);
std::string SoundFilePath(std::string_view folder, std::string_view name);

// Starts OpenAL on the default device through ALUT and makes the process's voices. False,
// with ALUT's reason in whyNot, when no device can be opened; sounds then play nothing.
bool StartSoundLibrary(std::string& whyNot);

// Releases the process's voices and stops OpenAL. Safe when it never started.
void StopSoundLibrary();

// Plays a sound on the process's voices (SoundVoices::PlaySoundByName); false when the sound
// library is not running.
bool PlaySoundByName(std::string_view path, float gain, float pitch, float listenerGain);

// The process's voices, or null when the sound library is not running.
SoundVoices* ProcessSoundVoices();
