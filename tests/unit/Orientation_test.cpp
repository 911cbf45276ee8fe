#include "picture/Orientation.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumora {
namespace {

TEST(NormalisedOrientation, AnythingOutsideOneToEightMeansAsStored) {
    EXPECT_EQ(NormalisedOrientation(std::nullopt), 1);
    for (std::int64_t bad : {0LL, 9LL, -1LL, 65535LL, 1LL << 40}) EXPECT_EQ(NormalisedOrientation(bad), 1) << bad;
    for (int good = 1; good <= 8; ++good) EXPECT_EQ(NormalisedOrientation(good), good);
}

// What each tag means, in the words of the EXIF standard: which side of the
// upright picture stored row 0 and stored column 0 are on. Checked here as
// where the stored top-left and top-right pixels of a 4 x 3 picture land.
struct Meaning {
    int orientation;
    PixelPoint topLeftGoesTo;
    PixelPoint topRightGoesTo;
};

class OrientationMeaning : public ::testing::TestWithParam<Meaning> {};

TEST_P(OrientationMeaning, StepsPutTheStoredCornersWhereTheTagSays) {
    const Meaning m = GetParam();
    const OrientationSteps steps = StepsFor(m.orientation);
    EXPECT_EQ(PresentedPosition(steps, 4, 3, {0, 0}), m.topLeftGoesTo);
    EXPECT_EQ(PresentedPosition(steps, 4, 3, {3, 0}), m.topRightGoesTo);
    EXPECT_EQ(SwapsSides(m.orientation), m.orientation >= 5);
}

INSTANTIATE_TEST_SUITE_P(AllEight, OrientationMeaning,
                         ::testing::Values(Meaning{1, {0, 0}, {3, 0}},    // row 0 top, column 0 left
                                           Meaning{2, {3, 0}, {0, 0}},    // row 0 top, column 0 right
                                           Meaning{3, {3, 2}, {0, 2}},    // row 0 bottom, column 0 right
                                           Meaning{4, {0, 2}, {3, 2}},    // row 0 bottom, column 0 left
                                           Meaning{5, {0, 0}, {0, 3}},    // row 0 left, column 0 top
                                           Meaning{6, {2, 0}, {2, 3}},    // row 0 right, column 0 top
                                           Meaning{7, {2, 3}, {2, 0}},    // row 0 right, column 0 bottom
                                           Meaning{8, {0, 3}, {0, 0}}));  // row 0 left, column 0 bottom

TEST(PresentedPosition, EveryPixelLandsInsideThePresentedPictureExactlyOnce) {
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const std::int64_t w = 5, h = 3;
        const std::int64_t pw = SwapsSides(orientation) ? h : w, ph = SwapsSides(orientation) ? w : h;
        std::vector<int> hits(static_cast<size_t>(w * h), 0);
        for (std::int64_t y = 0; y < h; ++y)
            for (std::int64_t x = 0; x < w; ++x) {
                const PixelPoint p = PresentedPosition(StepsFor(orientation), w, h, {x, y});
                ASSERT_TRUE(p.x >= 0 && p.x < pw && p.y >= 0 && p.y < ph) << orientation;
                ++hits[static_cast<size_t>(p.y * pw + p.x)];
            }
        for (int count : hits) EXPECT_EQ(count, 1) << "orientation " << orientation;
    }
}

// A JPEG start with one APP1 EXIF block holding `tiff`.
std::vector<std::uint8_t> JpegWithExif(const std::vector<std::uint8_t>& tiff, bool withExifHeader = true) {
    std::vector<std::uint8_t> body;
    if (withExifHeader) body = {'E', 'x', 'i', 'f', 0, 0};
    body.insert(body.end(), tiff.begin(), tiff.end());
    const size_t length = body.size() + 2;
    std::vector<std::uint8_t> file = {0xFF, 0xD8,                                   // SOI
                                      0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00,           // an APP0 first
                                      0xFF, 0xE1, static_cast<std::uint8_t>(length >> 8),
                                      static_cast<std::uint8_t>(length & 0xFF)};
    file.insert(file.end(), body.begin(), body.end());
    file.insert(file.end(), {0xFF, 0xDA, 0x00, 0x02});  // start of scan
    return file;
}

std::vector<std::uint8_t> Tiff(bool little, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                               std::uint16_t value) {
    auto u16 = [&](std::uint16_t v) {
        return little ? std::vector<std::uint8_t>{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}
                      : std::vector<std::uint8_t>{static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    };
    auto u32 = [&](std::uint32_t v) {
        auto hi = u16(static_cast<std::uint16_t>(v >> 16)), lo = u16(static_cast<std::uint16_t>(v));
        if (little) std::swap(hi, lo);
        hi.insert(hi.end(), lo.begin(), lo.end());
        return hi;
    };
    std::vector<std::uint8_t> t = little ? std::vector<std::uint8_t>{'I', 'I'} : std::vector<std::uint8_t>{'M', 'M'};
    for (auto part : {u16(42), u32(8), u16(2),
                      // an unrelated entry first (ImageWidth), then the one asked for
                      u16(0x0100), u16(3), u32(1), u16(640), u16(0),
                      u16(tag), u16(type), u32(count), u16(value), u16(0), u32(0)})
        t.insert(t.end(), part.begin(), part.end());
    return t;
}

std::optional<std::uint16_t> Orientation(std::span<const std::uint8_t> file) {
    return ExifOrientation(MemorySource(file));
}

TEST(ExifOrientation, ReadsTheTagOfAJpegOrATiffInEitherByteOrder) {
    for (bool little : {true, false})
        for (std::uint16_t o : {1, 6, 8, 0, 9, 0xFFFF}) {
            EXPECT_EQ(Orientation(JpegWithExif(Tiff(little, 0x0112, 3, 1, o))), o) << "JPEG " << little << " " << o;
            EXPECT_EQ(Orientation(Tiff(little, 0x0112, 3, 1, o)), o) << "TIFF " << little << " " << o;
        }
}

TEST(ExifOrientation, SkipsFillBytesAndStopsAtTheScan) {
    const std::vector<std::uint8_t> exif = JpegWithExif(Tiff(true, 0x0112, 3, 1, 6));
    // The APP1 of the file above, from its marker to the start of scan.
    const std::vector<std::uint8_t> app1(exif.begin() + 8, exif.end() - 4);
    const std::vector<std::uint8_t> soi = {0xFF, 0xD8}, sos = {0xFF, 0xDA, 0x00, 0x02};

    // Any number of 0xFF fill bytes may stand before a marker.
    std::vector<std::uint8_t> padded = soi;
    padded.insert(padded.end(), {0xFF, 0xFF, 0xFF});
    padded.insert(padded.end(), app1.begin(), app1.end());
    EXPECT_EQ(Orientation(padded), 6);

    // After the start of scan come picture data: an APP1 there is not read.
    std::vector<std::uint8_t> late = soi;
    late.insert(late.end(), sos.begin(), sos.end());
    late.insert(late.end(), app1.begin(), app1.end());
    EXPECT_EQ(Orientation(late), std::nullopt);
}

TEST(ExifOrientation, MalformedOrMissingBlocksGiveNothing) {
    const auto good = JpegWithExif(Tiff(true, 0x0112, 3, 1, 6));
    const std::vector<std::vector<std::uint8_t>> bad = {
        {},
        {0xFF},
        {0xFF, 0xD8},
        {0x89, 'P', 'N', 'G'},
        JpegWithExif(Tiff(true, 0x0110, 3, 1, 6)),            // no orientation entry
        JpegWithExif(Tiff(true, 0x0112, 4, 1, 6)),            // LONG, not SHORT
        JpegWithExif(Tiff(true, 0x0112, 3, 2, 6)),            // two values
        JpegWithExif(Tiff(true, 0x0112, 3, 1, 6), false),     // APP1 that is not EXIF
        JpegWithExif({'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F}),  // IFD far outside
        JpegWithExif({'X', 'X', 42, 0, 8, 0, 0, 0}),          // no byte order
        Tiff(true, 0x0112, 4, 1, 6),                          // a TIFF file's tag as LONG
    };
    for (size_t i = 0; i < bad.size(); ++i)
        EXPECT_EQ(Orientation(bad[i]), std::nullopt) << "case " << i;

    // Every truncation of a good file either finds nothing or the right tag; never more.
    for (size_t cut = 0; cut < good.size(); ++cut) {
        const auto found = Orientation(std::span(good).first(cut));
        EXPECT_TRUE(!found || *found == 6) << cut;
    }
}

}  // namespace
}  // namespace lumora
