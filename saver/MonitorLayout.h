#pragma once
// Which monitors besides the main one need a black cover of their own.
#include "common/Geometry.h"

#include <vector>

namespace lumora {

// The monitors to cover, in the order given: every non-empty monitor that
// does not overlap the main one (a mirrored or cloned display shows the
// slideshow already) and is not a repeat of one taken before.
std::vector<PixelRect> MonitorsToCover(const std::vector<PixelRect>& monitors, const PixelRect& main);

}  // namespace lumora
