#include "common/Dialog_win.h"

#include "common/MessageLoop_win.h"

#include <algorithm>

namespace lumora {
namespace {

// With no push button focused, Enter presses OK in every dialog here.
constexpr int kDefaultButtonId = IDOK;

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

RECT ToPixels(const TwipsRect& twips, UINT dpi) {
    const int left = TwipsToPixels(twips.left, dpi), top = TwipsToPixels(twips.top, dpi);
    // Edges are rounded, not sizes, so neighbours never gap or overlap.
    return RECT{left, top, TwipsToPixels(twips.left + twips.width, dpi), TwipsToPixels(twips.top + twips.height, dpi)};
}

UniqueFont CreatePointFont(const PointFont& font, UINT dpi) {
    LOGFONTW lf{};
    lf.lfHeight = -::MulDiv(font.points, static_cast<int>(dpi), 72);
    lf.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = font.charset;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    ::lstrcpynW(lf.lfFaceName, font.face, LF_FACESIZE);
    return UniqueFont(::CreateFontIndirectW(&lf));
}

// The system's message font at that DPI: it has the glyphs for Japanese.
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
    return CreatePointFont({L"MS Shell Dlg 2", 9, false, DEFAULT_CHARSET}, dpi);
}

// The system's icon size at that DPI for SM_CXICON or SM_CXSMICON.
int SystemIconSize(int metric, UINT dpi) {
    // Looked up at run time: the call is missing before Windows 10 1607.
    using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
    static const auto forDpi = User32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    const int size = forDpi ? forDpi(metric, dpi) : 0;
    if (size > 0) return size;
    return ::MulDiv(metric == SM_CXSMICON ? 16 : 32, static_cast<int>(dpi), 96);
}

// An icon of this program, `size` pixels square: the image of that size when
// the icon has one, so nothing is scaled.
UniqueIcon LoadIconOfSize(int id, int size) {
    return UniqueIcon(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                                      size, size, LR_DEFAULTCOLOR)));
}

// Resizes the window, keeping its top-left corner, so its client area has this
// size in pixels (menu bar and borders at their actual sizes).
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

bool IsPushButton(HWND hwnd) {
    return (::SendMessageW(hwnd, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0;
}

int DefaultButtonId(HWND window) {
    HWND focus = ::GetFocus();
    if (focus && ::IsChild(window, focus) && IsPushButton(focus)) return ::GetDlgCtrlID(focus);
    return kDefaultButtonId;
}

// Gives the default-button frame to the button DefaultButtonId names.
void UpdateDefaultButton(HWND window) {
    const int defaultId = DefaultButtonId(window);
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

}  // namespace

UINT DpiOf(HWND hwnd) {
    // Looked up at run time: the call is missing before Windows 10 1607.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    const UINT dpi = getDpiForWindow && hwnd ? getDpiForWindow(hwnd) : 0;
    return dpi ? dpi : ScreenDpi();
}

int TwipsToPixels(int twips, UINT dpi) { return ::MulDiv(twips, static_cast<int>(dpi), 1440); }

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

UINT FollowDpiChange(HWND hwnd, WPARAM wp, LPARAM lp) {
    const auto* suggested = reinterpret_cast<const RECT*>(lp);
    ::SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return LOWORD(wp);
}

void RunModal(HWND dialog, HWND owner, HWND focus, const bool& ended) {
    CenterWindow(dialog, owner);
    const bool disabledOwner = owner && !::EnableWindow(owner, FALSE);
    ::ShowWindow(dialog, SW_SHOW);
    ::SetFocus(focus);

    MSG msg;
    while (!ended && ::IsWindow(dialog)) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT belongs to the outer loop.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got < 0) break;
        if (TranslateDialogMessage(msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    // The owner is enabled first, so that it, not some other program, becomes
    // active when the dialog goes.
    if (disabledOwner) ::EnableWindow(owner, TRUE);
}

WNDCLASSEXW DialogClass(const DialogFrame& frame) {
    WNDCLASSEXW wc{};
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = frame.className;
    // Until the layout sets the window's own icons; the system picks the small
    // class icon from the same resource.
    if (frame.icon) wc.hIcon = ::LoadIconW(wc.hInstance, MAKEINTRESOURCEW(frame.icon));
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    return wc;
}

void DialogLayout::Apply(HWND window, const DialogFrame& frame, std::span<const ControlPlace> controls, UINT dpi) {
    dpi_ = dpi;
    UniqueFont font = CreateMessageFont(dpi);
    std::vector<UniqueFont> pointFonts;
    std::vector<UniqueIcon> icons;
    for (const ControlPlace& control : controls) {
        HFONT controlFont = font.get();
        if (control.font) {
            pointFonts.push_back(CreatePointFont(*control.font, dpi));
            controlFont = pointFonts.back().get();
        }
        ::SendMessageW(control.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(controlFont), TRUE);
        const RECT r = ToPixels(control.twips, dpi);
        if (control.icon) {
            // Icons are square: the control's width is the size.
            icons.push_back(LoadIconOfSize(control.icon, r.right - r.left));
            ::SendMessageW(control.hwnd, STM_SETICON, reinterpret_cast<WPARAM>(icons.back().get()), 0);
        }
        // Placed after the icon, which sizes its control to itself.
        ::SetWindowPos(control.hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (frame.icon) {
        // The window icon in both sizes the system draws at this DPI.
        icons.push_back(LoadIconOfSize(frame.icon, SystemIconSize(SM_CXICON, dpi)));
        ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons.back().get()));
        icons.push_back(LoadIconOfSize(frame.icon, SystemIconSize(SM_CXSMICON, dpi)));
        ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons.back().get()));
    }
    // Only now may the old fonts and icons go: nothing uses them any more.
    font_ = std::move(font);
    pointFonts_ = std::move(pointFonts);
    icons_ = std::move(icons);

    SizeForClient(window, TwipsToPixels(frame.clientWidth, dpi), TwipsToPixels(frame.clientHeight, dpi));
    ::InvalidateRect(window, nullptr, TRUE);
}

std::optional<LRESULT> DialogFocus::Handle(HWND window, UINT msg, WPARAM wp) {
    switch (msg) {
    case WM_COMMAND:
        if (HIWORD(wp) != BN_SETFOCUS && HIWORD(wp) != BN_KILLFOCUS) return std::nullopt;
        UpdateDefaultButton(window);
        return 0;
    case DM_GETDEFID:
        return MAKELRESULT(DefaultButtonId(window), DC_HASDEFID);
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
