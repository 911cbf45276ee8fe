#include "saver/MonitorLayout.h"

#include <algorithm>

namespace lumora {

std::vector<PixelRect> MonitorsToCover(const std::vector<PixelRect>& monitors, const PixelRect& main) {
    std::vector<PixelRect> cover;
    for (const PixelRect& m : monitors) {
        if (m.Empty() || m.Overlaps(main)) continue;
        if (std::find(cover.begin(), cover.end(), m) != cover.end()) continue;
        cover.push_back(m);
    }
    return cover;
}

}  // namespace lumora
