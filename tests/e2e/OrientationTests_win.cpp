// Photos stand upright: the EXIF orientation tag of a JPEG or TIFF turns the
// picture before it is shown, and a broken tag never costs the picture.
// Photos show in their own colours: an embedded colour profile, or EXIF's
// Adobe RGB, is converted into the display's colours.
#include "tools/driver/Lumora_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace lumora::e2e {
namespace {

constexpr std::uint32_t kRed = 0xE02020, kGreen = 0x20C020, kBlue = 0x2040E0;

// The upright picture: red top-left quarter-corner, green top-right, blue
// elsewhere, so that a turn, a mirror and swapped sides all show.
std::uint32_t Upright(std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h) {
    if (y < h / 4 && x < w / 4) return kRed;
    if (y < h / 4 && x >= w - w / 4) return kGreen;
    return kBlue;
}

// 5 to 8 stand the stored picture on its side.
bool OnItsSide(int orientation) { return orientation >= 5; }

// The stored pixels of a picture that, turned as `orientation` says, shows as
// the upright picture of presentedW x presentedH: stored pixel (x, y) of the
// sw x sh stored picture is shown at the place each tag gives it.
PixelFunction StoredFor(int orientation, int presentedW, int presentedH) {
    const bool side = OnItsSide(orientation);
    const int sw = side ? presentedH : presentedW, sh = side ? presentedW : presentedH;
    return [=](int x, int y) {
        POINT shown{x, y};  // 1: as stored
        switch (orientation) {
        case 2: shown = {sw - 1 - x, y}; break;           // mirrored left to right
        case 3: shown = {sw - 1 - x, sh - 1 - y}; break;  // turned 180
        case 4: shown = {x, sh - 1 - y}; break;           // mirrored top to bottom
        case 5: shown = {y, x}; break;                    // transposed: row 0 becomes column 0
        case 6: shown = {sh - 1 - y, x}; break;           // turned clockwise: row 0 becomes the right column
        case 7: shown = {sh - 1 - y, sw - 1 - x}; break;  // transversed: row 0 becomes the right column, upwards
        case 8: shown = {y, sw - 1 - x}; break;           // turned counter-clockwise: row 0 becomes the left column
        }
        return Upright(shown.x, shown.y, presentedW, presentedH);
    };
}

void Put16(std::vector<std::uint8_t>& v, unsigned value) {
    v.push_back(static_cast<std::uint8_t>(value & 0xFF));
    v.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}
void Put32(std::vector<std::uint8_t>& v, std::uint32_t value) {
    Put16(v, value & 0xFFFF);
    Put16(v, value >> 16);
}
void PutEntry(std::vector<std::uint8_t>& v, unsigned tag, unsigned type, std::uint32_t count, std::uint32_t value) {
    Put16(v, tag);
    Put16(v, type);
    Put32(v, count);
    if (type == 3 && count == 1) {
        Put16(v, value);
        Put16(v, 0);
    } else {
        Put32(v, value);
    }
}

// A little-endian TIFF block whose first IFD holds one orientation entry.
std::vector<std::uint8_t> ExifTiff(unsigned orientation, unsigned type = 3) {
    std::vector<std::uint8_t> t = {'I', 'I', 42, 0};
    Put32(t, 8);
    Put16(t, 1);
    PutEntry(t, 0x0112, type, 1, orientation);
    Put32(t, 0);
    return t;
}

// The JPEG with an APP1 EXIF segment holding `tiff` right after its SOI.
bool AddExif(const std::wstring& path, const std::vector<std::uint8_t>& tiff) {
    std::vector<std::uint8_t> jpeg = ReadFileBytes(path);
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    std::vector<std::uint8_t> app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    const size_t length = app1.size() - 2;
    app1[2] = static_cast<std::uint8_t>(length >> 8);
    app1[3] = static_cast<std::uint8_t>(length & 0xFF);
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    return WriteFileBytes(path, jpeg);
}

// A baseline uncompressed RGB TIFF, written by hand so that it can carry an
// orientation tag whatever the encoder at hand supports.
std::vector<std::uint8_t> TiffFile(int w, int h, unsigned orientation, const PixelFunction& pixel) {
    constexpr unsigned kEntries = 11;
    const std::uint32_t ifdSize = 2 + kEntries * 12 + 4;
    const std::uint32_t bitsAt = 8 + ifdSize, pixelsAt = bitsAt + 6;
    const std::uint32_t pixelBytes = static_cast<std::uint32_t>(w) * static_cast<std::uint32_t>(h) * 3;
    std::vector<std::uint8_t> t = {'I', 'I', 42, 0};
    Put32(t, 8);
    Put16(t, kEntries);
    PutEntry(t, 256, 4, 1, static_cast<std::uint32_t>(w));   // ImageWidth
    PutEntry(t, 257, 4, 1, static_cast<std::uint32_t>(h));   // ImageLength
    PutEntry(t, 258, 3, 3, bitsAt);                          // BitsPerSample 8,8,8
    PutEntry(t, 259, 3, 1, 1);                               // no compression
    PutEntry(t, 262, 3, 1, 2);                               // RGB
    PutEntry(t, 273, 4, 1, pixelsAt);                        // StripOffsets
    PutEntry(t, 274, 3, 1, orientation);                     // Orientation
    PutEntry(t, 277, 3, 1, 3);                               // SamplesPerPixel
    PutEntry(t, 278, 4, 1, static_cast<std::uint32_t>(h));   // RowsPerStrip
    PutEntry(t, 279, 4, 1, pixelBytes);                      // StripByteCounts
    PutEntry(t, 284, 3, 1, 1);                               // PlanarConfiguration
    Put32(t, 0);
    for (int i = 0; i < 3; ++i) Put16(t, 8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t c = pixel(x, y);
            t.push_back(static_cast<std::uint8_t>(c >> 16));
            t.push_back(static_cast<std::uint8_t>(c >> 8));
            t.push_back(static_cast<std::uint8_t>(c));
        }
    return t;
}

struct Case {
    const char* what;
    bool tiff;
    int drawnFor;  // the orientation the stored pixels are drawn for
    std::vector<std::uint8_t> exif;  // JPEG: the APP1 EXIF content; empty for TIFF
    unsigned tiffTag = 1;
    int width = 240, height = 160;  // presented size
    // Where it shows on the 1024 x 768 desktop: 240 x 160 at its natural size,
    // left (1024 - 240) / 2 = 392, top (768 - 160) / 2 = 304.
    Box want = {392, 304, 632, 464};
};

TEST(Orientation, EveryTaggedPictureShowsUprightAndBrokenTagsShowAsStored) {
    ASSERT_EQ(::GetSystemMetrics(SM_CXSCREEN), 1024);
    ASSERT_EQ(::GetSystemMetrics(SM_CYSCREEN), 768);
    std::vector<Case> cases;
    for (int o = 1; o <= 8; ++o)
        cases.push_back({"JPEG tagged", false, o, ExifTiff(static_cast<unsigned>(o))});
    // Large enough to be scaled down: turned after scaling, at the fitted size.
    // 2048 x 682 fills the width: 1024 x 341 at top (768 - 341) / 2 = 213.5.
    cases.push_back({"large JPEG tagged", false, 6, ExifTiff(6), 1, 2048, 682, {0, 214, 1024, 555}});
    // 1536 x 1536 fills the height: 768 x 768 at left 128.
    cases.push_back({"large JPEG tagged", false, 7, ExifTiff(7), 1, 1536, 1536, {128, 0, 896, 768}});
    cases.push_back({"TIFF tagged", true, 6, {}, 6});
    cases.push_back({"TIFF tagged", true, 3, {}, 3});
    // Broken blocks: the picture is shown as its pixels are stored.
    cases.push_back({"tag out of range", false, 1, ExifTiff(9)});
    cases.push_back({"tag zero", false, 1, ExifTiff(0)});
    cases.push_back({"tag of the wrong type", false, 1, ExifTiff(6, 4)});
    cases.push_back({"IFD far outside the block", false, 1, {'I', 'I', 42, 0, 0xF0, 0xFF, 0xFF, 0x7F}});
    cases.push_back({"entry count beyond the block", false, 1, {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF, 0x12, 0x01}});
    cases.push_back({"no byte order", false, 1, {'X', 'Y', 42, 0, 8, 0, 0, 0}});
    cases.push_back({"empty block", false, 1, {}});
    cases.push_back({"TIFF tag out of range", true, 1, {}, 42});

    // One slideshow per picture, shown as the first picture: no forced tick,
    // so the slideshow's own 10-second timer cannot move it on under us.
    TestFolder folder(L"orientation");
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(::testing::Message() << "case " << i + 1 << ": " << c.what << " " << c.drawnFor);
        const int sw = OnItsSide(c.drawnFor) ? c.height : c.width, sh = OnItsSide(c.drawnFor) ? c.width : c.height;
        const std::wstring path = folder.file(PictureName(1));
        if (c.tiff) {
            ASSERT_TRUE(WriteFileBytes(path, TiffFile(sw, sh, c.tiffTag, StoredFor(c.drawnFor, c.width, c.height))));
        } else {
            ASSERT_TRUE(WritePicture(path, PictureFormat::Jpeg, sw, sh, StoredFor(c.drawnFor, c.width, c.height)));
            ASSERT_TRUE(AddExif(path, c.exif));
        }

        const Slideshow s = StartSlideshow(folder);
        ASSERT_NE(s.form, nullptr);
        const Box& want = c.want;
        // Where each part of the upright picture must be on screen.
        const auto at = [&](double fx, double fy) {
            return POINT{static_cast<LONG>(want.left + fx * (want.right - want.left)),
                         static_cast<LONG>(want.top + fy * (want.bottom - want.top))};
        };
        const POINT red = at(0.1, 0.1), green = at(0.9, 0.1), blue = at(0.5, 0.6);
        Image shot;
        const bool upright = WaitUntil(
            [&] {
                shot = CaptureScreen();
                return NearColour(shot.At(red.x, red.y), kRed, 48) && NearColour(shot.At(green.x, green.y), kGreen, 48) &&
                       NearColour(shot.At(blue.x, blue.y), kBlue, 48);
            },
            2000, 100);
        EXPECT_TRUE(upright) << "red " << std::hex << shot.At(red.x, red.y) << " green " << shot.At(green.x, green.y)
                             << " blue " << shot.At(blue.x, blue.y);
        // The presented size, not the stored one, is what was fitted.
        EXPECT_EQ(NonBlackBox(shot), want);
        wchar_t name[64];
        std::swprintf(name, std::size(name), L"\\orientation-%02d.png", static_cast<int>(i) + 1);
        shot.Save(OutDir() + name);
        ::PostMessageW(s.form, WM_CLOSE, 0, 0);
        EXPECT_EQ(s.process.ExitCodeWithin(5000), 0u);
    }
}

// Each picture of colour-pictures.sh shows the colour ImageMagick's colour
// management computes for it on an sRGB screen (Wine's display profile is
// sRGB); an untagged, sRGB-tagged or badly tagged one its stored colour
// exactly, and so does a grey one untagged or with an RGB profile.
TEST(Colour, PicturesShowTheColoursTheirProfilesMean) {
    wchar_t dir[MAX_PATH * 4];
    const DWORD length = ::GetEnvironmentVariableW(L"LUMORA_COLOUR_PICTURES", dir, static_cast<DWORD>(std::size(dir)));
    ASSERT_TRUE(length > 0 && length < std::size(dir)) << "LUMORA_COLOUR_PICTURES is not set";
    const std::vector<std::uint8_t> list = ReadFileBytes(std::wstring(dir) + L"\\expected.txt");
    std::istringstream lines(std::string(list.begin(), list.end()));
    std::string name;
    int r = 0, g = 0, b = 0, tolerance = 0, count = 0;
    TestFolder folder(L"colour");
    while (lines >> name >> r >> g >> b >> tolerance) {
        SCOPED_TRACE(name);
        ++count;
        const std::vector<std::uint8_t> picture =
            ReadFileBytes(std::wstring(dir) + L"\\" + std::wstring(name.begin(), name.end()));
        ASSERT_FALSE(picture.empty());
        ASSERT_TRUE(WriteFileBytes(folder.file(PictureName(1)), picture));
        const Slideshow s = StartSlideshow(folder);
        ASSERT_NE(s.form, nullptr);
        const auto want = static_cast<std::uint32_t>(r << 16 | g << 8 | b);
        EXPECT_TRUE(WaitForCentre(want, 5000, tolerance))
            << "want " << std::hex << want << ", shows " << ScreenPixel(::GetSystemMetrics(SM_CXSCREEN) / 2,
                                                                         ::GetSystemMetrics(SM_CYSCREEN) / 2);
        ::PostMessageW(s.form, WM_CLOSE, 0, 0);
        EXPECT_EQ(s.process.ExitCodeWithin(5000), 0u);
    }
    EXPECT_EQ(count, 12);
}

}  // namespace
}  // namespace lumora::e2e
