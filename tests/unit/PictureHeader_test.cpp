#include "picture/PictureHeader.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace lumora {
namespace {

// "FF D8 ..." as bytes.
std::vector<std::uint8_t> Hex(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] != ' ')
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(std::string(text.substr(i++, 2)), nullptr, 16)));
    return bytes;
}

DeclaredSize Read(std::span<const std::uint8_t> file) { return ReadDeclaredSize(MemorySource(file)); }

const std::string kBmpFileHeader = "42 4D 00 00 00 00 00 00 00 00 00 00 00 00 ";
const std::string kPng1000x800 = "89 50 4E 47 0D 0A 1A 0A 00 00 00 0D 49 48 44 52 00 00 03 E8 00 00 03 20 ";

struct Case {
    const char* what;
    std::string hex;
    PictureKind kind;
    std::uint32_t width, height, scans;
};

TEST(ReadDeclaredSize, ReadsTheSizeEachFormatDeclares) {
    using K = PictureKind;
    const Case cases[] = {
        {"JPEG: APP0, DHT and DAC before SOF0", "FF D8 FF E0 00 06 4A 46 49 46 FF C4 00 04 00 00 FF CC 00 04 00 00 "
         "FF C0 00 0B 08 01 E0 02 80 01 01 11 00 FF D9", K::Jpeg, 640, 480, 0},
        {"JPEG: the reserved JPG marker (C8) is no frame header", "FF D8 FF C8 00 0B 08 00 10 00 10 01 01 11 00 "
         "FF C0 00 0B 08 01 E0 02 80 01 01 11 00", K::Jpeg, 640, 480, 0},
        {"JPEG: TEM and fill bytes, SOF1", "FF D8 FF 01 FF FF FF E1 00 02 FF FF C1 00 0B 08 00 10 00 20 01 01 11 00",
         K::Jpeg, 32, 16, 0},
        {"JPEG: SOF2, scans across stuffed bytes, restarts and fill", "FF D8 FF C2 00 0B 08 03 00 04 00 01 01 11 00 "
         "FF DA 00 08 01 01 00 00 3F 00 12 FF 00 34 FF D0 56 FF FF D1 78 FF DA 00 08 01 01 00 01 3F 00 9A FF 00 FF D7 "
         "FF DA 00 08 01 01 00 02 3F 00 DE FF D9 FF DA 00 02", K::Jpeg, 1024, 768, 3},
        {"JPEG: height 0 until DNL; a later SOF does not count", "FF D8 FF C0 00 0B 08 00 00 01 00 01 01 11 00 "
         "FF DA 00 08 01 01 00 00 3F 00 11 22 FF DC 00 04 00 40 FF C0 00 0B 08 00 20 00 20 01 01 11 00",
         K::Jpeg, 256, 0, 1},
        {"JPEG: segment running past the end after the frame", "FF D8 FF C0 00 0B 08 00 10 00 20 01 01 11 00 FF E2 10 00 00",
         K::Jpeg, 32, 16, 0},
        {"JPEG: garbage after the frame ends the walk", "FF D8 FF C0 00 0B 08 00 10 00 20 01 01 11 00 00 FF DA 00 02",
         K::Jpeg, 32, 16, 0},
        {"PNG", kPng1000x800 + "08 06 00 00 00", K::Png, 1000, 800, 0},
        {"GIF: screen only, trailer first", "47 49 46 38 37 61 40 01 F0 00 00 00 00 3B 2C 00 00 00 00 FF 0F FF 0F",
         K::Gif, 320, 240, 0},
        {"GIF: colour table, extensions, image wider than the screen", "47 49 46 38 39 61 0A 00 0A 00 81 00 00 "
         "2C 00 00 00 00 FF FF FF FF 00 00 00 21 F9 04 00 00 00 00 00 21 FE 03 61 62 63 02 64 65 00 "
         "2C 00 00 00 00 14 00 05 00 00", K::Gif, 20, 10, 0},
        {"GIF: prefix ends in an extension", "47 49 46 38 39 61 40 01 F0 00 00 00 00 21 FE 10 61 62",
         K::Gif, 320, 240, 0},
        {"BMP: core header", kBmpFileHeader + "0C 00 00 00 80 02 E0 01", K::Bmp, 640, 480, 0},
        {"BMP: info header", kBmpFileHeader + "28 00 00 00 20 4E 00 00 D4 30 00 00", K::Bmp, 20000, 12500, 0},
        {"BMP: OS/2 2.x header", kBmpFileHeader + "10 00 00 00 64 00 00 00 32 00 00 00", K::Bmp, 100, 50, 0},
        {"BMP: V5 header, top down", kBmpFileHeader + "7C 00 00 00 80 02 00 00 20 FE FF FF", K::Bmp, 640, 480, 0},
        {"BMP: INT32_MIN height", kBmpFileHeader + "28 00 00 00 01 00 00 00 00 00 00 80",
         K::Bmp, 1, 2147483648u, 0},
        {"TIFF: little-endian SHORTs", "49 49 2A 00 08 00 00 00 02 00 00 01 03 00 01 00 00 00 80 02 00 00 "
         "01 01 03 00 01 00 00 00 E0 01 00 00", K::Tiff, 640, 480, 0},
        {"TIFF: big-endian SHORTs", "4D 4D 00 2A 00 00 00 08 00 02 01 00 00 03 00 00 00 01 02 80 00 00 "
         "01 01 00 03 00 00 00 01 01 E0 00 00", K::Tiff, 640, 480, 0},
        {"TIFF: big-endian LONGs after another entry", "4D 4D 00 2A 00 00 00 08 00 03 "
         "00 FE 00 04 00 00 00 01 00 00 00 00 01 00 00 04 00 00 00 01 00 00 4E 20 01 01 00 04 00 00 00 01 00 00 30 D4",
         K::Tiff, 20000, 12500, 0},
        {"TIFF: little-endian LONGs, IFD at 12", "49 49 2A 00 0C 00 00 00 FF FF FF FF 02 00 00 01 04 00 01 00 00 00 "
         "10 27 00 00 01 01 04 00 01 00 00 00 88 13 00 00", K::Tiff, 10000, 5000, 0},
        {"ICO: 0 means 256", "00 00 01 00 01 00 00 00 00 00 01 00 20 00 28 00 00 00 16 00 00 00", K::Ico, 256, 256, 0},
        {"CUR: the entry with most pixels", "00 00 02 00 03 00 40 08 00 00 01 00 00 00 00 00 00 00 00 00 00 00 "
         "14 1E 00 00 01 00 00 00 00 00 00 00 00 00 00 00 10 10 00 00 01 00 00 00 00 00 00 00 00 00 00 00",
         K::Ico, 20, 30, 0},
        {"ICO: an embedded PNG's own size", "00 00 01 00 02 00 30 30 00 00 01 00 20 00 00 00 00 00 00 00 00 00 "
         "00 00 00 00 01 00 20 00 21 00 00 00 26 00 00 00 " + kPng1000x800, K::Ico, 1000, 800, 0},
    };
    for (const Case& c : cases) {
        const auto bytes = Hex(c.hex);
        const DeclaredSize d = Read(bytes);
        EXPECT_EQ(d.kind, c.kind) << c.what;
        EXPECT_EQ(d.width, c.width) << c.what;
        EXPECT_EQ(d.height, c.height) << c.what;
        EXPECT_EQ(d.jpegScans, c.scans) << c.what;
    }
}

TEST(ReadDeclaredSize, MalformedHeadersAreUnknown) {
    const std::pair<const char*, std::string> cases[] = {
        {"JPEG: segment running past the end before the frame",
         "FF D8 FF E0 01 00 00 00 FF C0 00 0B 08 00 10 00 20 01 01 11 00"},
        {"JPEG: length below 2", "FF D8 FF E0 00 01 FF C0 00 0B 08 00 10 00 20 01 01 11 00"},
        {"JPEG: FF 00 where a marker must be", "FF D8 FF 00 00 02 FF C0 00 0B 08 00 10 00 20 01 01 11 00"},
        {"JPEG: end of image before the frame", "FF D8 FF D9 00 04 00 00 FF C0 00 0B 08 00 10 00 20 01 01 11 00"},
        {"JPEG: frame header shorter than its fields", "FF D8 FF C0 00 07 08 00 10 00 20 FF D9"},
        {"PNG: first chunk not IHDR",
         "89 50 4E 47 0D 0A 1A 0A 00 00 00 04 67 41 4D 41 00 00 00 0D 49 48 44 52 00 00 4E 20 00 00 30 D4"},
        {"BMP: negative width", kBmpFileHeader + "28 00 00 00 FF FF FF FF 01 00 00 00"},
        {"BMP: header size 14", kBmpFileHeader + "0E 00 00 00 01 00 00 00 01 00 00 00"},
        {"TIFF: IFD past the end", "49 49 2A 00 00 10 00 00 02 00 00 01 03 00 01 00 00 00 80 02 00 00"},
        {"TIFF: width only", "49 49 2A 00 08 00 00 00 01 00 00 01 03 00 01 00 00 00 80 02 00 00"},
        {"BigTIFF", "49 49 2B 00 08 00 00 00 02 00 00 01 03 00 01 00 00 00 80 02 00 00"},
        {"ICO: no entries", "00 00 01 00 00 00 10 10 00 00 01 00 20 00 00 00 00 00 00 00 00 00"},
        {"ICO: directory cut short", "00 00 01 00 02 00 10 10 00 00 01 00 20 00 00 00 00 00 00 00 00 00"},
        {"not a picture", "25 50 44 46 2D 31 2E 37"},
    };
    for (const auto& [what, hex] : cases) EXPECT_EQ(Read(Hex(hex)).kind, PictureKind::Unknown) << what;
}

TEST(ReadDeclaredSize, HeadersCutShortAreUnknownUpToTheLastSizeByte) {
    const std::pair<std::string, std::size_t> cases[] = {  // a header and the bytes its size needs
        {"FF D8 FF E0 00 06 4A 46 49 46 FF C4 00 04 00 00 FF CC 00 04 00 00 "
         "FF C0 00 0B 08 01 E0 02 80 01 01 11 00", 31},
        {kPng1000x800, 24},
        {"47 49 46 38 39 61 0A 00 0A 00 00 00 00 2C 00 00 00 00 14 00 05 00 00", 13},
        {kBmpFileHeader + "0C 00 00 00 80 02 E0 01", 22},
        {kBmpFileHeader + "28 00 00 00 20 4E 00 00 D4 30 00 00", 26},
        {"4D 4D 00 2A 00 00 00 08 00 02 01 00 00 03 00 00 00 01 02 80 00 00 01 01 00 03 00 00 00 01 01 E0 00 00", 34},
        {"00 00 01 00 02 00 30 30 00 00 01 00 20 00 00 00 00 00 00 00 00 00 "
         "00 00 00 00 01 00 20 00 21 00 00 00 26 00 00 00 " + kPng1000x800, 38},
    };
    for (const auto& [hex, needed] : cases) {
        const auto bytes = Hex(hex);
        for (std::size_t cut = 0; cut < needed; ++cut)
            EXPECT_EQ(Read(std::span(bytes).first(cut)).kind, PictureKind::Unknown)
                << hex << " cut " << cut;
        EXPECT_NE(Read(std::span(bytes).first(needed)).kind, PictureKind::Unknown) << hex;
    }
}

TEST(ReadDeclaredSize, ProgressiveJpegWithTooManyScansIsRefused) {
    const struct { int scans; std::uint32_t counted; bool refused; } cases[] = {
        {5, 5, false}, {500, 500, false}, {501, 501, true}, {20000, 501, true}};  // counting stops past the limit
    for (const auto& c : cases) {
        auto file = Hex("FF D8 FF C2 00 0B 08 08 00 08 00 01 01 11 00");  // 2048 x 2048
        for (int i = 0; i < c.scans; ++i) file.insert(file.end(), {0xFF, 0xDA, 0x00, 0x02, 0x5A});
        const DeclaredSize d = Read(file);
        EXPECT_EQ(d.jpegScans, c.counted) << c.scans;
        EXPECT_EQ(RefusedByHeader(d), c.refused) << c.scans;
    }
}

// A scan bomb packs its scans close together: 1 MiB of entropy-coded data in
// all is searched for scans, the 0xFF of each marker counted.
TEST(ReadDeclaredSize, JpegScansAreSearchedForInTheFirstMebibyteOfEntropyData) {
    const struct { std::vector<std::size_t> gaps; std::uint32_t scans; } cases[] = {  // data before each next scan
        {{(1u << 20) - 1}, 2}, {{1u << 20}, 1}, {{1u << 19, (1u << 19) - 2}, 3}, {{1u << 19, (1u << 19) - 1}, 2}};
    for (const auto& c : cases) {
        auto file = Hex("FF D8 FF C2 00 0B 08 00 10 00 10 01 01 11 00 FF DA 00 02");
        for (const std::size_t gap : c.gaps) {
            file.resize(file.size() + gap, 0x5A);
            file.insert(file.end(), {0xFF, 0xDA, 0x00, 0x02});
        }
        EXPECT_EQ(Read(file).jpegScans, c.scans) << c.gaps.size() << " gaps, the first " << c.gaps[0];
    }
}

// Phone portraits keep megabytes of depth map as metadata before the frame
// header; the walk seeks past them instead of giving up.
TEST(ReadDeclaredSize, JpegFrameHeaderAfterMegabytesOfSegmentsIsFound) {
    std::vector<std::uint8_t> file = Hex("FF D8");
    for (int i = 0; i < 25; ++i) {  // 25 APP1 segments of 65535 bytes: 1.56 MiB
        file.insert(file.end(), {0xFF, 0xE1, 0xFF, 0xFF});
        file.resize(file.size() + 65533, 0x5A);
    }
    const auto frame = Hex("FF C0 00 0B 08 FF DC FF DC 01 01 11 00");  // 65500 x 65500
    file.insert(file.end(), frame.begin(), frame.end());
    const DeclaredSize d = Read(file);
    EXPECT_EQ(d.kind, PictureKind::Jpeg);
    EXPECT_EQ(d.width, 65500u);
    EXPECT_EQ(d.height, 65500u);
    EXPECT_TRUE(RefusedByHeader(d));
}

// Some decoders read every frame of a GIF when they are created.
TEST(ReadDeclaredSize, GifFramesAddUpAndAnyOneOverTheBudgetIsRefused) {
    // A frame of w x h, with a local colour table of 2^(table + 1) entries when `table` is given.
    const auto frame = [](std::uint16_t w, std::uint16_t h, int table = -1) {
        std::vector<std::uint8_t> f{0x2C, 0, 0, 0, 0, static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8),
                                    static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8),
                                    static_cast<std::uint8_t>(table < 0 ? 0 : 0x80 | table)};
        if (table >= 0) f.resize(f.size() + (3u << (table + 1)), 0x00);
        f.insert(f.end(), {0x02, 0x01, 0x44, 0x00});  // code size, one sub-block, end
        return f;
    };
    const struct {
        const char* what;
        std::vector<std::pair<int, std::pair<std::uint16_t, std::uint16_t>>> frames;  // count x (w, h)
        int table = -1;  // every frame's local colour table
        std::uint32_t width;  // the screen's, widened by the first frame
        std::uint64_t framePixels;
        bool refused;
    } cases[] = {
        {"one small frame", {{1, {16, 16}}}, -1, 16, 256, false},
        {"a small frame, then a huge one", {{1, {16, 16}}, {1, {40000, 40000}}}, -1, 16, 1'600'000'256, true},
        {"the same, each with a colour table of its own", {{1, {16, 16}}, {1, {40000, 40000}}}, 0, 16, 1'600'000'256, true},
        {"a small frame, then a huge one, 256-colour tables", {{1, {16, 16}}, {1, {40000, 40000}}}, 7, 16, 1'600'000'256, true},
        // 1085 x 480 x 480 = 249,984,000: just within the budget.
        {"1085 frames of 480 x 480", {{1085, {480, 480}}}, -1, 480, 249'984'000, false},
        {"1086 frames of 480 x 480", {{1086, {480, 480}}}, -1, 480, 250'214'400, true},
        // The walk stops once the sum is over the budget.
        {"6000 frames of 480 x 480", {{6000, {480, 480}}}, -1, 480, 250'214'400, true},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> file = Hex("47 49 46 38 39 61 10 00 10 00 00 00 00");  // 16 x 16 screen
        for (const auto& [count, size] : c.frames)
            for (int i = 0; i < count; ++i) {
                const auto f = frame(size.first, size.second, c.table);
                file.insert(file.end(), f.begin(), f.end());
            }
        file.push_back(0x3B);
        const DeclaredSize d = Read(file);
        EXPECT_EQ(d.kind, PictureKind::Gif) << c.what;
        EXPECT_EQ(d.width, c.width) << c.what;
        EXPECT_EQ(d.framePixels, c.framePixels) << c.what;
        EXPECT_EQ(RefusedByHeader(d), c.refused) << c.what;
    }
}

// Some decoders inflate a PNG's colour profile whole when they are created.
TEST(ReadDeclaredSize, PngColourProfileChunkOver256KiBIsRefused) {
    const auto chunk = [](const char* type, std::uint32_t length) {
        std::vector<std::uint8_t> c{static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
                                    static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
        c.insert(c.end(), type, type + 4);
        c.resize(c.size() + length + 4, 0x5A);  // data and CRC
        return c;
    };
    const struct {
        const char* what;
        std::vector<std::pair<const char*, std::uint32_t>> chunks;
        std::uint32_t profile;
        bool refused;
    } cases[] = {
        {"no profile", {{"gAMA", 4}, {"IDAT", 10}}, 0, false},
        {"a small profile after text", {{"tEXt", 100}, {"iCCP", 3000}, {"IDAT", 10}}, 3000, false},
        {"exactly 256 KiB", {{"iCCP", 262144}, {"IDAT", 10}}, 262144, false},
        {"one byte more", {{"iCCP", 262145}, {"IDAT", 10}}, 262145, true},
        {"a second, larger one", {{"iCCP", 100}, {"iCCP", 300000}, {"IDAT", 10}}, 300000, true},
        {"after the image data it is not looked for", {{"IDAT", 10}, {"iCCP", 300000}}, 0, false},
        {"a chunk running past the end", {{"iCCP", 300000}}, 300000, true},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> file = Hex(kPng1000x800 + "08 06 00 00 00 12 34 56 78");  // IHDR and its CRC
        for (const auto& [type, length] : c.chunks) {
            const auto bytes = chunk(type, length);
            file.insert(file.end(), bytes.begin(), bytes.end());
        }
        if (c.what == std::string_view("a chunk running past the end")) file.resize(file.size() - 1000);
        const DeclaredSize d = Read(file);
        EXPECT_EQ(d.kind, PictureKind::Png) << c.what;
        EXPECT_EQ(d.pngProfileChunk, c.profile) << c.what;
        EXPECT_EQ(RefusedByHeader(d), c.refused) << c.what;
    }
}

TEST(RefusedByHeader, RefusesOverTheBudgetAndNeverUnknown) {
    using K = PictureKind;
    const struct { DeclaredSize d; std::uint64_t budget; bool refused; } cases[] = {
        {{K::Png, 20000, 12500}, 250'000'000, false},  // exactly 250,000,000
        {{K::Png, 20001, 12500}, 250'000'000, true},
        {{K::Bmp, 1, 2147483648u}, 250'000'000, true},
        {{K::Jpeg, 4096, 0, 3}, 250'000'000, false},
        {{K::Gif, 100, 100}, 9999, true},
        {{K::Gif, 100, 100, 0, 10'000}, 10'000, false},
        {{K::Gif, 100, 100, 0, 10'001}, 10'000, true},
        {{K::Unknown, 100000, 100000, 100000}, 0, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RefusedByHeader(c.d, c.budget), c.refused) << c.d.width << " x " << c.d.height;
}

}  // namespace
}  // namespace lumora
