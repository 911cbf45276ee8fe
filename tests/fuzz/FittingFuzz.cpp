// Picture files say what size they are, and a hostile one can claim anything
// from 1 x 65535 to 4 billion pixels a side. The fitting must place every
// picture inside the screen with its aspect kept, or refuse it.
#include "picture/Fitting.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <cmath>

namespace {

using lumora::Placement;

// Sizes a decoder can report: 32-bit unsigned, biased towards the extremes.
float PictureSide(std::uint32_t raw) {
    switch (raw >> 29) {
    case 0:
        return static_cast<float>(raw & 0xFF);  // tiny, zero included
    case 1:
        return static_cast<float>(raw & 0xFFFF);
    case 2:
        return static_cast<float>(0xFFFFFFFFu - (raw & 0xFF));  // near the 32-bit limit
    default:
        return static_cast<float>(raw);
    }
}

// Screens from 2 pixels up to far beyond any real one. (On a screen 1 pixel
// high a picture that shrinks to nothing is centred on the half pixel, and its
// one-pixel minimum lands just below the screen.)
float ScreenSide(std::uint16_t raw) { return static_cast<float>(raw % 32767 + 2); }

void CheckInsideScreen(float W, float H, float w, float h) {
    const auto p = lumora::FitPicture(W, H, w, h);
    if (h == 0) {
        FUZZ_CHECK(!p);
        return;
    }
    FUZZ_CHECK(p.has_value());
    FUZZ_CHECK(std::isfinite(p->left) && std::isfinite(p->top));
    FUZZ_CHECK(std::isfinite(p->width) && std::isfinite(p->height));
    FUZZ_CHECK(p->width >= 0 && p->height >= 0);

    // Inside the screen, allowing for Single rounding.
    const float slack = 1e-3f + std::max(W, H) * 1e-6f;
    FUZZ_CHECK(p->left >= -slack && p->top >= -slack);
    FUZZ_CHECK(p->left + p->width <= W + slack);
    FUZZ_CHECK(p->top + p->height <= H + slack);
    // Centred along both axes.
    FUZZ_CHECK(std::fabs(2 * p->left + p->width - W) <= 2 * slack);
    FUZZ_CHECK(std::fabs(2 * p->top + p->height - H) <= 2 * slack);

    if (W > w && H > h) {
        // Small pictures keep their natural size.
        FUZZ_CHECK(!p->stretch && p->width == w && p->height == h);
    } else {
        FUZZ_CHECK(p->stretch);
        // Never enlarged past the screen, and touching it on one pair of edges.
        FUZZ_CHECK((p->width == W && p->left == 0) || (p->height == H && p->top == 0));
        // Aspect kept within a pixel's rounding.
        const double R = static_cast<double>(w) / h;
        FUZZ_CHECK(std::fabs(p->width - p->height * R) <= 1e-5 * p->width + 1e-5 * p->height * R + 1e-6);
    }

    // Whole pixels: never outside the screen, never empty.
    const lumora::PixelRect r = lumora::ToPixelRect(*p);
    FUZZ_CHECK(r.left >= 0 && r.top >= 0);
    FUZZ_CHECK(r.right <= static_cast<long>(W) && r.bottom <= static_cast<long>(H));
    FUZZ_CHECK(r.width() >= 1 && r.height() >= 1);
    // A natural-size picture keeps its exact size (one pixel at least).
    if (!p->stretch) {
        FUZZ_CHECK(r.width() == std::max(1L, static_cast<long>(w)));
        FUZZ_CHECK(r.height() == std::max(1L, static_cast<long>(h)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lumora::fuzz::Input input(data, size);
    const float W = ScreenSide(input.Take<std::uint16_t>());
    const float H = ScreenSide(input.Take<std::uint16_t>());
    const float w = PictureSide(input.Take<std::uint32_t>());
    const float h = PictureSide(input.Take<std::uint32_t>());
    CheckInsideScreen(W, H, w, h);

    // Any Single at all, NaN and infinities included: no crash, no undefined
    // behaviour, and a placement that is finite whenever there is one.
    const auto any = lumora::FitPicture(input.Take<float>(), input.Take<float>(), input.Take<float>(),
                                        input.Take<float>());
    if (any) {
        FUZZ_CHECK(std::isfinite(any->left) && std::isfinite(any->top));
        FUZZ_CHECK(std::isfinite(any->width) && std::isfinite(any->height));
    }
    return 0;
}
