#pragma once
// The base of the settings dialog and the About box. They are plain windows,
// not dialog templates, so that they can be laid out in twips at the window's
// own DPI; the base gives them what a dialog has: the dialog font, the default
// push button, the focus, and a modal loop. Tab, Enter, Escape and the access
// keys come from the message loop (WS_EX_CONTROLPARENT).
#include "common/UniqueHandle_win.h"
#include "common/Window_win.h"

#include <windows.h>

#include <optional>
#include <span>
#include <vector>

namespace lumora {

// Left, top, width and height in twips, 1440 to the inch.
struct TwipsRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// A font by face name and size, for a control that does not use the dialog font.
struct PointFont {
    const wchar_t* face;
    int points;
    bool bold;
    BYTE charset;
};

// One row of a dialog's control table.
struct ControlPlace {
    HWND hwnd;
    TwipsRect twips;
    const PointFont* font = nullptr;  // the dialog font when null
    int icon = 0;                     // an icon control: the icon it shows, at the control's size
};

// The window a dialog lives in.
struct DialogFrame {
    const wchar_t* className;
    const wchar_t* caption;
    DWORD style;
    DWORD exStyle;
    int clientWidth;   // twips
    int clientHeight;  // twips
    int icon = 0;      // the caption's icon; none when 0
    int menu = 0;      // the menu bar; none when 0
};

// GetDpiForWindow where the system has it, the screen's DPI before that.
UINT DpiOf(HWND hwnd);

// 15 twips to the pixel at 96 DPI, rounded to the nearest pixel.
int TwipsToPixels(int twips, UINT dpi);

// Centres the window over `over`'s window rectangle, or on its monitor's work
// area when `over` is null, and keeps it inside that work area.
void CenterWindow(HWND hwnd, HWND over);

// Moves the window to where WM_DPICHANGED suggests; returns the new DPI.
UINT FollowDpiChange(HWND hwnd, WPARAM wp, LPARAM lp);

// Shows `dialog` over `owner`, which takes no input meanwhile, with the focus
// on `focus`, and runs the thread's messages until `ended` is set or the
// dialog is gone. A WM_QUIT on the way is posted again for the outer loop.
void RunModal(HWND dialog, HWND owner, HWND focus, const bool& ended);

// Lays out a dialog at one DPI: places the controls, gives them their fonts
// and icons and sizes the window to its client area. Holds the fonts and
// icons while the controls use them.
class DialogLayout {
public:
    void Apply(HWND window, const DialogFrame& frame, std::span<const ControlPlace> controls, UINT dpi);
    UINT dpi() const noexcept { return dpi_; }

private:
    UINT dpi_ = 96;
    UniqueFont font_;
    std::vector<UniqueFont> pointFonts_;
    std::vector<UniqueIcon> icons_;
};

// The focus side of a dialog: the focused push button is the default, OK
// otherwise, and the focus goes back where it was when the window is
// activated again.
class DialogFocus {
public:
    void Remember(HWND control) noexcept { lastFocus_ = control; }
    HWND Remembered() const noexcept { return lastFocus_; }
    // Handles DM_GETDEFID, WM_ACTIVATE, WM_SETFOCUS and the push buttons'
    // focus notifications; empty for every other message.
    std::optional<LRESULT> Handle(HWND window, UINT msg, WPARAM wp);

private:
    HWND lastFocus_ = nullptr;
};

// The window class of a dialog with that frame.
WNDCLASSEXW DialogClass(const DialogFrame& frame);

// A dialog window class. Derived, with this base as its friend, supplies:
//   void CreateControls();                       its controls, in tab order
//   std::array<ControlPlace, N> Controls() const;  where they sit
//   void Form_Load();                            runs once the window is laid out
//   std::optional<LRESULT> OnMessage(UINT, WPARAM, LPARAM);  empty: the default
template <typename Derived>
class Dialog : public Window<Derived> {
public:
    // Creates the window hidden with its controls, lays it out and runs Form_Load.
    bool Load(HWND owner = nullptr);
    // Loads a fresh dialog, shows it over `owner` and returns once it is
    // closed; `owner` takes no input meanwhile.
    void ShowModal(HWND owner);

protected:
    explicit Dialog(const DialogFrame& frame) : frame_(frame) {}

    // A visible control; as in a dialog, the first tab stop has the focus first.
    HWND CreateChild(const wchar_t* cls, const wchar_t* text, DWORD style, int id);
    // Ends ShowModal's loop.
    void EndModal() noexcept { modalEnded_ = true; }
    UINT dpi() const noexcept { return layout_.dpi(); }

    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) final;

private:
    Derived& self() noexcept { return static_cast<Derived&>(*this); }
    void Layout(UINT dpi) { layout_.Apply(this->hwnd(), frame_, self().Controls(), dpi); }

    DialogFrame frame_;
    DialogLayout layout_;
    DialogFocus focus_;
    bool modalEnded_ = false;
};

template <typename Derived>
bool Dialog<Derived>::Load(HWND owner) {
    if (!this->RegisterClassOnce(DialogClass(frame_))) return false;
    UniqueMenu menu(frame_.menu ? ::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(frame_.menu)) : nullptr);
    if (!this->CreateWindowFor(frame_.exStyle, frame_.className, frame_.caption, frame_.style, 0, 0, 0, 0, owner,
                               menu.get()))
        return false;
    menu.release();  // the window's own now
    self().CreateControls();
    Layout(DpiOf(this->hwnd()));
    self().Form_Load();
    return true;
}

template <typename Derived>
void Dialog<Derived>::ShowModal(HWND owner) {
    if (!Load(owner)) return;
    RunModal(this->hwnd(), owner, focus_.Remembered(), modalEnded_);
    if (this->hwnd()) ::DestroyWindow(this->hwnd());
}

template <typename Derived>
HWND Dialog<Derived>::CreateChild(const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
    HWND child = ::CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, this->hwnd(),
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                                   nullptr);
    if ((style & WS_TABSTOP) && !focus_.Remembered()) focus_.Remember(child);
    return child;
}

template <typename Derived>
LRESULT Dialog<Derived>::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    if (const auto handled = focus_.Handle(this->hwnd(), msg, wp)) return *handled;
    if (msg == WM_DPICHANGED) {
        Layout(FollowDpiChange(this->hwnd(), wp, lp));
        return 0;
    }
    if (const auto handled = self().OnMessage(msg, wp, lp)) return *handled;
    return Window<Derived>::HandleMessage(msg, wp, lp);
}

}  // namespace lumora
