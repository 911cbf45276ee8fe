#pragma once
// Which monitors besides the main one need a black cover of their own.
#include <vector>

namespace lumora {

struct ScreenRect {
    long left = 0;
    long top = 0;
    long right = 0;
    long bottom = 0;
    bool operator==(const ScreenRect&) const = default;
    bool Empty() const { return right <= left || bottom <= top; }
    bool Overlaps(const ScreenRect& o) const {
        return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
    }
};

// The monitors to cover, in the order given: every non-empty monitor that
// does not overlap the main one (a mirrored or cloned display shows the
// slideshow already) and is not a repeat of one taken before.
std::vector<ScreenRect> MonitorsToCover(const std::vector<ScreenRect>& monitors, const ScreenRect& main);

}  // namespace lumora
