#include "saver/MonitorLayout.h"

#include <algorithm>

namespace lumora {

std::vector<ScreenRect> MonitorsToCover(const std::vector<ScreenRect>& monitors, const ScreenRect& main) {
    std::vector<ScreenRect> cover;
    for (const ScreenRect& m : monitors) {
        if (m.Empty() || m.Overlaps(main)) continue;
        if (std::find(cover.begin(), cover.end(), m) != cover.end()) continue;
        cover.push_back(m);
    }
    return cover;
}

}  // namespace lumora
