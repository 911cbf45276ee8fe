#include "about/SFrm_About_win.h"

#include "about/AboutTexts.h"
#include "about/SysInfo_win.h"
#include "common/AppProperties_win.h"
#include "resource.h"

#include <algorithm>

namespace lumora {
namespace {

// Owned, so it stays over the settings dialog and out of the taskbar; the
// modal frame leaves the caption without an icon.
constexpr DialogFrame kFrame{
    .className = L"LumoraSFrmAbout",
    .caption = L"ﾊﾞｰｼﾞｮﾝ情報",
    .style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
    .exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT,
    .clientWidth = 6105,
    .clientHeight = 2880,
};

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

constexpr PointFont kLblTitleFont{L"ＭＳ Ｐゴシック", 9, true, SHIFTJIS_CHARSET};

// The etched separator: a white line 2 pixels wide over a grey one.
constexpr int kLine1Left = 120, kLine1Right = 6000;
constexpr int kLine1WhiteY = 1800, kLine1GreyY = 1830;

}  // namespace

SFrm_About::SFrm_About() : Dialog(kFrame) {}

void SFrm_About::CreateControls() {
    // cmdOK first, so it has the focus.
    cmdOK_ = CreateChild(L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON | BS_NOTIFY, kCmdOK);
    picIcon_ = CreateChild(L"STATIC", L"", SS_ICON, kPicIcon);
    cmdSysInfo_ = CreateChild(L"BUTTON", L"ｼｽﾃﾑ情報(&S)...", WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, kCmdSysInfo);
    // Empty from the start: the disclaimer shows nothing.
    lblDisclaimer_ = CreateChild(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kLblDisclaimer);
    lblTitle_ = CreateChild(L"STATIC", L"ｱﾌﾟﾘｹｰｼｮﾝ ﾀｲﾄﾙ", SS_LEFT | SS_NOPREFIX, kLblTitle);
    lblVersion_ = CreateChild(L"STATIC", L"ﾊﾞｰｼﾞｮﾝ", SS_LEFT | SS_NOPREFIX, kLblVersion);
    lblCompanyName_ = CreateChild(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kLblCompanyName);
    lblLegalCopyright_ = CreateChild(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kLblLegalCopyright);
}

std::array<ControlPlace, 8> SFrm_About::Controls() const {
    return {{
        // The 32 x 32 picture at 96 DPI, larger in step with the DPI.
        {picIcon_, kPicIconRect, nullptr, IDI_APP},
        {lblTitle_, kLblTitleRect, &kLblTitleFont},
        {lblVersion_, kLblVersionRect},
        {lblCompanyName_, kLblCompanyNameRect},
        {lblLegalCopyright_, kLblLegalCopyrightRect},
        {cmdOK_, kCmdOKRect},
        {cmdSysInfo_, kCmdSysInfoRect},
        {lblDisclaimer_, kLblDisclaimerRect},
    }};
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
}

void SFrm_About::cmdOK_Click() { EndModal(); }

void SFrm_About::cmdSysInfo_Click() {
    SysInfoPlatformWin platform(hwnd());
    StartSysInfo(platform);
}

void SFrm_About::PaintLines(HDC dc) {
    const UINT dpi = this->dpi();
    const int left = TwipsToPixels(kLine1Left, dpi), right = TwipsToPixels(kLine1Right, dpi);
    const int whiteTop = TwipsToPixels(kLine1WhiteY, dpi), greyTop = TwipsToPixels(kLine1GreyY, dpi);
    const int whiteHeight = std::max(1, ::MulDiv(2, static_cast<int>(dpi), 96));
    const int greyHeight = std::max(1, ::MulDiv(1, static_cast<int>(dpi), 96));
    const RECT white{left, whiteTop, right, whiteTop + whiteHeight};
    const RECT grey{left, greyTop, right, greyTop + greyHeight};
    ::FillRect(dc, &white, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    UniqueBrush greyBrush(::CreateSolidBrush(RGB(128, 128, 128)));
    ::FillRect(dc, &grey, greyBrush.get());
}

std::optional<LRESULT> SFrm_About::OnMessage(UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDOK:
        case IDCANCEL:  // Escape and the close box
            if (HIWORD(wp) == BN_CLICKED) cmdOK_Click();
            break;
        case kCmdSysInfo:
            if (HIWORD(wp) == BN_CLICKED) cmdSysInfo_Click();
            break;
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
    }
    return std::nullopt;
}

}  // namespace lumora
