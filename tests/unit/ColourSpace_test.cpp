#include "picture/ByteReader.h"
#include "picture/ColourGrid.h"
#include "picture/ColourSpace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// A profile header with an empty tag table, as the ICC lays it out.
Bytes Profile(const char* deviceClass, const char* space, const char* pcs = "XYZ ", const char* mark = "acsp") {
    Bytes p(132, 0);
    const auto sig = [](const char* s) { return std::uint32_t(s[0]) << 24 | s[1] << 16 | s[2] << 8 | s[3]; };
    Put32(p, 0, 132);
    Put32(p, 12, sig(deviceClass));
    Put32(p, 16, sig(space));
    Put32(p, 20, sig(pcs));
    Put32(p, 36, sig(mark));
    return p;
}

// The s15Fixed16 numbers of an XYZ tag of a profile.
std::vector<double> XyzTag(const Bytes& p, const std::string& name) {
    const auto u32 = [&](std::size_t at) { return std::uint32_t(p[at]) << 24 | p[at + 1] << 16 | p[at + 2] << 8 | p[at + 3]; };
    for (std::uint32_t i = 0; i < u32(128); ++i) {
        const std::size_t e = 132 + 12 * i;
        if (std::string(p.begin() + e, p.begin() + e + 4) != name) continue;
        const std::size_t at = u32(e + 4) + 8;
        return {static_cast<std::int32_t>(u32(at)) / 65536.0, static_cast<std::int32_t>(u32(at + 4)) / 65536.0,
                static_cast<std::int32_t>(u32(at + 8)) / 65536.0};
    }
    return {};
}

// Tone curve tags: a pure power curve, and sRGB's own as a parametric curve (type 3).
Bytes PowerCurve(double gamma) {
    Bytes c = {'c', 'u', 'r', 'v', 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    const auto v = static_cast<std::uint16_t>(gamma * 256 + 0.5);
    c[12] = static_cast<std::uint8_t>(v >> 8), c[13] = static_cast<std::uint8_t>(v);
    return c;
}
Bytes SrgbParametricCurve() {
    Bytes c = {'p', 'a', 'r', 'a', 0, 0, 0, 0, 0, 3, 0, 0};
    for (const double v : {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045}) {
        c.resize(c.size() + 4);
        Put32(c, c.size() - 4, static_cast<std::uint32_t>(static_cast<std::int32_t>(v * 65536 + 0.5)));
    }
    return c;
}

// `profile` with the tags named in `tags` pointing to `data`, put at its end.
Bytes WithTag(Bytes p, const Bytes& data, const std::string& tags) {
    const auto at = static_cast<std::uint32_t>(p.size());
    p.insert(p.end(), data.begin(), data.end());
    const std::size_t count = std::size_t{p[130]} << 8 | p[131];
    for (std::size_t e = 132; e < 132 + 12 * count; e += 12)
        if (tags.find(std::string(p.begin() + static_cast<std::ptrdiff_t>(e), p.begin() + static_cast<std::ptrdiff_t>(e) + 4)) !=
            std::string::npos) {
            Put32(p, e + 4, at);
            Put32(p, e + 8, static_cast<std::uint32_t>(data.size()));
        }
    Put32(p, 0, static_cast<std::uint32_t>(p.size()));
    return p;
}

struct SourceCase {
    const char* what;
    ColourFacts facts;
    SourceColour::From from;
    bool cmyk = false;
    bool grey = false;
};

TEST(ChooseSource, TheProfileSpeaksForThePictureWhenItFitsItsPixelsElseExifOrNothing) {
    using From = SourceColour::From;
    const Bytes display = Profile("mntr", "RGB "), cmyk = Profile("prtr", "CMYK", "Lab ");
    const Bytes& srgb = SrgbProfile();
    const auto rgb = PixelModel::Rgb;
    const SourceCase cases[] = {
        {"untagged", {rgb, {}, {}, "", {}}, From::Nothing},
        {"EXIF sRGB", {rgb, {}, 1u, "R98", {}}, From::Nothing},
        {"EXIF uncalibrated, R03", {rgb, {}, 0xFFFFu, "R03", {}}, From::ExifAdobeRgb},
        {"EXIF uncalibrated, R98", {rgb, {}, 0xFFFFu, "R98", {}}, From::Nothing},
        {"EXIF uncalibrated alone", {rgb, {}, 0xFFFFu, "", {}}, From::Nothing},
        {"R03 with EXIF sRGB", {rgb, {}, 1u, "R03", {}}, From::Nothing},
        {"imaging component's Adobe RGB", {rgb, {}, {}, "", 2u}, From::ExifAdobeRgb},
        {"imaging component's sRGB", {rgb, {}, {}, "", 1u}, From::Nothing},
        {"display profile", {rgb, {display}, {}, "", {}}, From::EmbeddedProfile},
        {"profile over EXIF sRGB", {rgb, {display}, 1u, "", {}}, From::EmbeddedProfile},
        {"Adobe RGB profile", {rgb, {AdobeRgbProfile()}, {}, "", {}}, From::EmbeddedProfile},
        {"sRGB profile", {rgb, {SrgbProfile()}, {}, "", {}}, From::Nothing},
        {"sRGB's curve as a parametric one", {rgb, {WithTag(srgb, SrgbParametricCurve(), "rTRC gTRC bTRC")}, {}, "", {}},
         From::Nothing},
        {"sRGB's colorants, gamma 2.2", {rgb, {WithTag(srgb, PowerCurve(2.2), "rTRC gTRC bTRC")}, {}, "", {}},
         From::EmbeddedProfile},
        {"sRGB's colorants, blue of gamma 2.2", {rgb, {WithTag(srgb, PowerCurve(2.2), "bTRC")}, {}, "", {}},
         From::EmbeddedProfile},
        {"broken profile over R03", {rgb, {Profile("mntr", "RGB ", "XYZ ", "xxxx")}, 0xFFFFu, "R03", {}}, From::Nothing},
        {"broken first, good second", {rgb, {Bytes(40, 7), display}, {}, "", {}}, From::Nothing},
        {"grey profile on RGB", {rgb, {Profile("mntr", "GRAY")}, {}, "", {}}, From::Nothing},
        {"CMYK profile on RGB", {rgb, {cmyk}, {}, "", {}}, From::Nothing},
        {"device link", {rgb, {Profile("link", "RGB ")}, {}, "", {}}, From::Nothing},
        {"abstract", {rgb, {Profile("abst", "RGB ", "Lab ")}, {}, "", {}}, From::Nothing},
        {"RGB connection space", {rgb, {Profile("mntr", "RGB ", "RGB ")}, {}, "", {}}, From::Nothing},
        {"CMYK profile on CMYK", {PixelModel::Cmyk, {cmyk}, {}, "", {}}, From::EmbeddedProfile, true},
        {"RGB profile on CMYK", {PixelModel::Cmyk, {display}, {}, "", {}}, From::Nothing},
        {"CMYK without profile, R03", {PixelModel::Cmyk, {}, 0xFFFFu, "R03", {}}, From::Nothing},
        {"grey profile on grey pixels", {PixelModel::Grey, {Profile("prtr", "GRAY")}, {}, "", {}}, From::EmbeddedProfile,
         false, true},
        {"RGB profile on grey pixels", {PixelModel::Grey, {display}, {}, "", {}}, From::Nothing},
        {"CMYK profile on grey pixels", {PixelModel::Grey, {cmyk}, {}, "", {}}, From::Nothing},
        {"grey profile on CMYK pixels", {PixelModel::Cmyk, {Profile("prtr", "GRAY")}, {}, "", {}}, From::Nothing},
        {"untagged grey pixels, R03", {PixelModel::Grey, {}, 0xFFFFu, "R03", {}}, From::Nothing},
    };
    for (const SourceCase& c : cases) {
        const SourceColour s = ChooseSource(c.facts);
        EXPECT_EQ(s.from, c.from) << c.what;
        EXPECT_EQ(s.cmyk, c.cmyk) << c.what;
        EXPECT_EQ(s.grey, c.grey) << c.what;
        EXPECT_EQ(s.profile.empty(), c.from == From::Nothing) << c.what;
    }
}

TEST(ReadProfileHeader, RefusesWhatCannotBeTrustedAndEndsWhereTheProfileSaysItEnds) {
    Bytes good = Profile("mntr", "RGB ");
    good.resize(200, 0xAB);  // what follows the declared 132 bytes is not the profile's
    ASSERT_TRUE(ReadProfileHeader(good));
    EXPECT_EQ(ReadProfileHeader(good)->size, 132u);
    EXPECT_EQ(ChooseTarget(good).size(), 132u);

    const auto with = [&](std::size_t at, std::uint32_t v, std::size_t size = 200) {
        Bytes p = good;
        p.resize(size);
        Put32(p, at, v);
        return p;
    };
    const struct {
        const char* what;
        Bytes bytes;
    } bad[] = {
        {"shorter than a header", Bytes(good.begin(), good.begin() + 131)},
        {"declares more than there is", with(0, 201)},
        {"declares less than a header", with(0, 100)},
        {"tag table longer than the profile", with(128, 1)},
        {"tag past the end", [&] { Bytes p = with(0, 144); Put32(p, 128, 1); Put32(p, 136, 140); Put32(p, 140, 8); return p; }()},
        {"tag inside the header", [&] { Bytes p = with(0, 144); Put32(p, 128, 1); Put32(p, 136, 64); Put32(p, 140, 8); return p; }()},
        {"tag starting past the end", [&] { Bytes p = with(0, 144); Put32(p, 128, 1); Put32(p, 136, 160); Put32(p, 140, 8); return p; }()},
        {"over 8 MiB", with(0, (8u << 20) + 1, (8u << 20) + 1)},
        {"named colours", Profile("nmcl", "RGB ")},
    };
    for (const auto& b : bad) EXPECT_FALSE(ReadProfileHeader(b.bytes)) << b.what;
    EXPECT_TRUE(ReadProfileHeader(with(0, 8u << 20, 8u << 20))) << "8 MiB";
}

TEST(ChooseTarget, TheDisplaysOwnProfileWhenItDescribesAnRgbScreenOrColourSpaceElseSrgb) {
    const struct {
        Bytes display;
        bool own;
    } cases[] = {
        {Profile("mntr", "RGB "), true},
        {Profile("spac", "RGB ", "Lab "), true},  // a wide-gamut screen's colour space
        {Profile("scnr", "RGB "), false},
        {Profile("prtr", "RGB "), false},
        {Profile("mntr", "GRAY"), false},
        {Profile("mntr", "CMYK"), false},
        {Profile("mntr", "RGB ", "XYZ ", "xxxx"), false},
        {{}, false},
    };
    for (const auto& c : cases) {
        const ByteView target = ChooseTarget(c.display);
        EXPECT_EQ(target.data(), c.own ? c.display.data() : SrgbProfile().data())
            << std::string(c.display.begin() + 12, c.display.begin() + std::min<std::size_t>(c.display.size(), 20));
    }
}

TEST(BuiltProfiles, CarryThePublishedColorantsAdaptedToD50) {
    // Bradford-adapted colorants as published for sRGB (the ICC's own sRGB
    // profile) and for Adobe RGB (1998).
    const struct {
        const Bytes& profile;
        double colorants[3][3];
    } cases[] = {
        {SrgbProfile(), {{0.4361, 0.2225, 0.0139}, {0.3851, 0.7169, 0.0971}, {0.1431, 0.0606, 0.7141}}},
        {AdobeRgbProfile(), {{0.6097, 0.3111, 0.0195}, {0.2053, 0.6257, 0.0609}, {0.1492, 0.0632, 0.7446}}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(ReadProfileHeader(c.profile));
        EXPECT_EQ(ReadProfileHeader(c.profile)->size, c.profile.size());
        const char* tags[] = {"rXYZ", "gXYZ", "bXYZ"};
        for (int i = 0; i < 3; ++i) {
            const std::vector<double> xyz = XyzTag(c.profile, tags[i]);
            ASSERT_EQ(xyz.size(), 3u) << tags[i];
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(xyz[k], c.colorants[i][k], 0.0006) << tags[i] << k;
        }
    }
    EXPECT_TRUE(DescribesSrgb(SrgbProfile()));
    EXPECT_FALSE(DescribesSrgb(AdobeRgbProfile()));
}

// A JPEG start holding these segments: marker, then body.
Bytes Jpeg(const std::vector<std::pair<std::uint8_t, std::string>>& segments) {
    Bytes j = {0xFF, 0xD8};
    for (const auto& [marker, body] : segments) {
        j.insert(j.end(), {0xFF, marker, static_cast<std::uint8_t>((body.size() + 2) >> 8),
                           static_cast<std::uint8_t>(body.size() + 2)});
        j.insert(j.end(), body.begin(), body.end());
    }
    return j;
}
std::pair<std::uint8_t, std::string> Chunk(char number, char count, const std::string& data) {
    return {0xE2, std::string("ICC_PROFILE\0", 12) + number + count + data};
}

TEST(JpegIccProfile, PutsTheChunksTogetherInTheirOrderOrGivesNothing) {
    const struct {
        const char* what;
        Bytes file;
        std::string profile;
    } cases[] = {
        {"one chunk", Jpeg({Chunk(1, 1, "abc")}), "abc"},
        {"two in order", Jpeg({Chunk(1, 2, "ab"), {0xE1, "x"}, Chunk(2, 2, "cd")}), "abcd"},
        {"two reversed", Jpeg({Chunk(2, 2, "cd"), Chunk(1, 2, "ab")}), "abcd"},
        {"one missing", Jpeg({Chunk(1, 3, "ab"), Chunk(3, 3, "ef")}), ""},
        {"one doubled", Jpeg({Chunk(1, 2, "ab"), Chunk(1, 2, "ab"), Chunk(2, 2, "cd")}), ""},
        {"counts disagree", Jpeg({Chunk(1, 2, "ab"), Chunk(2, 3, "cd")}), ""},
        {"counts disagree, the last one met", Jpeg({Chunk(1, 3, "ab"), Chunk(2, 2, "cd")}), ""},
        {"a segment of length 1 ends the walk", [] {
             Bytes j = {0xFF, 0xD8, 0xFF, 0xE2, 0x00, 0x01};
             const std::string chunk = Chunk(1, 1, "abc").second;
             j.insert(j.end(), chunk.begin(), chunk.end());
             return j;
         }(), ""},
        {"number zero", Jpeg({Chunk(0, 1, "ab")}), ""},
        {"after the scan starts", Jpeg({{0xDA, "scan"}, Chunk(1, 1, "abc")}), ""},
        {"other APP2", Jpeg({{0xE2, "MPF\0rest"}}), ""},
        {"not a JPEG", Bytes{0x89, 'P', 'N', 'G'}, ""},
    };
    for (const auto& c : cases) {
        const Bytes profile = JpegIccProfile(MemorySource(c.file));
        EXPECT_EQ(std::string(profile.begin(), profile.end()), c.profile) << c.what;
    }
    // At most 8 MiB of chunks, their marks included: 128 full segments hold
    // 128 x 65533 bytes, 129 are over.
    const auto full = [](int count) {
        std::vector<std::pair<std::uint8_t, std::string>> chunks;
        for (int i = 1; i <= count; ++i) chunks.push_back(Chunk(static_cast<char>(i), static_cast<char>(count), std::string(65519, 'x')));
        return Jpeg(chunks);
    };
    EXPECT_EQ(JpegIccProfile(MemorySource(full(128))).size(), 128u * 65519);
    EXPECT_TRUE(JpegIccProfile(MemorySource(full(129))).empty());
}

// EXIF with ColorSpace 0xFFFF and an interoperability directory holding
// `index`; the pointer to the EXIF directory of type `pointer` (LONG or IFD).
std::string Exif(bool little, const std::string& index, unsigned pointer = 4) {
    std::string t = little ? std::string("II*\0", 4) : std::string("MM\0*", 4);
    const auto u16 = [&](unsigned v) { t += little ? std::string{char(v), char(v >> 8)} : std::string{char(v >> 8), char(v)}; };
    const auto u32 = [&](std::uint32_t v) { little ? (u16(v & 0xFFFF), u16(v >> 16)) : (u16(v >> 16), u16(v & 0xFFFF)); };
    u32(8);
    u16(1), u16(0x8769), u16(pointer), u32(1), u32(26), u32(0);                                     // IFD0 at 8
    u16(2), u16(0xA001), u16(3), u32(1), u16(0xFFFF), u16(0), u16(0xA005), u16(4), u32(1), u32(56), u32(0);  // at 26
    u16(1), u16(1), u16(2), u32(4);                                                            // at 56
    t += index;
    t.resize(t.size() + 4 - index.size(), '\0');
    u32(0);
    return std::string("Exif\0\0", 6) + t;
}

TEST(ReadExifColour, ReadsTheColourSpaceAndTheInteroperabilityIndexInEitherByteOrder) {
    for (const bool little : {true, false}) {
        const ExifColour e = ReadExifColour(MemorySource(Jpeg({{0xE1, Exif(little, "R03")}})));
        EXPECT_EQ(e.colourSpace, 0xFFFFu) << little;
        EXPECT_EQ(e.interopIndex, "R03") << little;
    }
    EXPECT_EQ(ReadExifColour(MemorySource(Jpeg({{0xE1, Exif(true, "R03", 13)}}))).interopIndex, "R03") << "pointer of type IFD";
    EXPECT_FALSE(ReadExifColour(MemorySource(Jpeg({{0xE1, Exif(true, "R03", 3)}}))).colourSpace) << "pointer of type SHORT";
    std::string cut = Exif(true, "R03");
    cut.resize(6 + 40);  // the interoperability directory is gone
    const ExifColour e = ReadExifColour(MemorySource(Jpeg({{0xE1, cut}})));
    EXPECT_EQ(e.colourSpace, 0xFFFFu);
    EXPECT_EQ(e.interopIndex, "");
    EXPECT_FALSE(ReadExifColour(MemorySource(Jpeg({{0xE1, "Exif\0\0II"}}))).colourSpace);
}

TEST(ColourGrid, AnUnchangingConversionGivesBackEveryPixelAndKeepsTheFourthByte) {
    ColourGrid grid(3);
    const Bytes inputs = grid.Inputs();
    ASSERT_EQ(inputs.size(), 33u * 33 * 33 * 4);
    ASSERT_TRUE(grid.SetOutputs(inputs));
    EXPECT_FALSE(grid.SetOutputs(Bytes(8)));
    Bytes pixels;
    for (int v = 0; v < 256; ++v)
        for (const Bytes& p : {Bytes{Bytes::value_type(v), 0, 255, 7}, Bytes{200, Bytes::value_type(v), 31, 0},
                               Bytes{Bytes::value_type(v), Bytes::value_type(255 - v), Bytes::value_type(v / 2), 128}})
            pixels.insert(pixels.end(), p.begin(), p.end());
    Bytes converted = pixels;
    grid.Apply(converted.data(), static_cast<std::uint32_t>(pixels.size() / 4), 1, pixels.size());
    EXPECT_EQ(converted, pixels);
}

// Pixels between the nodes, with every node black but three, so that each
// channel shows one node's weight. Between 0 and 8 (the first two nodes on
// every axis) the sRGB curve is straight, so a value v lies v/8 of the way in
// linear light. B 7, G 4, R 2 lies in the tetrahedron that walks along blue,
// then green, then red: the base node weighs 1 - 7/8, the node one step along
// blue 7/8 - 4/8, the far corner 2/8. Encoded with sRGB's curve, linear
// 0.125, 0.375 and 0.25 are 99, 165 and 137.
TEST(ColourGrid, PixelsBetweenTheNodesTakeTheNodesOfTheirTetrahedron) {
    ColourGrid grid(3);
    const Bytes inputs = grid.Inputs();
    Bytes outputs(inputs.size(), 0);
    for (std::size_t i = 0; i < inputs.size(); i += 4) {
        const Bytes node(inputs.begin() + static_cast<std::ptrdiff_t>(i), inputs.begin() + static_cast<std::ptrdiff_t>(i) + 3);
        if (node == Bytes{0, 0, 0}) outputs[i] = 255;      // base: blue out
        if (node == Bytes{8, 0, 0}) outputs[i + 1] = 255;  // one step along blue: green out
        if (node == Bytes{8, 8, 8}) outputs[i + 2] = 255;  // far corner: red out
    }
    ASSERT_TRUE(grid.SetOutputs(outputs));
    const struct {
        Bytes pixel, shown;
    } cases[] = {
        {{7, 4, 2, 77}, {99, 165, 137, 77}},  // blue, green, red
        {{7, 2, 4, 0}, {99, 165, 137, 0}},    // blue, red, green
        {{2, 4, 7, 255}, {99, 0, 137, 255}},  // red, green, blue: the blue step is off the walk
        {{4, 7, 2, 1}, {99, 0, 137, 1}},      // green, blue, red
    };
    for (const auto& c : cases) {
        Bytes pixel = c.pixel;
        grid.Apply(pixel.data(), 1, 1, 4);
        EXPECT_EQ(pixel, c.shown) << int(c.pixel[0]) << " " << int(c.pixel[1]) << " " << int(c.pixel[2]);
    }
}

// Grey has 256 colours: every level is converted by the colour module and
// taken as it comes, however uneven the conversion.
TEST(ColourGrid, GreyLevelsTakeTheirOwnConvertedColoursAndKeepTheFourthByte) {
    ColourGrid grid(1);
    ASSERT_EQ(grid.Inputs().size(), 256u);  // one byte a level, the colour module's grey layout
    Bytes outputs, pixels, shown;
    for (int v = 0; v < 256; ++v) {
        using B = Bytes::value_type;
        outputs.insert(outputs.end(), {B(v * 7), B(255 - v), B(v ^ 0x55), 0});
        pixels.insert(pixels.end(), {B(v), B(v), B(v), B(v / 3)});
        shown.insert(shown.end(), {B(v * 7), B(255 - v), B(v ^ 0x55), B(v / 3)});
    }
    ASSERT_TRUE(grid.SetOutputs(outputs));
    grid.Apply(pixels.data(), 16, 16, 64);
    EXPECT_EQ(pixels, shown);
}

TEST(ColourGrid, CmykPixelsBecomeTheConvertedColoursAtTheNodesAndOpaque) {
    ColourGrid grid(4);
    const Bytes inputs = grid.Inputs();
    ASSERT_EQ(inputs.size(), 17u * 17 * 17 * 17 * 4);  // 83,521 colours for the colour module
    Bytes outputs(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); i += 4)  // black ink alone darkens: grey 255 - K
        outputs[i] = outputs[i + 1] = outputs[i + 2] = static_cast<std::uint8_t>(255 - inputs[i + 3]);
    ASSERT_TRUE(grid.SetOutputs(outputs));
    Bytes pixels = {0, 0, 0, 0, 255, 255, 255, 0, 0, 0, 0, 255, 16, 48, 240, 128};
    grid.Apply(pixels.data(), 4, 1, 16);
    EXPECT_EQ(pixels, (Bytes{255, 255, 255, 255, 255, 255, 255, 255, 0, 0, 0, 255, 127, 127, 127, 255}));
}

}  // namespace
}  // namespace lumora
