#include "app/sound_voices.h"

#include "app/wave_file.h"
#include "platform/file_bytes.h"
#include "platform/program_folder.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alut.h>

#include <bit>
#include <memory>
#include <optional>

namespace {

// Sound files are short effects; a larger file is not read.
constexpr std::size_t MaxSoundFileBytes = 64u << 20;

std::unique_ptr<SoundVoices> gVoices;
bool gAlutStarted = false;

// Reads the file and makes an OpenAL buffer of its samples; 0 when it cannot be read or is
// no sound file the player plays.
ALuint BufferFromFile(std::string_view path) {
    // OpenAL takes 16-bit samples in host order; the file's are little-endian.
    static_assert(std::endian::native == std::endian::little);
    FileBytes file;
    if (file.Read(path, MaxSoundFileBytes) != FileOpenError::None) return 0;
    const std::optional<WaveSound> sound = DecodeWaveFile(file.Bytes());
    if (!sound) return 0;
    const ALenum format =
        sound->channelCount == 1
            ? (sound->bitsPerSample == 8 ? AL_FORMAT_MONO8 : AL_FORMAT_MONO16)
            : (sound->bitsPerSample == 8 ? AL_FORMAT_STEREO8 : AL_FORMAT_STEREO16);
    alGetError();
    ALuint buffer = 0;
    alGenBuffers(1, &buffer);
    if (alGetError() != AL_NO_ERROR) return 0;
    alBufferData(buffer, format, sound->samples.data(), static_cast<ALsizei>(sound->samples.size()),
                 sound->sampleRate);
    if (alGetError() != AL_NO_ERROR) {
        alDeleteBuffers(1, &buffer);
        return 0;
    }
    return buffer;
}

}  // namespace

SoundVoices::~SoundVoices() {
    if (alcGetCurrentContext() == nullptr) return;
    lists.ForEach([](std::string_view, std::vector<SoundVoice>& voices) {
        for (const SoundVoice& voice : voices) {
            ALuint source = voice.source;
            alSourceStop(source);
            alDeleteSources(1, &source);
            if (voice.buffer != 0) {
                ALuint buffer = voice.buffer;
                alDeleteBuffers(1, &buffer);
            }
        }
    });
}

bool SoundVoices::PlaySoundByName(std::string_view path, float gain, float pitch,
                                  float listenerGain) {
    std::vector<SoundVoice>* voices = lists.HashFind(path);
    if (voices != nullptr) {
        for (const SoundVoice& voice : *voices) {
            ALint state = 0;
            alGetSourcei(voice.source, AL_SOURCE_STATE, &state);
            if (state == AL_PLAYING) continue;
            // The voice of a file that could not be read is taken like any free one and
            // stays silent.
            return voice.buffer != 0 && PlayVoice(voice, gain, listenerGain, pitch);
        }
    }

    // Every voice is busy, or the sound has none yet: a new one. The list makes its room
    // first, so that running out of memory cannot strand a source outside it.
    if (voices == nullptr) {
        lists.HashSet(path, {});
        voices = lists.HashFind(path);
    }
    voices->reserve(voices->size() + 1);
    SoundVoice voice;
    alGetError();
    ALuint source = 0;
    alGenSources(1, &source);
    // Only a voice with a source joins the list: a voice kept without one would be taken as
    // free on every later play and silence the sound for the rest of the run.
    if (alGetError() != AL_NO_ERROR || source == 0) return false;
    voice.source = source;
    voice.buffer = BufferFromFile(path);
    if (voice.buffer != 0) {
        alSourcei(source, AL_BUFFER, static_cast<ALint>(voice.buffer));
        alSourcei(source, AL_LOOPING, AL_FALSE);
    }
    voices->push_back(voice);
    if (voice.buffer == 0) return false;
    return PlayVoice(voice, gain, listenerGain, pitch);
}

std::span<const SoundVoice> SoundVoices::VoicesOf(std::string_view path) {
    const std::vector<SoundVoice>* voices = lists.HashFind(path);
    if (voices == nullptr) return {};
    return *voices;
}

std::int32_t SoundVoices::PlayingVoiceCount(std::string_view path) {
    std::int32_t playing = 0;
    for (const SoundVoice& voice : VoicesOf(path)) {
        ALint state = 0;
        alGetSourcei(voice.source, AL_SOURCE_STATE, &state);
        playing += state == AL_PLAYING ? 1 : 0;
    }
    return playing;
}

bool PlayVoice(const SoundVoice& voice, float gain, float listenerGain, float pitch) {
    if (voice.source == 0) return false;
    alGetError();
    alSourcef(voice.source, AL_PITCH, pitch);
    alSourcef(voice.source, AL_GAIN, gain);
    alListenerf(AL_GAIN, listenerGain);
    alSourcePlay(voice.source);
    return alGetError() == AL_NO_ERROR;
}

std::string SoundFilePath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    path += "Sounds/";
    path += name;
    path += ".wav";
    return path;
}

std::string SoundFilePath(std::string_view name) { return SoundFilePath(ProgramFolder(), name); }

bool StartSoundLibrary(std::string& whyNot) {
    if (gAlutStarted) return true;
    if (alutInit(nullptr, nullptr) == AL_FALSE) {
        whyNot = alutGetErrorString(alutGetError());
        return false;
    }
    gAlutStarted = true;
    gVoices = std::make_unique<SoundVoices>();
    return true;
}

void StopSoundLibrary() {
    gVoices.reset();
    if (!gAlutStarted) return;
    alutExit();
    gAlutStarted = false;
}

bool PlaySoundByName(std::string_view path, float gain, float pitch, float listenerGain) {
    return gVoices != nullptr && gVoices->PlaySoundByName(path, gain, pitch, listenerGain);
}

SoundVoices* ProcessSoundVoices() { return gVoices.get(); }
