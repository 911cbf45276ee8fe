#include "common/Dialog_win.h"

#include <algorithm>

namespace lumora {
namespace {

template <typename Function>
Function User32Function(const char* name) {
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(user32, name))) : nullptr;
}

UINT ScreenDpi() {
    WindowDc screen(nullptr);
    const int dpi = screen.get() ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : 96u;
}

bool IsPushButton(HWND hwnd) {
    return (::SendMessageW(hwnd, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0;
}

}  // namespace

UINT DpiOf(HWND hwnd) {
    // Looked up at run time: the call is missing before Windows 10 1607.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    const UINT dpi = getDpiForWindow && hwnd ? getDpiForWindow(hwnd) : 0;
    return dpi ? dpi : ScreenDpi();
}

int TwipsToPixels(int twips, UINT dpi) { return ::MulDiv(twips, static_cast<int>(dpi), 1440); }

RECT ToPixels(const TwipsRect& twips, UINT dpi) {
    const int left = TwipsToPixels(twips.left, dpi), top = TwipsToPixels(twips.top, dpi);
    // Edges are rounded, not sizes, so neighbours never gap or overlap.
    return RECT{left, top, TwipsToPixels(twips.left + twips.width, dpi), TwipsToPixels(twips.top + twips.height, dpi)};
}

UniqueFont CreateMessageFont(UINT dpi) {
    using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi = User32Function<SystemParametersInfoForDpiFn>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi))
        return UniqueFont(::CreateFontIndirectW(&metrics.lfMessageFont));
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        // These metrics are at the system DPI.
        metrics.lfMessageFont.lfHeight =
            ::MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), static_cast<int>(ScreenDpi()));
        return UniqueFont(::CreateFontIndirectW(&metrics.lfMessageFont));
    }
    return CreatePointFont(L"MS Shell Dlg 2", 9, false, DEFAULT_CHARSET, dpi);
}

UniqueFont CreatePointFont(const wchar_t* face, int points, bool bold, BYTE charset, UINT dpi) {
    LOGFONTW lf{};
    lf.lfHeight = -::MulDiv(points, static_cast<int>(dpi), 72);
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = charset;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    ::lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    return UniqueFont(::CreateFontIndirectW(&lf));
}

int SystemIconSize(int metric, UINT dpi) {
    // Looked up at run time: the call is missing before Windows 10 1607.
    using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
    static const auto forDpi = User32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    const int size = forDpi ? forDpi(metric, dpi) : 0;
    if (size > 0) return size;
    return ::MulDiv(metric == SM_CXSMICON ? 16 : 32, static_cast<int>(dpi), 96);
}

UniqueIcon LoadIconOfSize(int id, int size) {
    return UniqueIcon(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                                      size, size, LR_DEFAULTCOLOR)));
}

void PlaceControls(std::span<const ControlPlace> places, UINT dpi) {
    for (const ControlPlace& place : places) {
        const RECT r = ToPixels(place.twips, dpi);
        ::SetWindowPos(place.hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void SetFontOf(std::span<const ControlPlace> places, HFONT font) {
    for (const ControlPlace& place : places) ::SendMessageW(place.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void SizeForClient(HWND hwnd, int clientWidth, int clientHeight) {
    RECT frame{0, 0, clientWidth, clientHeight};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(hwnd, GWL_STYLE)), ::GetMenu(hwnd) != nullptr,
                         static_cast<DWORD>(::GetWindowLongPtrW(hwnd, GWL_EXSTYLE)));
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    // AdjustWindowRectEx knows neither a wrapped menu bar nor a DPI other than
    // the system's: measure what came out and make up the difference.
    for (int attempt = 0; attempt < 3; ++attempt) {
        ::SetWindowPos(hwnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT client{};
        ::GetClientRect(hwnd, &client);
        const int dx = clientWidth - client.right, dy = clientHeight - client.bottom;
        if (dx == 0 && dy == 0) break;
        width += dx;
        height += dy;
    }
}

void CenterWindow(HWND hwnd, HWND over) {
    RECT window{};
    ::GetWindowRect(hwnd, &window);
    HMONITOR monitor = ::MonitorFromWindow(over ? over : hwnd, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (!::GetMonitorInfoW(monitor, &info)) return;
    const RECT& work = info.rcWork;
    RECT area = work;
    if (over) ::GetWindowRect(over, &area);
    const int width = window.right - window.left, height = window.bottom - window.top;
    int x = area.left + ((area.right - area.left) - width) / 2;
    int y = area.top + ((area.bottom - area.top) - height) / 2;
    x = std::max<int>(work.left, std::min<int>(x, work.right - width));
    y = std::max<int>(work.top, std::min<int>(y, work.bottom - height));
    ::SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int DefaultButtonId(HWND window, int fallbackId) {
    HWND focus = ::GetFocus();
    if (focus && ::IsChild(window, focus) && IsPushButton(focus)) return ::GetDlgCtrlID(focus);
    return fallbackId;
}

void UpdateDefaultButton(HWND window, int fallbackId) {
    const int defaultId = DefaultButtonId(window, fallbackId);
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (!IsPushButton(child)) continue;
        const bool isDefault = ::GetDlgCtrlID(child) == defaultId;
        const bool wasDefault = (::SendMessageW(child, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON) != 0;
        if (isDefault == wasDefault) continue;
        // BM_SETSTYLE takes the whole low word of the style: keep BS_NOTIFY and the rest.
        const auto style = static_cast<DWORD>(::GetWindowLongPtrW(child, GWL_STYLE)) & 0xFFFFu & ~DWORD{BS_TYPEMASK};
        ::SendMessageW(child, BM_SETSTYLE, style | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), TRUE);
    }
}

UINT FollowDpiChange(HWND hwnd, WPARAM wp, LPARAM lp) {
    const auto* suggested = reinterpret_cast<const RECT*>(lp);
    ::SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return LOWORD(wp);
}

std::optional<LRESULT> DialogFocus::Handle(HWND window, UINT msg, WPARAM wp) {
    switch (msg) {
    case WM_COMMAND:
        if (HIWORD(wp) != BN_SETFOCUS && HIWORD(wp) != BN_KILLFOCUS) return std::nullopt;
        UpdateDefaultButton(window, fallbackId_);
        return 0;
    case DM_GETDEFID:
        return MAKELRESULT(DefaultButtonId(window, fallbackId_), DC_HASDEFID);
    case WM_ACTIVATE:
        if (LOWORD(wp) == WA_INACTIVE) {
            HWND focus = ::GetFocus();
            if (focus && ::IsChild(window, focus)) lastFocus_ = focus;
        } else if (lastFocus_ && !::IsIconic(window)) {
            ::SetFocus(lastFocus_);
        }
        return 0;
    case WM_SETFOCUS:
        if (lastFocus_) ::SetFocus(lastFocus_);
        return 0;
    }
    return std::nullopt;
}

}  // namespace lumora
