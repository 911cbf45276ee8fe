#include "saver/PictureHeader.h"

#include <algorithm>
#include <optional>

namespace lumora {

namespace {

// The file's first bytes. Nothing in them is trusted: every read is checked
// with Has first, and lengths and offsets are only ever compared against size().
class Bytes {
public:
    explicit Bytes(std::span<const std::uint8_t> data) : data_(data) {}

    std::size_t size() const { return data_.size(); }
    bool Has(std::size_t at, std::size_t count) const { return at <= size() && count <= size() - at; }
    std::uint8_t operator[](std::size_t at) const { return data_[at]; }
    std::uint16_t Be16(std::size_t at) const { return static_cast<std::uint16_t>(data_[at] << 8 | data_[at + 1]); }
    std::uint16_t Le16(std::size_t at) const { return static_cast<std::uint16_t>(data_[at + 1] << 8 | data_[at]); }
    std::uint32_t Be32(std::size_t at) const { return std::uint32_t{Be16(at)} << 16 | Be16(at + 2); }
    std::uint32_t Le32(std::size_t at) const { return std::uint32_t{Le16(at + 2)} << 16 | Le16(at); }

    template <std::size_t N>
    bool Matches(std::size_t at, const std::uint8_t (&magic)[N]) const {
        return Has(at, N) && std::equal(magic, magic + N, data_.begin() + static_cast<std::ptrdiff_t>(at));
    }
    // The part from `at` on, at most `count` bytes of it.
    Bytes Part(std::size_t at, std::size_t count) const {
        if (at > size()) return Bytes({});
        return Bytes(data_.subspan(at, std::min(count, size() - at)));
    }

private:
    std::span<const std::uint8_t> data_;
};

constexpr std::uint8_t kJpegStart[] = {0xFF, 0xD8};
constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint8_t kGif87[] = {'G', 'I', 'F', '8', '7', 'a'};
constexpr std::uint8_t kGif89[] = {'G', 'I', 'F', '8', '9', 'a'};
constexpr std::uint8_t kBmp[] = {'B', 'M'};
constexpr std::uint8_t kTiffLittle[] = {'I', 'I', 42, 0};
constexpr std::uint8_t kTiffBig[] = {'M', 'M', 0, 42};
constexpr std::uint8_t kIcon[] = {0, 0, 1, 0};
constexpr std::uint8_t kCursor[] = {0, 0, 2, 0};

bool IsRestart(std::uint8_t marker) { return marker >= 0xD0 && marker <= 0xD7; }

// SOF0 to SOF15, less DHT, JPG and DAC, which share the range.
bool IsFrameHeader(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Entropy-coded data runs to the first 0xFF that starts a real marker: not a
// stuffed FF 00, not a restart marker, not a fill byte.
std::size_t EndOfEntropyData(const Bytes& b, std::size_t at) {
    for (; b.Has(at, 2); ++at) {
        if (b[at] != 0xFF) continue;
        const std::uint8_t next = b[at + 1];
        if (next != 0x00 && next != 0xFF && !IsRestart(next)) return at;
    }
    return at;
}

// Walks on past the frame header to count scans: a progressive file's cost
// grows with them, not with its size.
DeclaredSize ReadJpeg(const Bytes& b) {
    DeclaredSize frame{PictureKind::Jpeg};
    bool haveFrame = false;
    std::size_t at = sizeof kJpegStart;
    while (b.Has(at, 2)) {
        if (b[at] != 0xFF) break;  // garbage where a marker must be
        const std::uint8_t marker = b[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD9) break;  // end of image
        if (marker == 0x01 || IsRestart(marker) || marker == 0xD8) {  // no length
            at += 2;
            continue;
        }
        if (marker == 0x00 || !b.Has(at + 2, 2)) break;
        const std::uint16_t length = b.Be16(at + 2);  // counts itself
        if (length < 2) break;
        if (IsFrameHeader(marker) && !haveFrame) {
            // Precision, height, width and component count must all be there.
            if (length < 8 || !b.Has(at + 4, 5)) return {};
            frame.height = b.Be16(at + 5);
            frame.width = b.Be16(at + 7);
            haveFrame = true;
        }
        at += 2u + length;
        if (marker == 0xDA) {
            if (++frame.jpegScans > kMaxJpegScans) break;
            at = EndOfEntropyData(b, at);
        }
    }
    if (!haveFrame) return {};
    return frame;
}

DeclaredSize ReadPng(const Bytes& b) {
    // The first chunk must be the 13-byte IHDR, which opens with the size.
    static constexpr std::uint8_t kIhdr[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    if (!b.Matches(0, kPngSignature) || !b.Matches(8, kIhdr) || !b.Has(16, 8)) return {};
    return {PictureKind::Png, b.Be32(16), b.Be32(20)};
}

// The larger of the logical screen and the first image, each way: a decoder
// may make room for either. When the walk cannot reach the first image, the
// screen is still a size the file declares.
DeclaredSize ReadGif(const Bytes& b) {
    if (!b.Has(0, 13)) return {};
    DeclaredSize size{PictureKind::Gif, b.Le16(6), b.Le16(8)};
    const std::uint8_t packed = b[10];
    std::size_t at = 13;
    if (packed & 0x80) at += 3u << ((packed & 7) + 1);  // global colour table
    while (b.Has(at, 1) && b[at] == 0x21) {  // extensions: introducer, label, sub-blocks
        at += 2;
        while (b.Has(at, 1) && b[at] != 0) at += 1u + b[at];
        ++at;  // the empty block that ends them
    }
    if (b.Has(at, 9) && b[at] == 0x2C) {  // image descriptor: left, top, width, height
        size.width = std::max<std::uint32_t>(size.width, b.Le16(at + 5));
        size.height = std::max<std::uint32_t>(size.height, b.Le16(at + 7));
    }
    return size;
}

DeclaredSize ReadBmp(const Bytes& b) {
    if (!b.Has(14, 4)) return {};
    const std::uint32_t headerSize = b.Le32(14);
    if (headerSize == 12) {  // the core header has unsigned 16-bit sizes
        if (!b.Has(18, 4)) return {};
        return {PictureKind::Bmp, b.Le16(18), b.Le16(20)};
    }
    if (headerSize < 16 || !b.Has(18, 8)) return {};
    const std::uint32_t width = b.Le32(18), height = b.Le32(22);
    if (width > 0x7FFF'FFFFu) return {};  // negative width
    // A negative height means rows stored top down. Negated as unsigned, so
    // INT32_MIN comes out as 2^31 rather than overflowing.
    return {PictureKind::Bmp, width, height > 0x7FFF'FFFFu ? 0u - height : height};
}

DeclaredSize ReadTiff(const Bytes& b, bool little) {
    const auto u16 = [&](std::size_t at) { return little ? b.Le16(at) : b.Be16(at); };
    const auto u32 = [&](std::size_t at) { return little ? b.Le32(at) : b.Be32(at); };
    if (!b.Has(4, 4)) return {};
    const std::uint32_t ifd = u32(4);
    if (!b.Has(ifd, 2)) return {};
    const std::uint16_t entries = u16(ifd);
    std::optional<std::uint32_t> width, height;
    // Stops once both are known, so bytes past them can never change the answer.
    for (std::uint32_t i = 0; i < entries && !(width && height); ++i) {
        const std::size_t entry = ifd + 2 + std::size_t{i} * 12;
        if (!b.Has(entry, 12)) return {};
        const std::uint16_t tag = u16(entry);
        if (tag != 256 && tag != 257) continue;
        std::optional<std::uint32_t>& value = tag == 256 ? width : height;
        if (value) continue;  // the first entry counts
        // One SHORT or LONG, held in the value field itself.
        const std::uint16_t type = u16(entry + 2);
        if ((type != 3 && type != 4) || u32(entry + 4) != 1) return {};
        value = type == 3 ? u16(entry + 8) : u32(entry + 8);
    }
    if (!width || !height) return {};
    return {PictureKind::Tiff, *width, *height};
}

// The largest entry: a decoder may pick any of them.
DeclaredSize ReadIco(const Bytes& b) {
    if (!b.Has(4, 2)) return {};
    const std::size_t count = b.Le16(4);
    if (count == 0 || !b.Has(6, count * 16)) return {};
    DeclaredSize largest{PictureKind::Ico};
    for (std::size_t entry = 6; entry < 6 + count * 16; entry += 16) {
        std::uint32_t width = b[entry] ? b[entry] : 256u;  // a byte cannot say 256
        std::uint32_t height = b[entry + 1] ? b[entry + 1] : 256u;
        // An entry stored as PNG has its true size in its own header; 0 in
        // the directory only says "256 or more".
        const DeclaredSize png = ReadPng(b.Part(b.Le32(entry + 12), b.Le32(entry + 8)));
        if (png.kind == PictureKind::Png) {
            width = png.width;
            height = png.height;
        }
        if (std::uint64_t{width} * height > std::uint64_t{largest.width} * largest.height) {
            largest.width = width;
            largest.height = height;
        }
    }
    return largest;
}

}  // namespace

DeclaredSize ReadDeclaredSize(std::span<const std::uint8_t> prefix) {
    const Bytes b(prefix);
    if (b.Matches(0, kJpegStart)) return ReadJpeg(b);
    if (b.Matches(0, kPngSignature)) return ReadPng(b);
    if (b.Matches(0, kGif87) || b.Matches(0, kGif89)) return ReadGif(b);
    if (b.Matches(0, kBmp)) return ReadBmp(b);
    if (b.Matches(0, kTiffLittle)) return ReadTiff(b, true);
    if (b.Matches(0, kTiffBig)) return ReadTiff(b, false);
    if (b.Matches(0, kIcon) || b.Matches(0, kCursor)) return ReadIco(b);
    return {};
}

bool RefusedByHeader(const DeclaredSize& declared, std::uint64_t maxPixels) {
    if (declared.kind == PictureKind::Unknown) return false;
    if (declared.kind == PictureKind::Jpeg && declared.jpegScans > kMaxJpegScans) return true;
    return std::uint64_t{declared.width} * declared.height > maxPixels;
}

}  // namespace lumora
