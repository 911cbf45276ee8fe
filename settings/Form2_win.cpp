#include "settings/Form2_win.h"

#include "common/AppProperties_win.h"
#include "resource.h"

namespace lumora {
namespace {
constexpr wchar_t kClassName[] = L"LumoraForm2";
}

bool Form2::Load() {
    WNDCLASSEXW wc{};
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    wc.hIcon = ::LoadIconW(wc.hInstance, MAKEINTRESOURCEW(IDI_APP));
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    if (!RegisterClassOnce(wc)) return false;
    if (!CreateWindowFor(WS_EX_CONTROLPARENT, kClassName, L"設定", WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                         CW_USEDEFAULT, 440, 120, nullptr, nullptr))
        return false;
    Form_Load();
    return true;
}

void Form2::Show() { ::ShowWindow(hwnd(), SW_SHOW); }

void Form2::Form_Load() { ::SetWindowTextW(hwnd(), App().title.c_str()); }

LRESULT Form2::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return Window::HandleMessage(msg, wp, lp);
}

}  // namespace lumora
