#include "picture/PictureHeader.h"

#include <algorithm>
#include <optional>

namespace lumora {

namespace {

constexpr std::uint8_t kJpegStart[] = {0xFF, 0xD8};
constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint8_t kGif87[] = {'G', 'I', 'F', '8', '7', 'a'};
constexpr std::uint8_t kGif89[] = {'G', 'I', 'F', '8', '9', 'a'};
constexpr std::uint8_t kBmp[] = {'B', 'M'};
constexpr std::uint8_t kTiffLittle[] = {'I', 'I', 42, 0};
constexpr std::uint8_t kTiffBig[] = {'M', 'M', 0, 42};
constexpr std::uint8_t kIcon[] = {0, 0, 1, 0};
constexpr std::uint8_t kCursor[] = {0, 0, 2, 0};

// Walks on past the frame header to count scans: a progressive file's cost
// grows with them, not with its size.
DeclaredSize ReadJpeg(const ByteSource& file) {
    DeclaredSize frame{PictureKind::Jpeg};
    bool haveFrame = false, broken = false;
    WalkJpegSegments(file, kJpegEntropySearched, [&](const JpegSegment& segment) {
        if (IsJpegFrameHeader(segment.marker) && !haveFrame) {
            // Precision, height, width and component count must all be there.
            const std::vector<std::uint8_t> piece = ReadPiece(file, segment.payload, 5);
            if (segment.payloadSize < 6 || piece.size() < 5) {
                broken = true;
                return false;
            }
            const Bytes b(piece);
            frame.height = b.Be16(1);
            frame.width = b.Be16(3);
            haveFrame = true;
        }
        if (segment.marker == 0xDA) return ++frame.jpegScans <= kMaxJpegScans;
        return true;
    });
    if (!haveFrame || broken) return {};
    return frame;
}

DeclaredSize ReadPngHeader(const Bytes& b) {
    // The first chunk must be the 13-byte IHDR, which opens with the size.
    static constexpr std::uint8_t kIhdr[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    if (!b.Matches(0, kPngSignature) || !b.Matches(8, kIhdr) || !b.Has(16, 8)) return {};
    return {PictureKind::Png, b.Be32(16), b.Be32(20)};
}

// The size, and the chunks up to the image data walked by their lengths for
// the colour profile, which must come before it.
DeclaredSize ReadPng(const ByteSource& file, const Bytes& head) {
    DeclaredSize size = ReadPngHeader(head);
    if (size.kind != PictureKind::Png) return size;
    SequentialReader r(file);
    r.Skip(8 + 8 + 13 + 4);  // signature, IHDR
    for (;;) {
        std::uint8_t chunk[8];
        if (!r.Read(chunk)) break;
        const Bytes c(chunk);
        const std::uint32_t length = c.Be32(0);
        if (length > 0x7FFF'FFFFu) break;  // no valid chunk is longer
        const auto is = [&](const char (&type)[5]) { return std::equal(type, type + 4, chunk + 4); };
        if (is("IDAT") || is("IEND")) break;
        if (is("iCCP")) size.pngProfileChunk = std::max(size.pngProfileChunk, length);
        r.Skip(std::uint64_t{length} + 4);  // and its CRC
    }
    return size;
}

// A run of sub-blocks, up to the empty one that ends it.
bool SkipSubBlocks(SequentialReader& r) {
    for (;;) {
        const auto size = r.Next();
        if (!size) return false;
        if (*size == 0) return true;
        r.Skip(*size);
    }
}

// The size: the larger of the logical screen and the first image, each way,
// since a decoder may make room for either; when the walk cannot reach the
// first image, the screen is still a size the file declares. Every image
// after that counts too: some decoders read every frame when they are created.
DeclaredSize ReadGif(const ByteSource& file) {
    SequentialReader r(file);
    std::uint8_t head[13];
    if (!r.Read(head)) return {};
    const Bytes h(head);
    DeclaredSize size{PictureKind::Gif, h.Le16(6), h.Le16(8)};
    if (head[10] & 0x80) r.Skip(3u << ((head[10] & 7) + 1));  // global colour table
    bool first = true;
    while (size.framePixels <= kMaxPicturePixels) {
        const auto block = r.Next();
        if (!block) break;
        if (*block == 0x21) {  // extension: label, sub-blocks
            if (!r.Next() || !SkipSubBlocks(r)) break;
            continue;
        }
        std::uint8_t d[9];  // image descriptor: left, top, width, height, flags
        if (*block != 0x2C || !r.Read(d)) break;  // the trailer, or garbage
        const Bytes image(d);
        if (first) {
            size.width = std::max<std::uint32_t>(size.width, image.Le16(4));
            size.height = std::max<std::uint32_t>(size.height, image.Le16(6));
            first = false;
        }
        size.framePixels += std::uint64_t{image.Le16(4)} * image.Le16(6);
        if (d[8] & 0x80) r.Skip(3u << ((d[8] & 7) + 1));  // local colour table
        if (!r.Next() || !SkipSubBlocks(r)) break;  // LZW code size, then the data
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

DeclaredSize ReadTiff(const ByteSource& file) {
    const auto directory = TiffDirectory::Read(file);
    if (!directory) return {};
    const auto width = directory->Number(256, true), height = directory->Number(257, true);
    if (!width || !height) return {};
    return {PictureKind::Tiff, *width, *height};
}

// The largest entry: a decoder may pick any of them.
DeclaredSize ReadIco(const ByteSource& file, const Bytes& head) {
    if (!head.Has(4, 2)) return {};
    const std::size_t count = head.Le16(4);
    const std::vector<std::uint8_t> entries = ReadPiece(file, 6, count * 16);
    const Bytes b(entries);
    if (count == 0 || !b.Has(0, count * 16)) return {};
    DeclaredSize largest{PictureKind::Ico};
    for (std::size_t entry = 0; entry < count * 16; entry += 16) {
        std::uint32_t width = b[entry] ? b[entry] : 256u;  // a byte cannot say 256
        std::uint32_t height = b[entry + 1] ? b[entry + 1] : 256u;
        // An entry stored as PNG has its true size in its own header; 0 in
        // the directory only says "256 or more".
        const std::vector<std::uint8_t> image = ReadPiece(file, b.Le32(entry + 12), std::min<std::uint32_t>(b.Le32(entry + 8), 24));
        const DeclaredSize png = ReadPngHeader(Bytes(image));
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

DeclaredSize ReadDeclaredSize(const ByteSource& file) {
    const std::vector<std::uint8_t> start = ReadPiece(file, 0, 64);
    const Bytes b(start);
    if (b.Matches(0, kJpegStart)) return ReadJpeg(file);
    if (b.Matches(0, kPngSignature)) return ReadPng(file, b);
    if (b.Matches(0, kGif87) || b.Matches(0, kGif89)) return ReadGif(file);
    if (b.Matches(0, kBmp)) return ReadBmp(b);
    if (b.Matches(0, kTiffLittle) || b.Matches(0, kTiffBig)) return ReadTiff(file);
    if (b.Matches(0, kIcon) || b.Matches(0, kCursor)) return ReadIco(file, b);
    return {};
}

bool RefusedByHeader(const DeclaredSize& declared, std::uint64_t maxPixels) {
    if (declared.kind == PictureKind::Unknown) return false;
    if (declared.kind == PictureKind::Jpeg && declared.jpegScans > kMaxJpegScans) return true;
    if (declared.kind == PictureKind::Png && declared.pngProfileChunk > kMaxPngProfileChunk) return true;
    return std::max(std::uint64_t{declared.width} * declared.height, declared.framePixels) > maxPixels;
}

}  // namespace lumora
