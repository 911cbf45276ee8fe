#include "settings/Form2_win.h"

#include "about/SFrm_About_win.h"
#include "common/AppProperties_win.h"
#include "common/MessageLoop_win.h"
#include "resource.h"

namespace lumora {
namespace {

// A fixed single border, the close box and no minimise or maximise box;
// owning nothing and owned by nothing, it has its taskbar button.
constexpr DialogFrame kFrame{
    .className = L"LumoraForm2",
    .caption = L"設定",
    .style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
    .exStyle = WS_EX_CONTROLPARENT | WS_EX_APPWINDOW,
    .clientWidth = 6495,
    .clientHeight = 1095,
    .icon = IDI_APP,
    .menu = IDR_MENU_FORM2,
};

constexpr int kLabel1Id = 1201;

constexpr TwipsRect kLabel1Rect{120, 240, 3135, 255};
constexpr TwipsRect kCmdOKRect{5160, 120, 1215, 375};
constexpr TwipsRect kCmdCancelRect{5160, 600, 1215, 375};

}  // namespace

Form2::Form2() : Dialog(kFrame) {}

void Form2::CreateControls() {
    Cmd_OK_ = CreateChild(L"BUTTON", L"ＯＫ", WS_TABSTOP | BS_DEFPUSHBUTTON | BS_NOTIFY, IDOK);
    Cmd_Cancel_ = CreateChild(L"BUTTON", L"キャンセル", WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, IDCANCEL);
    Label1_ = CreateChild(L"STATIC", L"設定項目はございません。", SS_LEFT | SS_NOPREFIX, kLabel1Id);
}

std::array<ControlPlace, 3> Form2::Controls() const {
    return {{
        {Cmd_OK_, kCmdOKRect},
        {Cmd_Cancel_, kCmdCancelRect},
        {Label1_, kLabel1Rect},
    }};
}

void Form2::Show() {
    CenterWindow(hwnd(), nullptr);
    ::ShowWindow(hwnd(), SW_SHOW);
    ::SetForegroundWindow(hwnd());
}

void Form2::Form_Load() { ::SetWindowTextW(hwnd(), App().title.c_str()); }

void Form2::Cmd_OK_Click() { EndProgram(); }

void Form2::Cmd_Cancel_Click() { EndProgram(); }

void Form2::MENU_Version_Click() {
    // A command posted while the box is open must not stack a second one.
    if (aboutOpen_) return;
    aboutOpen_ = true;
    SFrm_About about;
    about.ShowModal(hwnd());
    aboutOpen_ = false;
}

std::optional<LRESULT> Form2::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
        // Menu choices come with no control handle; IsDialogMessage sends
        // IDOK for Enter and IDCANCEL for Escape.
        if (lp == 0 && HIWORD(wp) == 0 && LOWORD(wp) == IDM_MENU_VERSION) {
            MENU_Version_Click();
        } else if (HIWORD(wp) == BN_CLICKED && LOWORD(wp) == IDOK) {
            Cmd_OK_Click();
        } else if (HIWORD(wp) == BN_CLICKED && LOWORD(wp) == IDCANCEL) {
            Cmd_Cancel_Click();
        }
        return 0;
    case WM_CLOSE:
        // The About box is modal: its owner does not go away under it.
        if (aboutOpen_) return 0;
        break;
    case WM_DESTROY:
        // The close box unloads the only window, and with it the process.
        ::PostQuitMessage(0);
        return 0;
    }
    return std::nullopt;
}

}  // namespace lumora
