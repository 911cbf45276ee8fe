#pragma once
// The slideshow's one background thread: it has the picture helper prepare
// the pictures, one at a time, enforces the helper's budgets, and keeps the
// results until the window takes them, so that the window thread never waits
// for a file, a decoder or another process, and answers every key at once.
#include "common/UniqueHandle_win.h"
#include "saver/Slideshow.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace lumora {

// A picture ready to paint: its pixels at their fitted size and where they go.
struct ShownPicture {
    UniqueBitmap bitmap;
    PixelRect rect;
};

// What the worker hands back for a Show request.
struct PictureResult {
    std::uint32_t id = 0;                 // the request it answers
    std::optional<ShownPicture> picture;  // empty: the picture cannot be shown
};

class PictureWorker {
public:
    // Starts the thread, which starts the helper at once, its pixel area
    // sized for a client area of `size`; the pictures are those of `folder`,
    // their colours converted into the profile at `displayProfile` (empty:
    // sRGB), which the thread reads. Each result of a Show request is
    // announced to `window` by posting `message` with the request's id as
    // wParam (see Take).
    bool Start(HWND window, UINT message, std::wstring folder, ClientSize size, std::wstring displayProfile);

    // The picture the screen waits for. A newer Show request supersedes an
    // older one, whose result, if it still comes, is dropped by the window.
    void Show(const PictureRequest& request);
    // A picture to prepare ahead and keep until a Show asks for it; it is
    // handed out only while its file and the window's size are unchanged.
    void Ahead(const PictureRequest& request);

    // Once nothing is under way or asked for, ends the helper and drops the
    // picture prepared ahead, so that their memory goes back; the next
    // Show or Ahead starts a helper again. A request made since calls it off.
    void Rest();

    // The result of request `id`, if the worker has one for the window: a
    // message that names anything else (any program may post one) gets nothing.
    std::optional<PictureResult> Take(std::uint32_t id);

private:
    struct Shared;
    class Loop;
    static void Run(std::shared_ptr<Shared> shared);

    // Shared with the thread, which may outlive this object: the process ends
    // without waiting for it.
    std::shared_ptr<Shared> shared_;
};

}  // namespace lumora
