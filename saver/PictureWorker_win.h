#pragma once
// The slideshow's one background thread: it prepares pictures, one at a
// time, so that the window thread never waits for a file or a decoder and
// answers every key and click at once.
#include "saver/PictureLoader_win.h"
#include "saver/Slideshow.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

namespace lumora {

// What the worker hands back for a Show request.
struct PictureResult {
    std::uint32_t id = 0;                    // the request it answers
    std::optional<PreparedPicture> picture;  // empty: the picture cannot be shown
};

class PictureWorker {
public:
    // Starts the thread. Each result of a Show request is posted to `window`
    // as `message`, its lParam a PictureResult the window then owns (see
    // Receive). `displayProfile` names the display's colour profile (empty:
    // none); the thread reads it before its first picture.
    bool Start(HWND window, UINT message, std::wstring displayProfile = {});

    // The picture the screen waits for. A newer Show request supersedes an
    // older one, whose result, if it still comes, is dropped by the window.
    void Show(const PictureRequest& request, std::wstring path);
    // A picture to prepare ahead and keep until a Show asks for it; the worker
    // hands it out only while its file and the window's size are unchanged.
    void Ahead(const PictureRequest& request, std::wstring path);

    // Takes ownership of the result carried by a posted message.
    static std::unique_ptr<PictureResult> Receive(LPARAM lp);

private:
    struct Queue;
    static void Run(std::shared_ptr<Queue> queue, std::wstring displayProfile);

    // Shared with the thread, which may outlive this object: the process ends
    // without waiting for it.
    std::shared_ptr<Queue> queue_;
};

}  // namespace lumora
