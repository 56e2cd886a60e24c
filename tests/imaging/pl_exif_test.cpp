#include "imaging/pl_exif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Entry {
    std::uint16_t tag = 0;
    std::uint16_t format = 0;
    std::uint32_t count = 0;
    Bytes value;  // in the block's byte order
};

// Lays out a TIFF structure in either byte order: directories are appended with their
// larger values after them; offsets count from the start (the TIFF header).
class TiffBuilder {
public:
    explicit TiffBuilder(bool isBigEndian, Bytes start = {}) : big(isBigEndian) {
        bytes = start.empty() ? (big ? Bytes{'M', 'M', 0, 42, 0, 0, 0, 8}
                                     : Bytes{'I', 'I', 42, 0, 8, 0, 0, 0})
                              : std::move(start);
    }

    Bytes U16(std::initializer_list<int> values) const {
        Bytes out;
        for (const int v : values) Put(out, static_cast<std::uint32_t>(v), 2);
        return out;
    }
    Bytes U32(std::initializer_list<std::uint32_t> values) const {
        Bytes out;
        for (const std::uint32_t v : values) Put(out, v, 4);
        return out;
    }

    Entry Short(std::uint16_t tag, std::initializer_list<int> values) const {
        return {tag, 3, static_cast<std::uint32_t>(values.size()), U16(values)};
    }
    Entry SShort(std::uint16_t tag, int value) const { return {tag, 8, 1, U16({value})}; }
    Entry Long(std::uint16_t tag, std::uint32_t value) const { return {tag, 4, 1, U32({value})}; }
    Entry Rational(std::uint16_t tag, std::uint32_t n, std::uint32_t d) const {
        return {tag, 5, 1, U32({n, d})};
    }
    static Entry Ascii(std::uint16_t tag, const std::string& text) {
        Bytes value(text.begin(), text.end());
        value.push_back(0);
        return {tag, 2, static_cast<std::uint32_t>(value.size()), value};
    }

    // Appends a directory and returns its offset.
    std::uint32_t AddIfd(const std::vector<Entry>& entries) {
        const auto start = static_cast<std::uint32_t>(bytes.size());
        Put(bytes, static_cast<std::uint32_t>(entries.size()), 2);
        const std::size_t table = bytes.size();
        bytes.resize(table + 12 * entries.size() + 4, 0);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            const std::size_t at = table + 12 * i;
            PutAt(at, e.tag, 2);
            PutAt(at + 2, e.format, 2);
            PutAt(at + 4, e.count, 4);
            if (e.value.size() > 4) {
                PutAt(at + 8, static_cast<std::uint32_t>(bytes.size()), 4);
                bytes.insert(bytes.end(), e.value.begin(), e.value.end());
            } else {
                std::copy(e.value.begin(), e.value.end(),
                          bytes.begin() + static_cast<std::ptrdiff_t>(at + 8));
            }
        }
        return start;
    }

    std::uint32_t AddBytes(const Bytes& more) {
        const auto start = static_cast<std::uint32_t>(bytes.size());
        bytes.insert(bytes.end(), more.begin(), more.end());
        return start;
    }

    static std::size_t CountField(std::uint32_t ifd, int index) { return ifd + 2 + 12 * index + 4; }
    static std::size_t ValueField(std::uint32_t ifd, int index) { return ifd + 2 + 12 * index + 8; }

    void PutAt(std::size_t at, std::uint32_t value, int size) {
        Bytes out;
        Put(out, value, size);
        std::copy(out.begin(), out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }

    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes.size()); }
    const Bytes& Data() const { return bytes; }

    // The APP1 block: the Exif signature and the TIFF structure.
    Bytes App1() const {
        Bytes block = {'E', 'x', 'i', 'f', 0, 0};
        block.resize(6 + bytes.size());
        std::copy(bytes.begin(), bytes.end(), block.begin() + 6);
        return block;
    }

private:
    void Put(Bytes& out, std::uint32_t value, int size) const {
        for (int i = 0; i < size; ++i) {
            const int shift = big ? 8 * (size - 1 - i) : 8 * i;
            out.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    }

    bool big = false;
    Bytes bytes;
};

constexpr std::uint16_t MakeTag = 0x010F;
constexpr std::uint16_t ModelTag = 0x0110;
constexpr std::uint16_t ExifOffsetTag = 0x8769;
constexpr std::uint16_t MakerTag = 0x927C;

// A block with make and model in the main directory and a sub-directory whose only entry
// is the maker note: the note header followed by a directory of noteEntries.
Bytes BlockWithMakerNote(bool big, const std::string& make, const std::string& model,
                         const Bytes& noteHeader,
                         const std::function<std::vector<Entry>(const TiffBuilder&)>& noteEntries) {
    TiffBuilder b(big);
    const std::uint32_t main =
        b.AddIfd({TiffBuilder::Ascii(MakeTag, make), TiffBuilder::Ascii(ModelTag, model),
                  b.Long(ExifOffsetTag, 0)});
    const std::uint32_t sub = b.AddIfd({{MakerTag, 7, 8, Bytes(8, 0)}});
    b.PutAt(TiffBuilder::ValueField(main, 2), sub, 4);
    const std::uint32_t note = b.AddBytes(noteHeader);
    b.AddIfd(noteEntries(b));
    b.PutAt(TiffBuilder::CountField(sub, 0), b.Size() - note, 4);
    b.PutAt(TiffBuilder::ValueField(sub, 0), note, 4);
    return b.App1();
}

struct Expected {
    const char* key;
    const char* display;
};

void ExpectTags(const PLExif& exif, const std::vector<Expected>& expected) {
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.key);
        const PLExifTag* tag = exif.GetTag(e.key);
        ASSERT_NE(tag, nullptr);
        EXPECT_EQ(tag->GetDisplayText(), e.display);
    }
}

TEST(PLExif, MainAndSubTagsReadTheSameInBothByteOrders) {
    for (const bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        TiffBuilder b(big);
        const std::uint32_t main = b.AddIfd({
            TiffBuilder::Ascii(MakeTag, "Acme"),
            TiffBuilder::Ascii(ModelTag, "X1"),
            b.Short(0x0128, {2}),
            b.Rational(0x011A, 72, 1),
            b.Short(0x1234, {7}),
            b.Long(ExifOffsetTag, 0),
            {0x0131, 2, 0, {}},  // no elements: skipped
        });
        const std::uint32_t sub = b.AddIfd({
            b.Rational(0x829A, 1, 250),
            b.Rational(0x829D, 28, 10),
            b.Short(0x8822, {3}),
            b.Rational(0x920A, 50, 1),
            b.Short(0xA001, {65535}),
            {0x9101, 7, 4, {1, 2, 3, 0}},
            b.Short(0x9999, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}),
        });
        b.PutAt(TiffBuilder::ValueField(main, 5), sub, 4);

        PLExif exif;
        exif.ReadData(b.App1());
        EXPECT_EQ(exif.GetReadError(), "");
        EXPECT_EQ(exif.IsBigEndian(), big);
        ExpectTags(exif, {
                             {"Main.Make", "Acme"},
                             {"Main.Model", "X1"},
                             {"Main.ResUnit", "inch"},
                             {"Main.XRes", "72/1"},
                             {"main.1234", "7"},
                             {"MAIN.1234", "7"},
                             {"Sub.Shutter", "1/250 s"},
                             {"Sub.FStop", "f2.8"},
                             {"Sub.Prog", "Aperture priority"},
                             {"Sub.Focal", "50 mm"},
                             {"Sub.ColorSpace", "Uncalibrated"},
                             {"Sub.CompConfig", "YCbCr"},
                             {"Sub.9999", "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 ..."},
                         });
        EXPECT_EQ(exif.GetTag("Main.1234")->GetKey(), "Main.1234");
        EXPECT_EQ(exif.GetTag("Main.Make")->GetDescription(), "Camera Make");
        EXPECT_EQ(exif.GetTag("Main.Software"), nullptr);
        EXPECT_EQ(exif.GetMainTags().size(), 6u);
        EXPECT_EQ(exif.GetSubTags().size(), 7u);
        EXPECT_EQ(exif.GetAllTags().size(), 13u);
        EXPECT_TRUE(exif.GetMakerNoteTags().empty());
        EXPECT_EQ(exif.GetAllTags()[0]->GetKey(), "Main.Make");
        EXPECT_EQ(exif.GetRawData().size(), b.App1().size());
        // The values are released once the block is read; the texts stay.
        EXPECT_TRUE(exif.GetTag("Sub.9999")->GetValueBytes().empty());
    }
}

TEST(PLExif, MakerNotesOfTheFiveMakers) {
    const Bytes none;
    const Bytes nikonHeader = {'N', 'i', 'k', 'o', 'n', 0, 2, 0};
    const Bytes olympusHeader = {'O', 'L', 'Y', 'M', 'P', 0, 1, 0};
    struct Case {
        const char* name;
        bool big;
        const char* make;
        const char* model;
        Bytes header;
        std::function<std::vector<Entry>(const TiffBuilder&)> entries;
        std::vector<Expected> expected;
        std::vector<const char*> absent;
    };
    const Case cases[] = {
        {"Nikon with header",
         false,
         "NIKON CORPORATION",
         "E990",
         nikonHeader,
         [](const TiffBuilder& b) {
             return std::vector<Entry>{b.Short(0x0003, {6}), b.Rational(0x000A, 2, 1)};
         },
         {{"Nikon2.Quality", "SXGA Fine"}, {"Nikon2.DigZoom", "2 x"}},
         {"Nikon.Quality"}},
        {"Nikon without header",
         true,
         "NIKON",
         "D1",
         none,
         [](const TiffBuilder&) { return std::vector<Entry>{TiffBuilder::Ascii(0x0004, "FINE ")}; },
         {{"Nikon.Quality", "Fine"}},
         {"Nikon2.Quality"}},
        {"Olympus",
         false,
         "OLYMPUS OPTICAL CO.,LTD",
         "C3030Z",
         olympusHeader,
         [](const TiffBuilder& b) {
             return std::vector<Entry>{b.Short(0x0201, {2}), b.Short(0x1004, {2})};
         },
         {{"Oly.Quality", "HQ"}, {"Oly.Flash", "Fill"}},
         {}},
        {"Canon",
         true,
         "Canon",
         "Canon EOS D30",
         none,
         [](const TiffBuilder& b) {
             return std::vector<Entry>{
                 b.Short(0x0001, {0, 2, 0, 0, 1, 0}),
                 b.Short(0x0004, {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x3002, 65504}),
                 b.Long(0x0008, 1001234),
                 b.Short(0x000F, {0x0101, 0x0203, 0x4001}),
             };
         },
         {{"Canon.Macro", "Off"},
          {"Canon.Flash", "Auto"},
          {"Canon.WhiteBal", "Sunny"},
          {"Canon.AF Point", "Left"},
          {"Canon.FlashBias", "-1 EV"},
          {"Canon.ImageNo", "100-1234"},
          {"CanonCFn.NoiseRed", "On"},
          {"CanonCFn.Lock", "AE+release/AE+AF"}},
         {"Canon.0000", "CanonCFn.0040"}},
        {"Fujifilm inside a big-endian block",
         true,
         "FUJIFILM",
         "FinePix4900Z",
         none,
         [](const TiffBuilder&) { return std::vector<Entry>{}; },
         {},
         {}},
        {"Casio QV-2000UX",
         false,
         "CASIO",
         "QV-2000UX",
         none,
         [](const TiffBuilder& b) {
             return std::vector<Entry>{b.Short(0x0004, {4}), b.SShort(0x0101, -3)};
         },
         {{"Casio.FlashMode", "Red Eye Reduction"}, {"Casio.EVShift", "-1.0 EV"}},
         {}},
        {"Casio other model",
         false,
         "CASIO",
         "QV-3000EX",
         none,
         [](const TiffBuilder& b) { return std::vector<Entry>{b.Short(0x0004, {4})}; },
         {{"Casio.FlashMode", "Off"}},
         {}},
        {"unknown make",
         false,
         "Acme",
         "X1",
         none,
         [](const TiffBuilder& b) { return std::vector<Entry>{b.Short(0x0004, {4})}; },
         {},
         {"Casio.FlashMode", "Nikon.Quality"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PLExif exif;
        if (std::string(c.make) == "FUJIFILM") {
            // Fujifilm: little-endian, offsets from the note's start, directory at 12.
            TiffBuilder note(false, {'F', 'U', 'J', 'I', 'F', 'I', 'L', 'M', 12, 0, 0, 0});
            note.AddIfd({note.Short(0x1001, {3}), note.Short(0x1002, {256}),
                         TiffBuilder::Ascii(0x1000, "NORMAL ")});
            exif.ReadData(
                BlockWithMakerNote(c.big, c.make, c.model, note.Data(),
                                   [](const TiffBuilder&) { return std::vector<Entry>{}; }));
            ExpectTags(exif, {{"Fuji.Sharpness", "Normal"},
                              {"Fuji.WhiteBal", "Daylight"},
                              {"Fuji.Quality", "Normal"}});
        } else {
            exif.ReadData(BlockWithMakerNote(c.big, c.make, c.model, c.header, c.entries));
            ExpectTags(exif, c.expected);
        }
        EXPECT_EQ(exif.GetReadError(), "");
        EXPECT_EQ(exif.GetMakerNoteTags().empty(), std::string(c.make) == "Acme");
        for (const char* key : c.absent) EXPECT_EQ(exif.GetTag(key), nullptr) << key;
    }
}

TEST(PLExif, DamagedBlocksKeepTheTagsBeforeTheFault) {
    // Main: make, model, Exif offset; Sub: the F-number.
    const auto build =
        [](const std::function<void(TiffBuilder&, std::uint32_t main, std::uint32_t sub)>& damage) {
            TiffBuilder b(false);
            // Make and model fit inside their entries.
            const std::uint32_t main =
                b.AddIfd({TiffBuilder::Ascii(MakeTag, "Acm"), TiffBuilder::Ascii(ModelTag, "X1"),
                          b.Long(ExifOffsetTag, 0)});
            const std::uint32_t sub = b.AddIfd({b.Rational(0x829D, 28, 10)});
            b.PutAt(TiffBuilder::ValueField(main, 2), sub, 4);
            damage(b, main, sub);
            return b.App1();
        };
    struct Case {
        const char* name;
        Bytes block;
        const char* error;  // the start of the reported fault; "" for none
        std::vector<const char*> present;
        std::vector<const char*> absent;
    };
    const auto entry = [](std::uint32_t ifd, int index) { return ifd + 2 + 12 * index; };
    const Case cases[] = {
        {"whole",
         build([](TiffBuilder&, std::uint32_t, std::uint32_t) {}),
         "",
         {"Main.Make", "Main.Model", "Sub.FStop"},
         {}},
        {"format code 13",
         build([&](TiffBuilder& b, std::uint32_t main, std::uint32_t) {
             b.PutAt(entry(main, 1) + 2, 13, 2);
         }),
         "EXIF Tag format field not understood",
         {"Main.Make"},
         {"Main.Model", "Sub.FStop"}},
        {"count of 70,000",
         build([&](TiffBuilder& b, std::uint32_t main, std::uint32_t) {
             b.PutAt(entry(main, 1) + 4, 70000, 4);
         }),
         "EXIF NoComp field not understood",
         {"Main.Make"},
         {"Main.Model"}},
        {"count past the block",
         build([&](TiffBuilder& b, std::uint32_t main, std::uint32_t) {
             b.PutAt(entry(main, 1) + 4, 60000, 4);
         }),
         "EXIF value outside the data",
         {"Main.Make"},
         {"Main.Model"}},
        {"value offset past the block",
         build([&](TiffBuilder& b, std::uint32_t main, std::uint32_t) {
             b.PutAt(entry(main, 1) + 4, 8, 4);
             b.PutAt(entry(main, 1) + 8, 0xFFFFFFF0u, 4);
         }),
         "EXIF value outside the data",
         {"Main.Make"},
         {"Main.Model"}},
        {"sub-directory past the block",
         build([&](TiffBuilder& b, std::uint32_t main, std::uint32_t) {
             b.PutAt(entry(main, 2) + 8, 5000, 4);
         }),
         "EXIF directory outside the data",
         {"Main.Make", "Main.Model"},
         {"Sub.FStop"}},
        {"cut inside the main directory",
         [&] {
             Bytes block = build([](TiffBuilder&, std::uint32_t, std::uint32_t) {});
             block.resize(6 + 8 + 2 + 2 * 12 + 6);
             return block;
         }(),
         "EXIF directory entry outside the data",
         {"Main.Make", "Main.Model"},
         {"Main.ExifOffset", "Sub.FStop"}},
        {"cut inside the header",
         {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0},
         "EXIF block ends inside its header",
         {},
         {}},
        {"unknown byte order",
         {'E', 'x', 'i', 'f', 0, 0, 'X', 'X', 42, 0, 8, 0, 0, 0, 0, 0},
         "EXIF byte order not understood",
         {},
         {}},
        {"not Exif", {'J', 'F', 'I', 'F', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0}, "", {}, {}},
        {"empty", {}, "", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PLExif exif;
        exif.ReadData(c.block);
        EXPECT_EQ(exif.GetReadError().rfind(c.error, 0), 0u) << exif.GetReadError();
        EXPECT_EQ(exif.GetReadError().empty(), std::string(c.error).empty());
        for (const char* key : c.present) EXPECT_NE(exif.GetTag(key), nullptr) << key;
        for (const char* key : c.absent) EXPECT_EQ(exif.GetTag(key), nullptr) << key;
        if (c.present.empty()) {
            EXPECT_TRUE(exif.GetAllTags().empty());
        }
    }
    // A block that is not Exif is not kept for writing back.
    PLExif exif;
    exif.ReadData(Bytes{'J', 'F', 'I', 'F', 0, 0, 'I', 'I'});
    EXPECT_TRUE(exif.GetRawData().empty());
}

}  // namespace
