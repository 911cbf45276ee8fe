#pragma once
// The taskbars the slideshow hides, and gives back exactly as it found them.
#include <windows.h>

#include <vector>

namespace lumora {

class Taskbars {
public:
    // Hides every visible taskbar not hidden already: the main one (class
    // Shell_traywnd; only one with an empty title matches, as the name asked
    // for is "" and not null) and each other monitor's. Returns the main one,
    // null when there is none.
    HWND Hide();
    // Shows again every taskbar that Hide hid, and no other.
    void ShowHidden();

private:
    std::vector<HWND> hidden_;
};

}  // namespace lumora
