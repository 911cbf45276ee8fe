#include "settings/Form2_win.h"

#include "about/SFrm_About_win.h"
#include "common/AppProperties_win.h"
#include "common/Dialog_win.h"
#include "common/MessageLoop_win.h"
#include "resource.h"

#include <array>

namespace lumora {
namespace {

constexpr wchar_t kClassName[] = L"LumoraForm2";

constexpr int kClientWidth = 6495;
constexpr int kClientHeight = 1095;

constexpr int kLabel1Id = 1201;

constexpr TwipsRect kLabel1Rect{120, 240, 3135, 255};
constexpr TwipsRect kCmdOKRect{5160, 120, 1215, 375};
constexpr TwipsRect kCmdCancelRect{5160, 600, 1215, 375};

HWND CreateChild(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
    return ::CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

bool Form2::Load() {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    // Until Layout sets the window's own icons; the system picks the small
    // class icon from the same resource.
    wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    if (!RegisterClassOnce(wc)) return false;
    // A fixed single border, the close box and no minimise or maximise box;
    // owning nothing and owned by nothing, it has its taskbar button.
    HMENU menu = ::LoadMenuW(instance, MAKEINTRESOURCEW(IDR_MENU_FORM2));
    if (!CreateWindowFor(WS_EX_CONTROLPARENT | WS_EX_APPWINDOW, kClassName, L"設定",
                         WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, 0, 0, 0, 0, nullptr, menu)) {
        if (menu) ::DestroyMenu(menu);
        return false;
    }
    HWND self = hwnd();

    // Created in tab order.
    Cmd_OK_ = CreateChild(self, L"BUTTON", L"ＯＫ", WS_TABSTOP | BS_DEFPUSHBUTTON | BS_NOTIFY, IDOK);
    Cmd_Cancel_ = CreateChild(self, L"BUTTON", L"キャンセル", WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, IDCANCEL);
    Label1_ = CreateChild(self, L"STATIC", L"設定項目はございません。", SS_LEFT | SS_NOPREFIX, kLabel1Id);
    focus_.Remember(Cmd_OK_);

    Layout(DpiOf(self));
    Form_Load();
    return true;
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

void Form2::Layout(UINT dpi) {
    const std::array<ControlPlace, 3> places{{
        {Cmd_OK_, kCmdOKRect},
        {Cmd_Cancel_, kCmdCancelRect},
        {Label1_, kLabel1Rect},
    }};
    PlaceControls(places, dpi);
    UniqueFont font = CreateMessageFont(dpi);
    SetFontOf(places, font.get());
    font_ = std::move(font);

    // The window icon in both sizes the system draws at this DPI.
    UniqueIcon big = LoadIconOfSize(IDI_APP, SystemIconSize(SM_CXICON, dpi));
    UniqueIcon small = LoadIconOfSize(IDI_APP, SystemIconSize(SM_CXSMICON, dpi));
    ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
    ::SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
    bigIcon_ = std::move(big);
    smallIcon_ = std::move(small);

    SizeForClient(hwnd(), TwipsToPixels(kClientWidth, dpi), TwipsToPixels(kClientHeight, dpi));
}

LRESULT Form2::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    if (const auto handled = focus_.Handle(hwnd(), msg, wp)) return *handled;
    switch (msg) {
    case WM_COMMAND:
        // Menu choices come with no control handle; IsDialogMessage sends
        // IDOK for Enter and IDCANCEL for Escape.
        if (lp == 0 && HIWORD(wp) == 0 && LOWORD(wp) == IDM_MENU_VERSION) {
            MENU_Version_Click();
            return 0;
        }
        if (HIWORD(wp) == BN_CLICKED && LOWORD(wp) == IDOK) {
            Cmd_OK_Click();
            return 0;
        }
        if (HIWORD(wp) == BN_CLICKED && LOWORD(wp) == IDCANCEL) {
            Cmd_Cancel_Click();
            return 0;
        }
        return 0;
    case WM_CLOSE:
        // The About box is modal: its owner does not go away under it.
        if (aboutOpen_) return 0;
        break;
    case WM_DPICHANGED:
        Layout(FollowDpiChange(hwnd(), wp, lp));
        return 0;
    case WM_DESTROY:
        // The close box unloads the only window, and with it the process.
        ::PostQuitMessage(0);
        return 0;
    }
    return Window::HandleMessage(msg, wp, lp);
}

}  // namespace lumora
