#include "about/SFrm_About_win.h"

#include "about/AboutTexts.h"
#include "about/SysInfo_win.h"
#include "common/AppProperties_win.h"
#include "common/MessageLoop_win.h"
#include "resource.h"

#include <array>

namespace lumora {
namespace {

constexpr wchar_t kClassName[] = L"LumoraSFrmAbout";

constexpr int kClientWidth = 6105;
constexpr int kClientHeight = 2880;

enum ControlId : int {
    kCmdOK = IDOK,
    kCmdSysInfo = 1101,
    kPicIcon = 1102,
    kLblTitle = 1103,
    kLblVersion = 1104,
    kLblCompanyName = 1105,
    kLblLegalCopyright = 1106,
    kLblDisclaimer = 1107,
};

constexpr TwipsRect kPicIconRect{240, 240, 480, 480};
constexpr TwipsRect kLblTitleRect{1050, 240, 4905, 285};
constexpr TwipsRect kLblVersionRect{1050, 600, 4905, 225};
constexpr TwipsRect kLblCompanyNameRect{180, 930, 5760, 225};
constexpr TwipsRect kLblLegalCopyrightRect{180, 1200, 5820, 450};
constexpr TwipsRect kCmdOKRect{4560, 1980, 1380, 345};
constexpr TwipsRect kCmdSysInfoRect{4560, 2400, 1380, 345};
constexpr TwipsRect kLblDisclaimerRect{180, 2160, 4230, 525};

// The etched separator: a white line 2 pixels wide over a grey one.
constexpr int kLine1Left = 120, kLine1Right = 6000;
constexpr int kLine1WhiteY = 1800, kLine1GreyY = 1830;

HWND CreateChild(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
    return ::CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

void SFrm_About::ShowModal(HWND owner) {
    if (!Load(owner)) return;
    Form_Load();
    CenterWindow(hwnd(), owner);
    const bool disabledOwner = owner && !::EnableWindow(owner, FALSE);
    ::ShowWindow(hwnd(), SW_SHOW);
    ::SetFocus(cmdOK_);

    MSG msg;
    while (!closed_ && hwnd()) {
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
    // active when the box goes.
    if (disabledOwner) ::EnableWindow(owner, TRUE);
    if (hwnd()) ::DestroyWindow(hwnd());
}

bool SFrm_About::Load(HWND owner) {
    WNDCLASSEXW wc{};
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    if (!RegisterClassOnce(wc)) return false;
    // Owned, so it stays over the settings dialog and out of the taskbar; the
    // modal frame leaves the caption without an icon.
    if (!CreateWindowFor(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kClassName, L"ﾊﾞｰｼﾞｮﾝ情報",
                         WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, 0, 0, 0, 0, owner, nullptr))
        return false;
    HWND self = hwnd();

    // Created in tab order: cmdOK first, so it has the focus.
    cmdOK_ = CreateChild(self, L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON | BS_NOTIFY, kCmdOK);
    picIcon_ = CreateChild(self, L"STATIC", L"", SS_ICON, kPicIcon);
    cmdSysInfo_ = CreateChild(self, L"BUTTON", L"ｼｽﾃﾑ情報(&S)...", WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, kCmdSysInfo);
    lblDisclaimer_ = CreateChild(self, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kLblDisclaimer);
    lblTitle_ = CreateChild(self, L"STATIC", L"ｱﾌﾟﾘｹｰｼｮﾝ ﾀｲﾄﾙ", SS_LEFT | SS_NOPREFIX, kLblTitle);
    lblVersion_ = CreateChild(self, L"STATIC", L"ﾊﾞｰｼﾞｮﾝ", SS_LEFT | SS_NOPREFIX, kLblVersion);
    lblCompanyName_ = CreateChild(self, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kLblCompanyName);
    lblLegalCopyright_ = CreateChild(self, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kLblLegalCopyright);
    focus_.Remember(cmdOK_);

    Layout(DpiOf(self));
    return true;
}

void SFrm_About::Layout(UINT dpi) {
    dpi_ = dpi;
    const std::array<ControlPlace, 7> places{{
        {lblTitle_, kLblTitleRect},
        {lblVersion_, kLblVersionRect},
        {lblCompanyName_, kLblCompanyNameRect},
        {lblLegalCopyright_, kLblLegalCopyrightRect},
        {cmdOK_, kCmdOKRect},
        {cmdSysInfo_, kCmdSysInfoRect},
        {lblDisclaimer_, kLblDisclaimerRect},
    }};
    PlaceControls(places, dpi);

    // The 32 x 32 picture at 96 DPI, larger in step with the DPI.
    const RECT iconRect = ToPixels(kPicIconRect, dpi);
    const int iconSize = iconRect.right - iconRect.left;
    UniqueIcon icon(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP),
                                                     IMAGE_ICON, iconSize, iconSize, LR_DEFAULTCOLOR)));
    ::SendMessageW(picIcon_, STM_SETICON, reinterpret_cast<WPARAM>(icon.get()), 0);
    icon_ = std::move(icon);
    ::SetWindowPos(picIcon_, nullptr, iconRect.left, iconRect.top, iconSize, iconSize, SWP_NOZORDER | SWP_NOACTIVATE);

    UniqueFont font = CreateMessageFont(dpi);
    UniqueFont titleFont = CreatePointFont(L"ＭＳ Ｐゴシック", 9, true, SHIFTJIS_CHARSET, dpi);
    SetFontOf(places, font.get());
    ::SendMessageW(lblTitle_, WM_SETFONT, reinterpret_cast<WPARAM>(titleFont.get()), TRUE);
    // Only now may the old fonts go: the controls no longer use them.
    font_ = std::move(font);
    titleFont_ = std::move(titleFont);

    SizeForClient(hwnd(), TwipsToPixels(kClientWidth, dpi), TwipsToPixels(kClientHeight, dpi));
    ::InvalidateRect(hwnd(), nullptr, TRUE);
}

void SFrm_About::Form_Load() {
    const AppProperties& app = App();
    const AboutTexts texts = ComputeAboutTexts(
        {app.title, app.major, app.minor, app.revision, app.companyName, app.legalCopyright});
    ::SetWindowTextW(hwnd(), texts.caption.c_str());
    ::SetWindowTextW(lblVersion_, texts.version.c_str());
    ::SetWindowTextW(lblTitle_, texts.title.c_str());
    ::SetWindowTextW(lblCompanyName_, texts.companyName.c_str());
    ::SetWindowTextW(lblLegalCopyright_, texts.legalCopyright.c_str());
    ::SetWindowTextW(lblDisclaimer_, texts.disclaimer.c_str());
}

void SFrm_About::cmdOK_Click() { closed_ = true; }

void SFrm_About::cmdSysInfo_Click() {
    SysInfoPlatformWin platform(hwnd());
    StartSysInfo(platform);
}

void SFrm_About::PaintLines(HDC dc) {
    const int left = TwipsToPixels(kLine1Left, dpi_), right = TwipsToPixels(kLine1Right, dpi_);
    const int whiteTop = TwipsToPixels(kLine1WhiteY, dpi_), greyTop = TwipsToPixels(kLine1GreyY, dpi_);
    const int whiteHeight = std::max(1, ::MulDiv(2, static_cast<int>(dpi_), 96));
    const int greyHeight = std::max(1, ::MulDiv(1, static_cast<int>(dpi_), 96));
    const RECT white{left, whiteTop, right, whiteTop + whiteHeight};
    const RECT grey{left, greyTop, right, greyTop + greyHeight};
    ::FillRect(dc, &white, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    UniqueBrush greyBrush(::CreateSolidBrush(RGB(128, 128, 128)));
    ::FillRect(dc, &grey, greyBrush.get());
}

LRESULT SFrm_About::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    if (const auto handled = focus_.Handle(hwnd(), msg, wp)) return *handled;
    switch (msg) {
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDOK:
        case IDCANCEL:  // Escape and the close box
            if (HIWORD(wp) == BN_CLICKED) cmdOK_Click();
            return 0;
        case kCmdSysInfo:
            if (HIWORD(wp) == BN_CLICKED) cmdSysInfo_Click();
            return 0;
        }
        return 0;
    case WM_CLOSE:
        cmdOK_Click();
        return 0;
    case WM_PAINT: {
        PaintScope paint(hwnd());
        PaintLines(paint.dc());
        return 0;
    }
    case WM_DPICHANGED:
        Layout(FollowDpiChange(hwnd(), wp, lp));
        return 0;
    }
    return Window::HandleMessage(msg, wp, lp);
}

}  // namespace lumora
