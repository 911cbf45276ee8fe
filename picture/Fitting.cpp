#include "picture/Fitting.h"

#include <cmath>

namespace lumora {
namespace {

// Writing a value to the picture's Single properties; a value out of Single's
// range (or a division by zero on the way) makes the whole fitting fail.
bool ToSingle(double value, float& out) {
    if (!std::isfinite(value)) return false;
    out = static_cast<float>(value);
    return std::isfinite(out);
}

}  // namespace

std::optional<Placement> FitPicture(float scaleWidth, float scaleHeight, float naturalWidth,
                                    float naturalHeight) {
    const double W = scaleWidth;
    const double H = scaleHeight;
    // The ratio that sizes the picture is computed once, in double precision.
    if (naturalHeight == 0) return std::nullopt;
    const double R = static_cast<double>(naturalWidth) / naturalHeight;
    const float w = naturalWidth;
    const float h = naturalHeight;

    Placement p;
    if (static_cast<float>(W) > w && static_cast<float>(H) > h) {
        p.stretch = false;
        p.width = w;
        p.height = h;
        if (!ToSingle((W - w) / 2.0, p.left) || !ToSingle((H - h) / 2.0, p.top)) return std::nullopt;
        return p;
    }

    if (H == 0) return std::nullopt;
    // The branch is chosen on ratios rounded to Single; an exact tie covers the
    // window either way, landscape pictures by height, the others by width.
    const float s = static_cast<float>(W / H);
    const float r = static_cast<float>(static_cast<double>(w) / h);
    const bool fillWidth = (w > h) ? (s < r) : !(s > r);

    p.stretch = true;
    if (fillWidth) {
        if (!ToSingle(W, p.width) || !ToSingle(W / R, p.height)) return std::nullopt;
        p.left = 0;
        if (!ToSingle((H - p.height) / 2.0, p.top)) return std::nullopt;
    } else {
        if (!ToSingle(H, p.height) || !ToSingle(H * R, p.width)) return std::nullopt;
        if (!ToSingle((W - p.width) / 2.0, p.left)) return std::nullopt;
        p.top = 0;
    }
    return p;
}

PixelRect ToPixelRect(const Placement& placement) {
    PixelRect r;
    r.left = std::lround(placement.left);
    r.top = std::lround(placement.top);
    r.right = std::lround(static_cast<double>(placement.left) + placement.width);
    r.bottom = std::lround(static_cast<double>(placement.top) + placement.height);
    if (r.right <= r.left) r.right = r.left + 1;
    if (r.bottom <= r.top) r.bottom = r.top + 1;
    return r;
}

}  // namespace lumora
