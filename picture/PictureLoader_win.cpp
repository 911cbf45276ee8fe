#include "picture/PictureLoader_win.h"

#include "common/UniqueHandle_win.h"
#include "common/Wow64_win.h"
#include "picture/ColourTransform_win.h"
#include "picture/Orientation.h"
#include "picture/PictureHeader.h"
#include "picture/Fitting.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace lumora {
namespace {

// Not in MinGW's headers (Windows 10 and later); older systems refuse it and
// get Fant instead.
constexpr auto kHighQualityCubic = static_cast<WICBitmapInterpolationMode>(4);

// Rows of the fitted picture pulled through the pipeline at a time, so that a
// scaler that buffers the source rows behind the rows asked for (Wine's does)
// holds a band's worth, not the whole picture.
constexpr UINT kBandRows = 32;

bool Cancelled(const CancelCheck& cancelled) { return cancelled && cancelled(); }

FileStamp StampOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    return FileStamp{true, (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
                     (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) | info.ftLastWriteTime.dwLowDateTime};
}

// The header readers' view of the open file: reads at an offset, no mapping.
class FileSource final : public ByteSource {
public:
    explicit FileSource(HANDLE file) : file_(file) {
        LARGE_INTEGER size{};
        if (::GetFileSizeEx(file, &size)) size_ = static_cast<std::uint64_t>(size.QuadPart);
    }
    std::uint64_t Size() const override { return size_; }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
        std::size_t filled = 0;
        while (filled < out.size() && offset + filled < size_) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset + filled);
            at.OffsetHigh = static_cast<DWORD>((offset + filled) >> 32);
            DWORD read = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(out.size() - filled, 1 << 20));
            if (!::ReadFile(file_, out.data() + filled, chunk, &read, &at) || read == 0) break;
            filled += read;
        }
        return filled;
    }

private:
    HANDLE file_;
    std::uint64_t size_ = 0;
};

// The decoders read the file through this, on demand, from the one handle the
// preparation opened: a mapped view of the whole file (what the imaging
// component offers for a handle) would put all of it into memory at once.
class FileStream final : public IStream {
public:
    explicit FileStream(HANDLE file) : file_(file) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
            *out = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override {
        DWORD done = 0;
        if (!::ReadFile(file_, buffer, size, &done, nullptr)) return HRESULT_FROM_WIN32(::GetLastError());
        if (read) *read = done;
        return done == size ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        // STREAM_SEEK_SET, _CUR and _END are FILE_BEGIN, _CURRENT and _END.
        LARGE_INTEGER now{};
        if (origin > STREAM_SEEK_END || !::SetFilePointerEx(file_, move, &now, origin))
            return STG_E_INVALIDFUNCTION;
        if (position) position->QuadPart = static_cast<ULONGLONG>(now.QuadPart);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        LARGE_INTEGER size{};
        if (!stat || !::GetFileSizeEx(file_, &size)) return STG_E_INVALIDPOINTER;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = static_cast<ULONGLONG>(size.QuadPart);
        stat->grfMode = STGM_READ;
        return S_OK;
    }
    // Read-only and not shared.
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }

private:
    ~FileStream() = default;

    HANDLE file_;  // owned by the preparation, which outlives every decoder
    std::atomic<ULONG> references_{1};
};

// Step: scale to the fitted size, right after the frame: on Windows the
// scaler then lets a JPEG decoder decode at a reduced size.
ComPtr<IWICBitmapSource> ScaleTo(IWICImagingFactory* factory, IWICBitmapSource* source, UINT width, UINT height) {
    UINT w = 0, h = 0;
    if (FAILED(source->GetSize(&w, &h))) return nullptr;
    if (w == width && h == height) return source;
    ComPtr<IWICBitmapScaler> scaler;
    if (FAILED(factory->CreateBitmapScaler(&scaler))) return nullptr;
    if (FAILED(scaler->Initialize(source, width, height, kHighQualityCubic)) &&
        FAILED(scaler->Initialize(source, width, height, WICBitmapInterpolationModeFant)))
        return nullptr;
    return scaler;
}

// Step: 32-bit pixels of `format`, the fitted size only: premultiplied
// B, G, R, A, which, read as plain B, G, R, show transparency over black; or
// C, M, Y, K for a conversion through the picture's own CMYK profile.
ComPtr<IWICBitmapSource> To32Bit(IWICImagingFactory* factory, IWICBitmapSource* source, const GUID& format) {
    // Already there: not every converter (Wine's) can produce every format,
    // CMYK among them, even from itself.
    WICPixelFormatGUID now{};
    if (SUCCEEDED(source->GetPixelFormat(&now)) && now == format) return source;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(source, format, WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom)))
        return nullptr;
    return converter;
}

// Step: pull width x height pixels into `out`, band by band.
bool CopyInBands(IWICBitmapSource* source, UINT width, UINT height, std::uint8_t* out, const CancelCheck& cancelled) {
    const UINT stride = width * 4;
    for (UINT y = 0; y < height; y += kBandRows) {
        if (Cancelled(cancelled)) return false;
        const UINT rows = std::min(kBandRows, height - y);
        const WICRect band{0, static_cast<INT>(y), static_cast<INT>(width), static_cast<INT>(rows)};
        if (FAILED(source->CopyPixels(&band, stride, stride * rows, out + std::size_t{y} * stride))) return false;
    }
    return true;
}

// Step: turn the fitted pixels, stored w x h, upright into `out`. Done here
// rather than by the imaging component's flip-rotator, which not every
// implementation can turn with (Wine's only flips top to bottom).
void TurnUpright(const std::vector<std::uint32_t>& stored, UINT w, UINT h, OrientationSteps steps, UINT width,
                 std::uint8_t* out) {
    auto* pixels = reinterpret_cast<std::uint32_t*>(out);
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x) {
            const PixelPoint p = PresentedPosition(steps, w, h, {x, y});
            pixels[static_cast<std::size_t>(p.y) * width + static_cast<std::size_t>(p.x)] =
                stored[std::size_t{y} * w + x];
        }
}

// A 32-bit build installed in System32 runs from the real System32, and its
// pictures lie there, not in SysWOW64. Only the file calls themselves go
// unredirected: the decoders' own DLLs must still load from the right folder.
UniqueFile OpenPicture(const std::wstring& path) {
    [[maybe_unused]] const Wow64FsRedirectionOff native;
    // Shared every way, so that the user may replace or delete the picture
    // even while it is being read.
    return UniqueFile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

bool PictureLoader::Init() {
    return SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(&factory_)));
}

PreparedPicture PictureLoader::Prepare(const std::wstring& path, ClientSize client,
                                       const std::optional<FileStamp>& known, PixelBuffer out,
                                       const CancelCheck& cancelled,
                                       const std::function<void(const FileStamp&)>& opened) const {
    PreparedPicture result;
    const UniqueFile file = OpenPicture(path);
    // Missing, a folder, or locked: no stamp of a file, and not a picture.
    if (file) result.stamp = StampOf(file.get());
    if (opened) opened(result.stamp);
    if (known && *known == result.stamp) {
        result.kind = ReplyKind::Unchanged;
        return result;
    }
    if (!file || !result.stamp.present || !factory_) return result;
    // Whatever stops it from here on, a cancelled preparation says so.
    const auto fail = [&] {
        if (Cancelled(cancelled)) result.kind = ReplyKind::Cancelled;
        return result;
    };

    // Refused by what its headers declare before any decoder sees it.
    const FileSource source(file.get());
    if (RefusedByHeader(ReadDeclaredSize(source))) return result;
    const int orientation = NormalisedOrientation(ExifOrientation(source));
    if (Cancelled(cancelled)) return fail();

    LARGE_INTEGER start{};
    ComPtr<IStream> stream;
    stream.Attach(new FileStream(file.get()));
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    UINT storedW = 0, storedH = 0;
    if (!::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) ||
        FAILED(factory_->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetSize(&storedW, &storedH)))
        return fail();
    // Formats whose headers the reader does not know are held to the budget here.
    if (std::uint64_t{storedW} * storedH > kMaxPicturePixels) return result;
    const bool swap = SwapsSides(orientation);
    const UINT naturalW = swap ? storedH : storedW, naturalH = swap ? storedW : storedH;
    const auto placement = FitPicture(static_cast<float>(client.width), static_cast<float>(client.height),
                                      static_cast<float>(naturalW), static_cast<float>(naturalH));
    if (!placement) return result;
    const PixelRect rect = ToPixelRect(*placement);
    const UINT width = static_cast<UINT>(rect.width()), height = static_cast<UINT>(rect.height());
    if (std::uint64_t{width} * height * 4 > out.bytes) return result;

    // Scaled as stored, then turned: a large photo is never turned at full size.
    const UINT fitW = swap ? height : width, fitH = swap ? width : height;
    const auto decodeInto = [&](const GUID& format) {
        ComPtr<IWICBitmapSource> pixels = ScaleTo(factory_.Get(), frame.Get(), fitW, fitH);
        if (pixels) pixels = To32Bit(factory_.Get(), pixels.Get(), format);
        if (!pixels) return false;
        if (orientation == 1) return CopyInBands(pixels.Get(), width, height, out.bits, cancelled);
        std::vector<std::uint32_t> stored(std::size_t{fitW} * fitH);
        if (!CopyInBands(pixels.Get(), fitW, fitH, reinterpret_cast<std::uint8_t*>(stored.data()), cancelled))
            return false;
        TurnUpright(stored, fitW, fitH, StepsFor(orientation), width, out.bits);
        return true;
    };
    // Converted after scaling, so a large photo costs no more than a small one.
    const SourceColour colour = ChooseSource(ReadColourFacts(factory_.Get(), decoder.Get(), frame.Get(), source));
    // A CMYK picture with a profile of its own goes through that profile; if
    // that fails, or without one, the imaging component makes it RGB, as any picture.
    bool done = colour.cmyk && decodeInto(GUID_WICPixelFormat32bppCMYK) &&
                ToDisplayColours(colour, displayProfile_, out.bits, width, height, width * 4);
    if (!done && !Cancelled(cancelled)) {
        done = decodeInto(GUID_WICPixelFormat32bppPBGRA);
        // Colours that cannot be converted show as stored; sRGB and untagged
        // pictures are left as they are, at no cost.
        if (done && !colour.cmyk) ToDisplayColours(colour, displayProfile_, out.bits, width, height, width * 4);
    }
    if (!done || Cancelled(cancelled)) return fail();
    result.kind = ReplyKind::Picture;
    result.rect = rect;
    return result;
}

}  // namespace lumora
