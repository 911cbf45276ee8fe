#pragma once
// Some decoders decode a whole frame, or every frame, while they are being
// created, before its size can be asked, so a huge picture costs seconds and
// gigabytes before it can be refused. The size a file declares is read here
// first, before any decoder sees the file. It is the cheap first refusal, not
// the defence: that is the helper process's time and memory budget.
#include "picture/ByteReader.h"

#include <cstdint>

namespace lumora {

// Pictures larger than this (width x height as declared, or a GIF's frames
// added up) are not pictures: a 250-megapixel decode already costs about
// 1 GB, and no screen needs that much detail for a 10-second slide. A 32-bit
// process may have only 2 GB of address space (32-bit Windows), where a
// decoder's full frame of 4 bytes a pixel must find one free block among DLLs
// and heaps: 125 megapixels (500 MB, a quarter of that space) still takes
// every camera's photo up to 100 megapixels.
inline constexpr std::uint64_t kMaxPicturePixels = sizeof(void*) == 4 ? 125'000'000 : 250'000'000;
// No real encoder writes more scans than a few hundred; a progressive JPEG
// with thousands costs seconds of CPU however small it is.
inline constexpr std::uint32_t kMaxJpegScans = 500;
// A PNG's colour-profile chunk (iCCP) is compressed, and some decoders
// inflate it whole as soon as they are created: deflate expands at most
// 1032 to 1, so a 1 MiB chunk can cost a gigabyte (twice that where the
// decoder copies it). PNG carries RGB and grey profiles only, a few KiB to a
// few dozen KiB compressed (the largest of Debian's colour profiles, CMYK
// ones with lookup tables included, take 139 KiB); 256 KiB inflates to at
// most 258 MiB, well within the helper's memory budget.
inline constexpr std::uint32_t kMaxPngProfileChunk = 256u << 10;
// How much of a JPEG's entropy-coded data is searched for scans: a scan bomb
// packs its scans close together.
inline constexpr std::uint64_t kJpegEntropySearched = 1 << 20;

enum class PictureKind { Unknown, Jpeg, Png, Gif, Bmp, Tiff, Ico };

struct DeclaredSize {
    PictureKind kind = PictureKind::Unknown;  // Unknown carries no size
    std::uint32_t width = 0;
    std::uint32_t height = 0;  // 0 for a JPEG whose height comes later (DNL)
    std::uint32_t jpegScans = 0;  // start-of-scan markers met (JPEG only)
    // GIF only: the pixels of every frame added up, as far as the walk went;
    // it stops once they are over kMaxPicturePixels.
    std::uint64_t framePixels = 0;
    // PNG only: the longest colour-profile chunk before the image data.
    std::uint32_t pngProfileChunk = 0;
};

// What the headers of a file declare; kind Unknown for any other format, or
// when a header is cut short or malformed. JPEG segments are walked by their
// lengths through the whole file, GIF's image descriptors one by one.
DeclaredSize ReadDeclaredSize(const ByteSource& file);

// True when the headers alone rule the file out as a picture: declared
// pixels, or a GIF's frames added up, over maxPixels, a JPEG with more than
// kMaxJpegScans scans, or a PNG colour-profile chunk over
// kMaxPngProfileChunk. Unknown never is.
bool RefusedByHeader(const DeclaredSize& declared, std::uint64_t maxPixels = kMaxPicturePixels);

}  // namespace lumora
