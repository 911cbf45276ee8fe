#include "saver/MonitorCover_win.h"

#include "common/UniqueHandle_win.h"
#include "saver/InputMessages_win.h"

#include <windowsx.h>

namespace lumora {
namespace {

constexpr wchar_t kClassName[] = L"LumoraMonitorCover";

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM lp) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (::GetMonitorInfoW(monitor, &info)) {
        const RECT& r = info.rcMonitor;
        reinterpret_cast<std::vector<PixelRect>*>(lp)->push_back({r.left, r.top, r.right, r.bottom});
    }
    return TRUE;
}

}  // namespace

MonitorCover::~MonitorCover() {
    if (hwnd()) ::DestroyWindow(hwnd());
}

bool MonitorCover::Create(const PixelRect& rect, HWND slideshow) {
    slideshow_ = slideshow;
    WNDCLASSEXW wc{};
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    wc.hCursor = nullptr;  // no pointer over the cover either
    if (!RegisterClassOnce(wc)) return false;
    // A tool window gets no taskbar button.
    return CreateWindowFor(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kClassName, L"", WS_POPUP, rect.left, rect.top,
                           rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr) != nullptr;
}

void MonitorCover::Show() {
    ::ShowWindow(hwnd(), SW_SHOWNOACTIVATE);
    MakeTopmost();
}

void MonitorCover::MakeTopmost() {
    ::SetWindowPos(hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
}

LRESULT MonitorCover::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    // Presses, keys and the system's requests are the slideshow window's to answer.
    if (IsButtonPress(msg)) return ::SendMessageW(slideshow_, msg, wp, lp);
    switch (msg) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_CLOSE:
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION:
        return ::SendMessageW(slideshow_, msg, wp, lp);
    case WM_MOUSEMOVE: {
        // Into the slideshow window's client coordinates, so that the movement
        // test measures every pointer position in one frame.
        POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
        ::ClientToScreen(hwnd(), &p);
        ::ScreenToClient(slideshow_, &p);
        return ::SendMessageW(slideshow_, WM_MOUSEMOVE, wp, MAKELPARAM(p.x, p.y));
    }
    case WM_PAINT: {
        PaintScope paint(hwnd());  // the class brush has made it black already
        return 0;
    }
    }
    return Window::HandleMessage(msg, wp, lp);
}

std::vector<std::unique_ptr<MonitorCover>> CoverOtherMonitors(const PixelRect& main, HWND slideshow) {
    std::vector<PixelRect> monitors;
    ::EnumDisplayMonitors(nullptr, nullptr, &AddMonitor, reinterpret_cast<LPARAM>(&monitors));
    std::vector<std::unique_ptr<MonitorCover>> covers;
    for (const PixelRect& rect : MonitorsToCover(monitors, main)) {
        auto cover = std::make_unique<MonitorCover>();
        if (cover->Create(rect, slideshow)) covers.push_back(std::move(cover));
    }
    return covers;
}

}  // namespace lumora
