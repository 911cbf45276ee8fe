#pragma once
// Binds a C++ object to its HWND: the pointer travels in CREATESTRUCT, is kept
// in GWLP_USERDATA at full pointer width and is cleared again on WM_NCDESTROY,
// so no message after destruction reaches a dead object.
#include <windows.h>

namespace lumora {

template <typename Derived>
class Window {
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window() = default;

    HWND hwnd() const noexcept { return hwnd_; }

protected:
    // Registers the class once per process; `wc` needs only the fields that differ.
    static bool RegisterClassOnce(WNDCLASSEXW wc) {
        WNDCLASSEXW existing{};
        existing.cbSize = sizeof(existing);
        if (::GetClassInfoExW(wc.hInstance, wc.lpszClassName, &existing)) return true;
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &Window::WindowProc;
        return ::RegisterClassExW(&wc) != 0;
    }

    HWND CreateWindowFor(DWORD exStyle, const wchar_t* className, const wchar_t* caption,
                         DWORD style, int x, int y, int w, int h, HWND parent, HMENU menu) {
        return ::CreateWindowExW(exStyle, className, caption, style, x, y, w, h, parent, menu,
                                 ::GetModuleHandleW(nullptr), static_cast<Derived*>(this));
    }

    // Called for every message while the window exists.
    virtual LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
        return ::DefWindowProcW(hwnd_, msg, wp, lp);
    }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        // Through the base, so the derived handler may stay protected.
        Window* self = nullptr;
        if (msg == WM_NCCREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
            self = static_cast<Derived*>(cs->lpCreateParams);
            self->hwnd_ = hwnd;
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        } else {
            self = reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        }
        if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
        if (msg == WM_NCDESTROY) {
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            LRESULT r = self->HandleMessage(msg, wp, lp);
            self->hwnd_ = nullptr;
            return r;
        }
        return self->HandleMessage(msg, wp, lp);
    }

    HWND hwnd_ = nullptr;
};

}  // namespace lumora
