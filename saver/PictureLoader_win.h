#pragma once
// Reads one picture file and scales it once, at its fitted size, into a DIB
// section the window keeps and paints from.
#include "common/UniqueHandle_win.h"

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdint>
#include <optional>
#include <string>

namespace lumora {

// Pictures larger than this in natural size (width x height) are treated as
// not a picture: a 250-megapixel decode already costs about 1 GB in most
// decoders, and no screen needs that much detail for a 10-second slide.
inline constexpr std::uint64_t kMaxPicturePixels = 250'000'000;

// An opened picture whose pixels have not been decoded yet.
struct PictureSource {
    Microsoft::WRL::ComPtr<IWICBitmapDecoder> decoder;
    Microsoft::WRL::ComPtr<IWICBitmapFrameDecode> frame;
    UINT width = 0;  // natural size as presented (upright), in pixels
    UINT height = 0;
    UINT storedWidth = 0;  // as the pixels are stored in the file
    UINT storedHeight = 0;
    int orientation = 1;  // EXIF orientation, 1..8
};

class PictureLoader {
public:
    // False when the imaging component is not available at all.
    bool Init();

    // Opens the file, recognising the format from its content whatever its
    // name, and reads the natural size of its first frame and its orientation.
    std::optional<PictureSource> Open(const std::wstring& path) const;

    // Decodes `source` scaled to width x height (presented, upright) into a
    // new top-down 32-bit DIB section; transparent parts come out over black.
    UniqueBitmap Decode(const PictureSource& source, UINT width, UINT height) const;

private:
    Microsoft::WRL::ComPtr<IWICImagingFactory> factory_;
};

}  // namespace lumora
