#include "app/wave_file.h"

#include "wave_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>

namespace {

using namespace wave_test;
using namespace std::string_literals;

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(WaveFile, ReadsPcmFormatsAndFindsTheSamples) {
    struct Case {
        const char* name;
        std::string file;
        std::int32_t channels;
        std::int32_t bits;
        std::int32_t rate;
        std::string samples;
    };
    std::string extensible = Format(0xFFFE, 2, 44100, 16);
    std::string extra;
    PutU16(extra, 22);
    PutU16(extra, 16);
    PutU32(extra, 3);
    PutU16(extra, 1);  // the sub-format: PCM
    extra += std::string(14, '\x11');
    extensible += extra;
    const Case cases[] = {
        {"mono 16", Pcm(1, 22050, 16, "abcd"), 1, 16, 22050, "abcd"},
        {"stereo 8", Pcm(2, 8000, 8, "xy"), 2, 8, 8000, "xy"},
        {"chunks before the format and padded ones between",
         Riff(Chunk("LIST", "abc") + Chunk("fmt ", Format(1, 1, 11025, 8)) + Chunk("fact", "q") +
              Chunk("data", "12345")),
         1, 8, 11025, "12345"},
        {"extensible PCM", Riff(Chunk("fmt ", extensible) + Chunk("data", "ABCDEFGH")), 2, 16,
         44100, "ABCDEFGH"},
        // A data chunk longer than the file is cut to the whole frames that are there.
        {"data size past the end",
         Riff(Chunk("fmt ", Format(1, 2, 22050, 16))) + "data\xFF\xFF\xFF\xFF" + "123456789", 2, 16,
         22050, "12345678"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<WaveSound> sound = DecodeWaveFile(Bytes(c.file));
        ASSERT_TRUE(sound.has_value());
        EXPECT_EQ(sound->channelCount, c.channels);
        EXPECT_EQ(sound->bitsPerSample, c.bits);
        EXPECT_EQ(sound->sampleRate, c.rate);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(sound->samples.data()),
                              sound->samples.size()),
                  c.samples);
    }
}

// Each of these is refused without reading past its bytes (the sanitizer build checks).
TEST(WaveFile, RefusesWhatIsNoPlayableWaveFile) {
    const std::string good = Pcm(1, 22050, 16, "abcd");
    std::string bigFormat = Riff("fmt ");
    PutU32(bigFormat, 1000);
    bigFormat += Format(1, 1, 22050, 16);
    const struct {
        const char* name;
        std::string file;
    } cases[] = {
        {"empty", ""},
        {"riff header cut", good.substr(0, 11)},
        {"the cut-off file that made the sound library read past its end", "RIFF....WAVEjunk"},
        {"not WAVE", "RIFF\x04\0\0\0AVI "s},
        {"no format", Riff(Chunk("data", "abcd"))},
        {"data before format", Riff(Chunk("data", "ab") + Chunk("fmt ", Format(1, 1, 8000, 8)))},
        {"format cut", good.substr(0, 30)},
        {"format larger than the file", bigFormat},
        {"format too short", Riff(Chunk("fmt ", "\x01\0\x01\0"s) + Chunk("data", "ab"))},
        {"not PCM", Riff(Chunk("fmt ", Format(3, 1, 22050, 16)) + Chunk("data", "abcd"))},
        {"extensible, too short",
         Riff(Chunk("fmt ", Format(0xFFFE, 1, 8000, 8)) + Chunk("data", "ab"))},
        {"three channels", Pcm(3, 22050, 16, "abcdef")},
        {"no channels", Pcm(0, 22050, 16, "abcd")},
        {"24 bits", Pcm(1, 22050, 24, "abc")},
        {"rate 0", Pcm(1, 0, 16, "abcd")},
        {"no samples", Pcm(1, 22050, 16, "")},
        {"less than a frame", Pcm(2, 22050, 16, "abc")},
        {"no data chunk", Riff(Chunk("fmt ", Format(1, 1, 8000, 8)))},
        {"data header cut", good.substr(0, good.size() - 6)},
        {"chunk size past the end",
         Riff(Chunk("fmt ", Format(1, 1, 8000, 8)) + "LIST\xF0\xFF\xFF\xFF" + "ab")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(DecodeWaveFile(Bytes(c.file)).has_value());
    }
}

}  // namespace
