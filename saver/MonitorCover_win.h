#pragma once
#include "common/Window_win.h"
#include "saver/MonitorLayout.h"

#include <memory>
#include <vector>

namespace lumora {

// A black, borderless, topmost window over one monitor besides the main one,
// so that the whole desktop goes dark. It shows nothing of its own: every key,
// button and movement on it goes to the slideshow window, which decides.
class MonitorCover : public Window<MonitorCover> {
public:
    ~MonitorCover() override;

    // Creates the cover hidden over `rect` (screen coordinates); input goes to `slideshow`.
    bool Create(const PixelRect& rect, HWND slideshow);
    void Show();
    void MakeTopmost();

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    HWND slideshow_ = nullptr;
};

// Every monitor but the main one (`main`, screen coordinates), each with a cover.
std::vector<std::unique_ptr<MonitorCover>> CoverOtherMonitors(const PixelRect& main, HWND slideshow);

}  // namespace lumora
