#pragma once
// Sizes and rectangles in whole pixels, shared by the saver and its picture helper.

namespace lumora {

// The client area a picture is fitted into, in pixels.
struct ClientSize {
    int width = 0;
    int height = 0;
    bool operator==(const ClientSize&) const = default;
};

// A rectangle of whole pixels, [left, right) x [top, bottom): a picture's
// place in the window, or a monitor on the screen.
struct PixelRect {
    long left = 0;
    long top = 0;
    long right = 0;
    long bottom = 0;
    long width() const { return right - left; }
    long height() const { return bottom - top; }
    bool operator==(const PixelRect&) const = default;
    bool Empty() const { return right <= left || bottom <= top; }
    bool Overlaps(const PixelRect& o) const {
        return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
    }
};

}  // namespace lumora
