#pragma once
#include "common/Geometry.h"

#include <optional>

namespace lumora {

// Where a picture goes in the window, in window pixels. Sizes and positions
// are Single (float) values, as the fitting rules round them.
struct Placement {
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
    bool stretch = false;  // false: natural size, unscaled
};

// Fits a picture of natural size naturalWidth x naturalHeight into a window
// whose client area is scaleWidth x scaleHeight:
//  - smaller than the window both ways (strictly): natural size, centred;
//  - otherwise scaled with its aspect kept to touch the window's edges on the
//    constraining side and centred along the other.
// Empty when the rules cannot place it (zero picture height, zero window
// height in the fitting branch, or a size that is not a finite Single).
std::optional<Placement> FitPicture(float scaleWidth, float scaleHeight, float naturalWidth,
                                    float naturalHeight);

// A placement turned into whole device pixels. Each edge is rounded to the
// nearest pixel, so a natural-size picture keeps its exact size wherever its
// centre falls; a picture that rounds away to nothing still gets one pixel.
PixelRect ToPixelRect(const Placement& placement);

}  // namespace lumora
