#pragma once
#include <windows.h>

namespace lumora {

// Any mouse button going down, double clicks included: each ends the slideshow.
inline bool IsButtonPress(UINT msg) {
    switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
    case WM_XBUTTONDBLCLK:
        return true;
    }
    return false;
}

}  // namespace lumora
