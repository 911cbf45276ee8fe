#include "picture/Orientation.h"

#include <utility>

namespace lumora {

int NormalisedOrientation(std::optional<std::int64_t> tag) {
    if (!tag || *tag < 1 || *tag > 8) return 1;
    return static_cast<int>(*tag);
}

OrientationSteps StepsFor(int orientation) {
    switch (orientation) {
    case 2: return {0, true};
    case 3: return {2, false};
    case 4: return {2, true};   // upside down and mirrored = mirrored top to bottom
    case 5: return {1, true};   // transposed
    case 6: return {1, false};
    case 7: return {3, true};   // transversed
    case 8: return {3, false};
    default: return {0, false};
    }
}

bool SwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

PixelPoint PresentedPosition(OrientationSteps steps, std::int64_t width, std::int64_t height, PixelPoint p) {
    for (int i = 0; i < (steps.quarterTurnsClockwise & 3); ++i) {
        // A clockwise quarter turn of a width x height picture.
        p = {height - 1 - p.y, p.x};
        std::swap(width, height);
    }
    if (steps.mirrorAfterTurning) p.x = width - 1 - p.x;
    return p;
}

namespace {

constexpr std::uint16_t kOrientationTag = 0x0112;

std::optional<std::uint16_t> TiffOrientation(const ByteSource& tiff) {
    const auto directory = TiffDirectory::Read(tiff);
    if (!directory) return std::nullopt;
    const auto tag = directory->Number(kOrientationTag, false);  // one SHORT
    if (!tag) return std::nullopt;
    return static_cast<std::uint16_t>(*tag);
}

}  // namespace

std::optional<std::uint16_t> ExifOrientation(const ByteSource& file) {
    std::uint8_t start[2] = {};
    file.ReadAt(0, start);
    if (start[0] != 0xFF || start[1] != 0xD8) return TiffOrientation(file);
    // EXIF sits in an APP1 segment before the image data.
    std::optional<std::uint16_t> tag;
    WalkJpegSegments(file, 0, [&](const JpegSegment& segment) {
        if (segment.marker == 0xDA) return false;  // start of scan
        if (segment.marker != 0xE1) return true;
        static constexpr std::uint8_t kExif[] = {'E', 'x', 'i', 'f', 0, 0};
        const std::vector<std::uint8_t> body = ReadPiece(file, segment.payload, segment.payloadSize);
        if (!Bytes(body).Matches(0, kExif)) return true;
        tag = TiffOrientation(MemorySource(std::span(body).subspan(sizeof kExif)));
        return false;
    });
    return tag;
}

}  // namespace lumora
