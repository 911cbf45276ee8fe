// Every file in the picture folder goes through the header reader before any
// decoder sees it: any bytes at all must be read safely, and more of a file
// must never contradict what its first bytes said.
#include "picture/PictureHeader.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace {

using lumora::DeclaredSize;
using lumora::PictureKind;

bool ContainsPngSignature(const std::vector<std::uint8_t>& bytes) {
    static constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return std::search(bytes.begin(), bytes.end(), std::begin(kSignature), std::end(kSignature)) != bytes.end();
}

// Exactly the bytes given, so a read past their end is caught.
DeclaredSize ReadChecked(const std::vector<std::uint8_t>& bytes) {
    const DeclaredSize d = lumora::ReadDeclaredSize(lumora::MemorySource(bytes));
    if (d.kind == PictureKind::Unknown) {
        FUZZ_CHECK(d.width == 0 && d.height == 0 && d.jpegScans == 0 && d.framePixels == 0);
        FUZZ_CHECK(!lumora::RefusedByHeader(d, 0));
        return d;
    }
    if (d.kind != PictureKind::Jpeg) FUZZ_CHECK(d.jpegScans == 0);
    if (d.kind != PictureKind::Gif) FUZZ_CHECK(d.framePixels == 0);
    FUZZ_CHECK(d.jpegScans <= 501);  // counting stops past the limit
    // A directory byte says 256 at most; only an embedded PNG can say more.
    if (d.kind == PictureKind::Ico && !ContainsPngSignature(bytes)) FUZZ_CHECK(d.width <= 256 && d.height <= 256);
    // The budget is the largest size still allowed, with no overflow on the way.
    const std::uint64_t pixels = std::max(std::uint64_t{d.width} * d.height, d.framePixels);
    if (d.jpegScans <= 500) {
        FUZZ_CHECK(!lumora::RefusedByHeader(d, pixels));
        if (pixels > 0) FUZZ_CHECK(lumora::RefusedByHeader(d, pixels - 1));
    } else {
        FUZZ_CHECK(lumora::RefusedByHeader(d, UINT64_MAX));
    }
    return d;
}

void CheckEarlierAnswer(const DeclaredSize& early, const DeclaredSize& full) {
    FUZZ_CHECK(early.kind == PictureKind::Unknown || early.kind == full.kind);
    if (early.kind != full.kind) return;
    FUZZ_CHECK(early.jpegScans <= full.jpegScans);
    FUZZ_CHECK(early.framePixels <= full.framePixels);
    switch (full.kind) {
    case PictureKind::Gif:  // the first image, once reached, can only widen the logical screen
        FUZZ_CHECK(early.width <= full.width && early.height <= full.height);
        break;
    case PictureKind::Ico:  // an embedded PNG, once reached, replaces its entry's directory size
        break;
    default:
        FUZZ_CHECK(early.width == full.width && early.height == full.height);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> file(data, data + size);
    const DeclaredSize full = ReadChecked(file);
    // Every cut through the headers proper, then a few through the rest.
    std::vector<std::size_t> cuts;
    for (std::size_t cut = 0; cut < std::min<std::size_t>(size, 64); ++cut) cuts.push_back(cut);
    for (const std::size_t cut : {size / 2, size / 4 * 3, size > 0 ? size - 1 : 0}) cuts.push_back(cut);
    for (const std::size_t cut : cuts) {
        const std::vector<std::uint8_t> prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        CheckEarlierAnswer(ReadChecked(prefix), full);
    }
    return 0;
}
