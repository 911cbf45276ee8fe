#include "saver/Orientation.h"

#include <algorithm>
#include <iterator>
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

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size, bool littleEndian = false)
        : data_(data), size_(size), little_(littleEndian) {}

    bool Has(std::size_t offset, std::size_t count) const { return offset <= size_ && count <= size_ - offset; }
    std::uint16_t U16(std::size_t at) const {
        return little_ ? static_cast<std::uint16_t>(data_[at] | data_[at + 1] << 8)
                       : static_cast<std::uint16_t>(data_[at] << 8 | data_[at + 1]);
    }
    std::uint32_t U32(std::size_t at) const {
        const std::uint32_t a = U16(at), b = U16(at + 2);
        return little_ ? (b << 16 | a) : (a << 16 | b);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    bool little_;
};

// The orientation entry (tag 0x0112, one SHORT) of the first IFD of a TIFF block.
std::optional<std::uint16_t> TiffOrientation(const std::uint8_t* tiff, std::size_t size) {
    if (size < 8) return std::nullopt;
    bool little;
    if (tiff[0] == 'I' && tiff[1] == 'I') little = true;
    else if (tiff[0] == 'M' && tiff[1] == 'M') little = false;
    else return std::nullopt;
    const Reader r(tiff, size, little);
    if (r.U16(2) != 42) return std::nullopt;
    const std::uint32_t ifd = r.U32(4);
    if (!r.Has(ifd, 2)) return std::nullopt;
    const std::uint16_t entries = r.U16(ifd);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::size_t entry = ifd + 2 + static_cast<std::size_t>(i) * 12;
        if (!r.Has(entry, 12)) return std::nullopt;
        if (r.U16(entry) != 0x0112) continue;
        if (r.U16(entry + 2) != 3 || r.U32(entry + 4) != 1) return std::nullopt;  // one SHORT
        return r.U16(entry + 8);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::uint16_t> JpegExifOrientation(const std::uint8_t* data, std::size_t size) {
    const Reader r(data, size);
    if (!r.Has(0, 2) || data[0] != 0xFF || data[1] != 0xD8) return std::nullopt;
    std::size_t at = 2;
    // Walk the marker segments up to the image data; EXIF sits in an APP1.
    while (r.Has(at, 4)) {
        if (data[at] != 0xFF) return std::nullopt;
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return std::nullopt;  // start of scan, end of image
        const std::uint16_t length = r.U16(at + 2);
        if (length < 2 || !r.Has(at + 2, length)) return std::nullopt;
        static constexpr std::uint8_t kExif[] = {'E', 'x', 'i', 'f', 0, 0};
        const std::uint8_t* body = data + at + 4;
        const std::size_t bodySize = length - 2u;
        if (marker == 0xE1 && bodySize >= sizeof(kExif) &&
            std::equal(std::begin(kExif), std::end(kExif), body))
            return TiffOrientation(body + sizeof(kExif), bodySize - sizeof(kExif));
        at += 2u + length;
    }
    return std::nullopt;
}

}  // namespace lumora
