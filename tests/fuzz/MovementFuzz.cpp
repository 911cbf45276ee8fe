// Pointer positions come from the window system, at the screen's far edges
// and, on many monitors, negative. The movement test must end the show only
// for a movement beyond 5 pixels on both axes.
#include "saver/MovementEndsShow.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cmath>
#include <cstdlib>

namespace {

bool Beyond(double from, double to) { return std::fabs(to - from) > 5.0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lumora::fuzz::Input input(data, size);

    // Whole-pixel positions as mouse messages carry them (16-bit signed):
    // exact answers.
    {
        lumora::PointerReference ref;
        const float x0 = input.Take<std::int16_t>();
        const float y0 = input.Take<std::int16_t>();
        FUZZ_CHECK(!lumora::MovementEndsShow(ref, x0, y0));
        FUZZ_CHECK(!ref.FirstMove && ref.MouseX0 == x0 && ref.MouseY0 == y0);
        for (int i = 0; i < 8 && input.size() >= 4; ++i) {
            const float x = input.Take<std::int16_t>();
            const float y = input.Take<std::int16_t>();
            const bool ends = lumora::MovementEndsShow(ref, x, y);
            FUZZ_CHECK(ends == (Beyond(x0, x) && Beyond(y0, y)));
            // The reference stays where the first movement put it.
            FUZZ_CHECK(ref.MouseX0 == x0 && ref.MouseY0 == y0 && !ref.FirstMove);
        }
    }

    // Any Single at all: no undefined behaviour; staying put never ends the
    // show, nor does a movement along one axis only, nor one that stays well
    // within 5 pixels on either axis (the margin covers Single rounding).
    {
        lumora::PointerReference ref;
        const float x0 = input.Take<float>();
        const float y0 = input.Take<float>();
        const float x = input.Take<float>();
        const float y = input.Take<float>();
        FUZZ_CHECK(!lumora::MovementEndsShow(ref, x0, y0));
        if (std::isfinite(x0) && std::isfinite(y0)) {
            FUZZ_CHECK(!lumora::MovementEndsShow(ref, x0, y0));
            FUZZ_CHECK(!lumora::MovementEndsShow(ref, x, y0));
            FUZZ_CHECK(!lumora::MovementEndsShow(ref, x0, y));
            const auto within = [](double from, double to) { return std::fabs(to - from) <= 4.5; };
            if (within(x0, x) || within(y0, y)) FUZZ_CHECK(!lumora::MovementEndsShow(ref, x, y));
        }
        (void)lumora::MovementEndsShow(ref, x, y);
    }
    return 0;
}
