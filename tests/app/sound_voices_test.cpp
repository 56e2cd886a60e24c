#include "app/sound_voices.h"

#include "app/wave_file.h"
#include "platform/file_bytes.h"
#include "platform/program_folder.h"
#include "support/temp_folder.h"
#include "wave_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::int32_t SampleRate = 22050;

// A 441 Hz tone at amplitude 10000, mono 16-bit PCM.
std::vector<std::int16_t> Tone(std::int32_t count) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        samples[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(
            std::lround(10000.0 * std::sin(2.0 * 3.141592653589793 * 441.0 * i / SampleRate)));
    }
    return samples;
}

// The samples of the .wav OpenAL Soft wrote (mono, 16 bits), read as the player reads its
// own sound files.
std::vector<std::int16_t> ReadWaveSamples(const std::string& path) {
    FileBytes file;
    if (file.Read(path) != FileOpenError::None) return {};
    const std::optional<WaveSound> sound = DecodeWaveFile(file.Bytes());
    if (!sound || sound->channelCount != 1 || sound->bitsPerSample != 16) return {};
    std::vector<std::int16_t> samples;
    for (std::size_t i = 0; i + 1 < sound->samples.size(); i += 2) {
        samples.push_back(
            static_cast<std::int16_t>(sound->samples[i] | (sound->samples[i + 1] << 8)));
    }
    return samples;
}

// OpenAL Soft reads its configuration once a process, so every test of the process shares
// one: a mono 16-bit .wav at the tone's rate, in a folder that lasts as long as the process.
// Each start of the sound library writes the file anew.
const std::string& OutputWave() {
    static const TempFolder folder;
    static const std::string output = folder.Str() + "/played.wav";
    static const std::string config =
        folder.WriteFile("alsoft.conf",
                         "[general]\nchannels = mono\nsample-type = int16\nfrequency = 22050\n"
                         "output-limiter = false\ndither = false\n[wave]\nfile = " +
                             output + "\n");
    return output;
}

// Sets OpenAL Soft up to write what it plays into the output .wav, so the samples can be
// checked against the file played.
class SoundVoicesTest : public testing::Test {
protected:
    void SetUp() override {
        output = OutputWave();
        setenv("ALSOFT_DRIVERS", "wave", 1);
        setenv("ALSOFT_CONF", (output.substr(0, output.rfind('/')) + "/alsoft.conf").c_str(), 1);
        tone = Tone(SampleRate * 3 / 10);
        std::string samples;
        for (std::int16_t v : tone) wave_test::PutU16(samples, static_cast<std::uint16_t>(v));
        folder.WriteFile("Sounds/Tone.wav", wave_test::Pcm(1, SampleRate, 16, samples));
        std::string whyNot;
        started = StartSoundLibrary(whyNot);
        ASSERT_TRUE(started) << whyNot;
    }
    void TearDown() override {
        StopSoundLibrary();
        unsetenv("ALSOFT_DRIVERS");
        unsetenv("ALSOFT_CONF");
    }

    // Waits (5 s at most) until no voice of the sound plays.
    bool WaitUntilStopped(const std::string& path) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (ProcessSoundVoices()->PlayingVoiceCount(path) != 0) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    TempFolder folder;
    std::string output;
    std::vector<std::int16_t> tone;
    bool started = false;
};

TEST(SoundFilePath, IsTheSoundsFolderBesideTheProgram) {
    EXPECT_EQ(SoundFilePath("/opt/orbelle/", "Flip"), "/opt/orbelle/Sounds/Flip.wav");
    EXPECT_EQ(SoundFilePath("Ding"), ProgramFolder() + "Sounds/Ding.wav");
}

TEST(SoundVoices, NothingPlaysWithoutTheSoundLibrary) {
    StopSoundLibrary();
    EXPECT_EQ(ProcessSoundVoices(), nullptr);
    EXPECT_FALSE(PlaySoundByName("/nowhere/Sounds/Flip.wav", 1.0f, 1.0f, 1.0f));
    EXPECT_FALSE(PlayVoice(SoundVoice{}, 1.0f, 1.0f, 1.0f));
}

TEST_F(SoundVoicesTest, WritesTheSamplesOfThePlayedFile) {
    // The path as a scene names it: another case and the other separator.
    const std::string path = folder.Str() + "\\sounds\\tone.WAV";
    ASSERT_TRUE(PlaySoundByName(path, 1.0f, 1.0f, 1.0f));
    ASSERT_TRUE(WaitUntilStopped(path));
    StopSoundLibrary();  // closes the device and finishes the file

    const std::vector<std::int16_t> written = ReadWaveSamples(output);
    std::size_t start = 0;
    // The tone starts at 0; its first sample that is not 0 is its second.
    while (start < written.size() && written[start] == 0) ++start;
    ASSERT_GE(start, 1u) << "nothing was written";
    --start;
    ASSERT_GE(written.size(), start + tone.size());
    for (std::size_t i = 0; i < tone.size(); ++i) {
        ASSERT_NEAR(written[start + i], tone[i], 1) << "sample " << i;
    }
    for (std::size_t i = start + tone.size(); i < written.size(); ++i) {
        ASSERT_EQ(written[i], 0) << "sample " << i;
    }
}

TEST_F(SoundVoicesTest, BusyVoicesAddVoicesAndFreeOnesAreReused) {
    const std::string path = folder.Str() + "/Sounds/Tone.wav";
    SoundVoices& voices = *ProcessSoundVoices();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(PlaySoundByName(path, 0.5f, 1.0f, 1.0f)) << i;
    ASSERT_EQ(voices.VoicesOf(path).size(), 3u);
    EXPECT_EQ(voices.PlayingVoiceCount(path), 3);
    const SoundVoice first = voices.VoicesOf(path)[0];
    EXPECT_NE(first.source, voices.VoicesOf(path)[1].source);
    EXPECT_NE(first.buffer, 0u);

    ASSERT_TRUE(WaitUntilStopped(path));
    ASSERT_TRUE(PlaySoundByName(path, 0.5f, 1.0f, 1.0f));
    ASSERT_EQ(voices.VoicesOf(path).size(), 3u);
    EXPECT_EQ(voices.PlayingVoiceCount(path), 1);
}

TEST_F(SoundVoicesTest, AnUnreadableFileKeepsOneSilentVoice) {
    const std::string path = folder.Str() + "/Sounds/Missing.wav";
    EXPECT_FALSE(PlaySoundByName(path, 1.0f, 1.0f, 1.0f));
    EXPECT_FALSE(PlaySoundByName(path, 1.0f, 1.0f, 1.0f));
    const auto voices = ProcessSoundVoices()->VoicesOf(path);
    ASSERT_EQ(voices.size(), 1u);
    EXPECT_EQ(voices[0].buffer, 0u);
    EXPECT_NE(voices[0].source, 0u);
    // Text that is no sound file is read as none.
    const std::string junk = folder.WriteFile("Sounds/Junk.wav", "RIFF....WAVEjunk");
    EXPECT_FALSE(PlaySoundByName(junk, 1.0f, 1.0f, 1.0f));
}

}  // namespace
