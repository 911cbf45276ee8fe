// A JPEG's EXIF block, or a TIFF's first directory, is read before the
// picture is decoded, straight from the file's bytes: any file at all must be
// walked safely, and the turn it asks for must map the picture onto itself.
#include "picture/Orientation.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

namespace {

using lumora::PixelPoint;

void CheckSteps(int orientation, std::int64_t width, std::int64_t height) {
    const lumora::OrientationSteps steps = lumora::StepsFor(orientation);
    FUZZ_CHECK(steps.quarterTurnsClockwise >= 0 && steps.quarterTurnsClockwise <= 3);
    FUZZ_CHECK(lumora::SwapsSides(orientation) == (steps.quarterTurnsClockwise % 2 == 1));
    const std::int64_t outW = lumora::SwapsSides(orientation) ? height : width;
    const std::int64_t outH = lumora::SwapsSides(orientation) ? width : height;

    // Corners land on corners, inside the presented picture.
    const PixelPoint corners[] = {{0, 0}, {width - 1, 0}, {0, height - 1}, {width - 1, height - 1}};
    std::set<std::pair<std::int64_t, std::int64_t>> seen;
    for (const PixelPoint& c : corners) {
        const PixelPoint p = lumora::PresentedPosition(steps, width, height, c);
        FUZZ_CHECK(p.x == 0 || p.x == outW - 1);
        FUZZ_CHECK(p.y == 0 || p.y == outH - 1);
        seen.insert({p.x, p.y});
    }
    const std::size_t distinct = std::size_t{1} + (width > 1) + (height > 1) + (width > 1 && height > 1);
    FUZZ_CHECK(seen.size() == distinct);
    if (orientation == 1) {
        FUZZ_CHECK(lumora::PresentedPosition(steps, width, height, {width - 1, 0}) == (PixelPoint{width - 1, 0}));
    }
    // On small pictures: every pixel lands inside, each on a place of its own.
    if (width * height <= 64) {
        std::set<std::pair<std::int64_t, std::int64_t>> all;
        for (std::int64_t y = 0; y < height; ++y)
            for (std::int64_t x = 0; x < width; ++x) {
                const PixelPoint p = lumora::PresentedPosition(steps, width, height, {x, y});
                FUZZ_CHECK(p.x >= 0 && p.x < outW && p.y >= 0 && p.y < outH);
                all.insert({p.x, p.y});
            }
        FUZZ_CHECK(static_cast<std::int64_t>(all.size()) == width * height);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly the file's bytes, so a read past the end is caught.
    const std::vector<std::uint8_t> file(data, data + size);
    const auto tag = lumora::ExifOrientation(lumora::MemorySource(file));
    if (tag && size >= 2 && file[0] == 0xFF && file[1] == 0xD8) {
        static constexpr std::uint8_t kExif[] = {'E', 'x', 'i', 'f', 0, 0};
        FUZZ_CHECK(std::search(file.begin(), file.end(), std::begin(kExif), std::end(kExif)) != file.end());
    } else if (tag) {
        FUZZ_CHECK(size >= 8 && ((file[0] == 'I' && file[1] == 'I') || (file[0] == 'M' && file[1] == 'M')));
    }
    // More bytes never change an answer the first ones already gave.
    for (const std::size_t cut : {size / 2, size / 4 * 3, size > 0 ? size - 1 : 0}) {
        const std::vector<std::uint8_t> prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        const auto early = lumora::ExifOrientation(lumora::MemorySource(prefix));
        if (early) FUZZ_CHECK(tag == early);
    }

    const int orientation = lumora::NormalisedOrientation(tag ? std::optional<std::int64_t>(*tag) : std::nullopt);
    FUZZ_CHECK(orientation >= 1 && orientation <= 8);
    if (tag && *tag >= 1 && *tag <= 8) FUZZ_CHECK(orientation == *tag);

    // Sizes from the last bytes, from one pixel to a million.
    const std::int64_t width = size >= 2 ? 1 + (data[size - 1] | data[size - 2] << 8) % 1000000 : 1;
    const std::int64_t height = size >= 4 ? 1 + (data[size - 3] | data[size - 4] << 8) % 1000000 : 1;
    for (int o = 1; o <= 8; ++o) CheckSteps(o, width % 9 + 1, height % 7 + 1);
    CheckSteps(orientation, width, height);
    return 0;
}
