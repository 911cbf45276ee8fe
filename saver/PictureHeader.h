#pragma once
// Some decoders decode a whole frame while they are being created, before its
// size can be asked, so a huge picture costs seconds and gigabytes before it
// can be refused. The size a file's header declares is read here from its
// first bytes instead, before any decoder sees the file.
#include <cstddef>
#include <cstdint>
#include <span>

namespace lumora {

// Pictures larger than this (width x height as declared) are not pictures: a
// 250-megapixel decode already costs about 1 GB, and no screen needs that much
// detail for a 10-second slide. A 32-bit process may have only 2 GB of address
// space (32-bit Windows), where a decoder's full frame of 4 bytes a pixel must
// find one free block among DLLs and heaps: 125 megapixels (500 MB, a quarter
// of that space) still takes every camera's photo up to 100 megapixels.
inline constexpr std::uint64_t kMaxPicturePixels = sizeof(void*) == 4 ? 125'000'000 : 250'000'000;
// How much of a file's start the reader is given: every header it knows fits,
// JPEG's segments before the frame header included.
inline constexpr std::size_t kHeaderPrefixBytes = 1 << 20;
// No real encoder writes more scans than a few hundred; a progressive JPEG
// with thousands costs seconds of CPU however small it is.
inline constexpr std::uint32_t kMaxJpegScans = 500;

enum class PictureKind { Unknown, Jpeg, Png, Gif, Bmp, Tiff, Ico };

struct DeclaredSize {
    PictureKind kind = PictureKind::Unknown;  // Unknown carries no size
    std::uint32_t width = 0;
    std::uint32_t height = 0;  // 0 for a JPEG whose height comes later (DNL)
    std::uint32_t jpegScans = 0;  // start-of-scan markers met in the prefix (JPEG only)
};

// What the header at the start of a file declares; kind Unknown for any other
// format, or when the header is cut short or malformed.
DeclaredSize ReadDeclaredSize(std::span<const std::uint8_t> prefix);

// True when the header alone rules the file out as a picture: declared pixels
// over maxPixels, or a JPEG with more than kMaxJpegScans scans. Unknown never is.
bool RefusedByHeader(const DeclaredSize& declared, std::uint64_t maxPixels = kMaxPicturePixels);

}  // namespace lumora
