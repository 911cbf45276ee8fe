#pragma once
// The one way a picture is prepared: from opening its file to fitted,
// upright 32-bit pixels in the display's colours. It reads and decodes untrusted files, so it runs
// only in the picture helper process, never in the saver.
#include "common/PictureChannel.h"
#include "picture/ByteReader.h"

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumora {

// Where the fitted pixels go: top-down rows of width * 4 bytes, premultiplied
// B, G, R, A, so that read as plain B, G, R they show transparency over black.
struct PixelBuffer {
    std::uint8_t* bits = nullptr;
    std::size_t bytes = 0;
};

struct PreparedPicture {
    ReplyKind kind = ReplyKind::NotAPicture;  // Picture, NotAPicture, Unchanged or Cancelled
    PixelRect rect;                           // where the pixels go in the client area (Picture only)
    FileStamp stamp;                          // the file as it was opened
};

// The first step of a preparation that failed, and its code.
struct StepFailure {
    HelperStep step{};
    HRESULT code = S_OK;
    bool Note(HelperStep failed, HRESULT hr);  // keeps the first; returns false
};

// What a helper can do, found by preparing its test picture.
struct HelperReadiness {
    std::uint32_t abilities = 0;  // HelperAbility bits; none: unable
    HelperStep failedStep{};
    std::uint32_t failureCode = 0;
};

// Asked between the steps of a preparation: true when its result is no
// longer wanted, so the work stops early.
using CancelCheck = std::function<bool()>;

class PictureLoader {
public:
    // Creates the imaging factory in the calling thread's apartment; a
    // failure when the imaging component is not available at all.
    HRESULT Init();
    // The display's colour profile, which pictures with a colour space of
    // their own are converted into; empty: sRGB.
    void SetDisplayProfile(std::vector<std::uint8_t> profile) { displayProfile_ = std::move(profile); }

    // Opens the file (recognising the format from its content whatever its
    // name) and tells `opened` its stamp. With `known` equal to that stamp it
    // answers Unchanged at once. Otherwise it refuses the file by what its
    // headers declare or, for formats the header reader does not know, by its
    // frame's size, then decodes it scaled to its place in a client area of
    // `client`, turned upright, into `out`. No file stays open afterwards.
    PreparedPicture Prepare(const std::wstring& path, ClientSize client, const std::optional<FileStamp>& known,
                            PixelBuffer out, const CancelCheck& cancelled,
                            const std::function<void(const FileStamp&)>& opened) const;

    // Prepares the picture built into the program, a few dozen bytes, through
    // the same path as any file's, into `out`, and checks what comes out.
    HelperReadiness TestItself(PixelBuffer out) const;

private:
    PreparedPicture Decode(const ByteSource& source, ClientSize client, PixelBuffer out, const CancelCheck& cancelled,
                           StepFailure& failure) const;

    Microsoft::WRL::ComPtr<IWICImagingFactory> factory_;
    std::vector<std::uint8_t> displayProfile_;
};

}  // namespace lumora
