#pragma once
// Shared by the settings dialog and the About box: twips laid out at the
// window's DPI, the dialog font, icons at that DPI, centring, and the default
// push button of a plain window that gets its dialog keys from IsDialogMessage.
#include "common/UniqueHandle_win.h"

#include <windows.h>

#include <optional>
#include <span>

namespace lumora {

// Left, top, width and height in twips, 1440 to the inch.
struct TwipsRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct ControlPlace {
    HWND hwnd;
    TwipsRect twips;
};

// GetDpiForWindow where the system has it, the screen's DPI before that.
UINT DpiOf(HWND hwnd);

// 15 twips to the pixel at 96 DPI, rounded to the nearest pixel.
int TwipsToPixels(int twips, UINT dpi);
RECT ToPixels(const TwipsRect& twips, UINT dpi);

// The system's message font at that DPI: it has the glyphs for Japanese.
UniqueFont CreateMessageFont(UINT dpi);

// A font by face name, point size and character set at that DPI.
UniqueFont CreatePointFont(const wchar_t* face, int points, bool bold, BYTE charset, UINT dpi);

// The system's icon size at that DPI for SM_CXICON or SM_CXSMICON.
int SystemIconSize(int metric, UINT dpi);

// An icon of this program, `size` pixels square: the image of that size when
// the icon has one, so nothing is scaled.
UniqueIcon LoadIconOfSize(int id, int size);

void PlaceControls(std::span<const ControlPlace> places, UINT dpi);
void SetFontOf(std::span<const ControlPlace> places, HFONT font);

// Resizes the window, keeping its top-left corner, so its client area has this
// size in pixels (menu bar and borders at their actual sizes).
void SizeForClient(HWND hwnd, int clientWidth, int clientHeight);

// Moves the window to where WM_DPICHANGED suggests; returns the new DPI.
UINT FollowDpiChange(HWND hwnd, WPARAM wp, LPARAM lp);

// Centres the window over `over`'s window rectangle, or on its monitor's work
// area when `over` is null, and keeps it inside that work area.
void CenterWindow(HWND hwnd, HWND over);

// Dialog behaviour for windows that are not dialogs: the focused push button
// is the default, otherwise `fallbackId`.
int DefaultButtonId(HWND window, int fallbackId);
// Gives the default-button frame to the button DefaultButtonId names.
void UpdateDefaultButton(HWND window, int fallbackId);

// The focus side of a dialog for a plain window: the default push button
// follows the focus, and the focus goes back where it was when the window is
// activated again.
class DialogFocus {
public:
    explicit DialogFocus(int fallbackId) : fallbackId_(fallbackId) {}
    void Remember(HWND control) { lastFocus_ = control; }
    // Handles DM_GETDEFID, WM_ACTIVATE, WM_SETFOCUS and the push buttons'
    // focus notifications; empty for every other message.
    std::optional<LRESULT> Handle(HWND window, UINT msg, WPARAM wp);

private:
    int fallbackId_;
    HWND lastFocus_ = nullptr;
};

}  // namespace lumora
