#include "saver/Form1_win.h"

#include "resource.h"

namespace lumora {
namespace {
constexpr wchar_t kClassName[] = L"LumoraForm1";
}

bool Form1::Load() {
    WNDCLASSEXW wc{};
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    wc.hIcon = ::LoadIconW(wc.hInstance, MAKEINTRESOURCEW(IDI_FORM1));
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    if (!RegisterClassOnce(wc)) return false;
    if (!CreateWindowFor(WS_EX_TOOLWINDOW, kClassName, L"Form1", WS_POPUP, 0, 0,
                         ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr))
        return false;
    Form_Load();
    return true;
}

void Form1::Show() {
    ::ShowWindow(hwnd(), SW_SHOW);
    ::ShowWindow(hwnd(), SW_SHOWMAXIMIZED);
}

void Form1::Form_Load() {}

void Form1::Form_Unload() { ::ExitProcess(0); }

LRESULT Form1::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_CLOSE:
        Form_Unload();
        return 0;
    }
    return Window::HandleMessage(msg, wp, lp);
}

}  // namespace lumora
