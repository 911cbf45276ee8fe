#pragma once
// The one way a picture is prepared for the slideshow: from opening its file
// to the DIB section the window paints, fitted to the window and upright.
// Slow (it reads and decodes), so it runs on the picture worker, never on
// the window thread.
#include "common/UniqueHandle_win.h"
#include "saver/Fitting.h"
#include "saver/Slideshow.h"

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumora {

// A picture ready to paint: its pixels at their fitted size and where they go.
struct PreparedPicture {
    UniqueBitmap bitmap;
    PixelRect rect;
};

struct PreparedFile {
    FileStamp stamp;                         // the file as it was read
    std::optional<PreparedPicture> picture;  // empty: not a picture, or it cannot be placed
};

// Asked between the steps of a preparation: true when its result is no
// longer wanted, so the work stops early.
using CancelCheck = std::function<bool()>;

// The file's size and last write time as the file system reports them now.
FileStamp StampOf(const std::wstring& path);

class PictureLoader {
public:
    // Creates the imaging factory in the calling thread's apartment; false
    // when the imaging component is not available at all.
    bool Init();

    // Opens the file (recognising the format from its content whatever its
    // name), refuses it by its header's declared size or, for formats the
    // header reader does not know, by its frame's size, then decodes it
    // scaled to its place in a client area of `client` and turned upright.
    // No file stays open afterwards.
    PreparedFile Prepare(const std::wstring& path, ClientSize client, const CancelCheck& cancelled = {}) const;

    // The display's colour profile, which pictures with a colour space of
    // their own are converted into; empty: sRGB.
    void SetDisplayProfile(std::vector<std::uint8_t> profile) { displayProfile_ = std::move(profile); }

private:
    Microsoft::WRL::ComPtr<IWICImagingFactory> factory_;
    std::vector<std::uint8_t> displayProfile_;
};

}  // namespace lumora
