#pragma once
// Photos carry an EXIF orientation tag (1 to 8) saying how the stored pixels
// must be turned to stand upright; every photo viewer honours it.
#include "picture/ByteReader.h"

#include <cstdint>
#include <optional>

namespace lumora {

// The tag as read, made safe: anything missing or outside 1..8 means "as stored" (1).
int NormalisedOrientation(std::optional<std::int64_t> tag);

// How to present a stored picture: turn it clockwise by quarter turns, then
// mirror it left to right if asked. Each orientation is one such pair, which
// maps onto the imaging component's rotate and flip steps one at a time.
struct OrientationSteps {
    int quarterTurnsClockwise = 0;  // 0..3
    bool mirrorAfterTurning = false;
};
OrientationSteps StepsFor(int orientation);

// True for 5 to 8, where the presented picture is the stored one on its side.
bool SwapsSides(int orientation);

struct PixelPoint {
    std::int64_t x = 0;
    std::int64_t y = 0;
    bool operator==(const PixelPoint&) const = default;
};

// Where stored pixel (x, y) of a width x height picture ends up once the
// steps are applied.
PixelPoint PresentedPosition(OrientationSteps steps, std::int64_t width, std::int64_t height, PixelPoint stored);

// The orientation tag of a JPEG file's EXIF block or of a TIFF file's first
// directory, read from the file itself. Empty for other formats, when there is
// none, or when the block is malformed; the value is returned raw (not
// checked for 1..8).
std::optional<std::uint16_t> ExifOrientation(const ByteSource& file);

}  // namespace lumora
