#include "saver/PictureLoader_win.h"

#include "common/Wow64_win.h"
#include "picture/ColourTransform_win.h"
#include "saver/Orientation.h"
#include "saver/PictureHeader.h"

#include <propidl.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <limits>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace lumora {
namespace {

// Not in MinGW's headers (Windows 10 and later); older systems refuse it and
// get Fant instead.
constexpr auto kHighQualityCubic = static_cast<WICBitmapInterpolationMode>(4);

// IWICBitmapSourceTransform, offered by decoders that can scale while they
// decode (JPEG on Windows); MinGW's headers lack it.
struct DECLSPEC_NOVTABLE BitmapSourceTransform : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT width, UINT height,
                                                 WICPixelFormatGUID* format, WICBitmapTransformOptions transform,
                                                 UINT stride, UINT bufferSize, BYTE* buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClosestSize(UINT* width, UINT* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClosestPixelFormat(WICPixelFormatGUID* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE DoesSupportTransform(WICBitmapTransformOptions transform, BOOL* supported) = 0;
};
constexpr IID kIidBitmapSourceTransform = {
    0x3b16811b, 0x6a43, 0x4ec9, {0xb7, 0x13, 0x3d, 0x5a, 0x0c, 0x13, 0xb9, 0x40}};

// Rows of the fitted picture pulled through the pipeline at a time.
constexpr UINT kBandRows = 32;

using UniqueFile = UniqueHandle<HANDLE, CloseKernelHandle, -1>;

// An opened picture whose pixels have not been decoded yet.
struct PictureSource {
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    UINT width = 0;  // natural size as presented (upright), in pixels
    UINT height = 0;
    UINT storedWidth = 0;  // as the pixels are stored in the file
    UINT storedHeight = 0;
    int orientation = 1;  // EXIF orientation, 1..8
    SourceColour colour;  // the colour space its pixels are in
};

bool Cancelled(const CancelCheck& cancelled) { return cancelled && cancelled(); }

// Row length and total size of a 32-bit image, or nothing when they do not fit
// the UINT that CopyPixels takes.
struct Layout {
    UINT stride;
    UINT size;
};
std::optional<Layout> Bgr32Layout(UINT width, UINT height) {
    const std::uint64_t stride = std::uint64_t{width} * 4;
    const std::uint64_t size = stride * height;
    if (width == 0 || height == 0 || size > std::numeric_limits<UINT>::max()) return std::nullopt;
    return Layout{static_cast<UINT>(stride), static_cast<UINT>(size)};
}

// Step: let the decoder itself scale down (by 1/2, 1/4, 1/8 for JPEG) to the
// nearest size at or above the wanted one, so a large photo never decodes in
// full. Returns the source unchanged when the decoder cannot.
ComPtr<IWICBitmapSource> ReduceWhileDecoding(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame,
                                             UINT naturalWidth, UINT naturalHeight, UINT width, UINT height) {
    ComPtr<IWICBitmapSource> unchanged(frame);
    ComPtr<BitmapSourceTransform> transform;
    if (FAILED(frame->QueryInterface(kIidBitmapSourceTransform, reinterpret_cast<void**>(transform.GetAddressOf()))))
        return unchanged;
    UINT w = width, h = height;
    if (FAILED(transform->GetClosestSize(&w, &h))) return unchanged;
    // Only a real reduction that keeps enough pixels for the fitted size helps.
    if (w < width || h < height || (w >= naturalWidth && h >= naturalHeight)) return unchanged;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
    if (FAILED(transform->GetClosestPixelFormat(&format)) || format != GUID_WICPixelFormat32bppBGR) return unchanged;

    const auto layout = Bgr32Layout(w, h);
    if (!layout) return unchanged;
    ComPtr<IWICBitmap> reduced;
    if (FAILED(factory->CreateBitmap(w, h, GUID_WICPixelFormat32bppBGR, WICBitmapCacheOnLoad, &reduced)))
        return unchanged;
    {
        ComPtr<IWICBitmapLock> lock;
        WICRect all{0, 0, static_cast<INT>(w), static_cast<INT>(h)};
        if (FAILED(reduced->Lock(&all, WICBitmapLockWrite, &lock))) return unchanged;
        UINT stride = 0, size = 0;
        BYTE* bits = nullptr;
        if (FAILED(lock->GetStride(&stride)) || FAILED(lock->GetDataPointer(&size, &bits))) return unchanged;
        if (stride < layout->stride || std::uint64_t{stride} * h > size) return unchanged;
        if (FAILED(transform->CopyPixels(nullptr, w, h, &format, WICBitmapTransformRotate0, stride, size, bits)))
            return unchanged;
    }
    return reduced;
}

// True when the pixel format can carry transparency (an alpha channel, or a
// palette that may hold transparent entries); unknown formats count as such.
bool MayBeTransparent(IWICImagingFactory* factory, IWICBitmapSource* source) {
    WICPixelFormatGUID format{};
    ComPtr<IWICComponentInfo> info;
    ComPtr<IWICPixelFormatInfo2> pixelInfo;
    BOOL transparent = TRUE;
    if (FAILED(source->GetPixelFormat(&format)) || FAILED(factory->CreateComponentInfo(format, &info)) ||
        FAILED(info.As(&pixelInfo)) || FAILED(pixelInfo->SupportsTransparency(&transparent)))
        return true;
    return transparent != FALSE;
}

// Step: convert to a 32-bit format. Premultiplied BGRA is what the scaler
// interpolates correctly and what, read as plain BGR, shows transparency over
// black; opaque pictures need only plain BGR.
ComPtr<IWICBitmapSource> To32Bit(IWICImagingFactory* factory, IWICBitmapSource* source, const GUID& format) {
    // Already there: some converters (Wine's) cannot produce every format,
    // CMYK among them, even from itself.
    WICPixelFormatGUID now{};
    if (SUCCEEDED(source->GetPixelFormat(&now)) && now == format) return source;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(&converter))) return nullptr;
    if (FAILED(converter->Initialize(source, format, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)))
        return nullptr;
    return converter;
}

// Step: scale to the fitted size.
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

// A top-down 32-bit DIB section of exactly width x height, and its bits.
UniqueBitmap NewDib(UINT width, UINT height, BYTE** bitsOut) {
    if (!Bgr32Layout(width, height) || width > static_cast<UINT>(std::numeric_limits<LONG>::max()) ||
        height > static_cast<UINT>(std::numeric_limits<LONG>::max()))
        return {};
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top row first, as WIC hands them out
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueBitmap dib(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dib || !bits) return {};
    *bitsOut = static_cast<BYTE*>(bits);
    return dib;
}

// Step: pull the pixels into a DIB section of exactly width x height.
UniqueBitmap CopyIntoDib(IWICBitmapSource* source, UINT width, UINT height, const CancelCheck& cancelled) {
    BYTE* out = nullptr;
    UniqueBitmap dib = NewDib(width, height, &out);
    if (!dib) return {};
    const UINT stride = width * 4;
    // In bands, so a scaler that buffers the source rows behind the rows
    // asked for (Wine's does) holds a band's worth, not the whole picture.
    for (UINT y = 0; y < height; y += kBandRows) {
        if (Cancelled(cancelled)) return {};
        const UINT rows = std::min(kBandRows, height - y);
        const WICRect band{0, static_cast<INT>(y), static_cast<INT>(width), static_cast<INT>(rows)};
        if (FAILED(source->CopyPixels(&band, stride, stride * rows, out + std::size_t{y} * stride))) return {};
    }
    return dib;
}

// Step: the picture's pixels held in memory, at the fitted size only, for
// steps that read them out of order. Filled in bands, like the DIB.
ComPtr<IWICBitmap> Materialise(IWICImagingFactory* factory, IWICBitmapSource* source, UINT width, UINT height,
                               const CancelCheck& cancelled) {
    const auto layout = Bgr32Layout(width, height);
    WICPixelFormatGUID format{};
    ComPtr<IWICBitmap> bitmap;
    if (!layout || FAILED(source->GetPixelFormat(&format)) ||
        FAILED(factory->CreateBitmap(width, height, format, WICBitmapCacheOnLoad, &bitmap)))
        return nullptr;
    ComPtr<IWICBitmapLock> lock;
    WICRect all{0, 0, static_cast<INT>(width), static_cast<INT>(height)};
    UINT stride = 0, size = 0;
    BYTE* bits = nullptr;
    if (FAILED(bitmap->Lock(&all, WICBitmapLockWrite, &lock)) || FAILED(lock->GetStride(&stride)) ||
        FAILED(lock->GetDataPointer(&size, &bits)) || stride < layout->stride || std::uint64_t{stride} * height > size)
        return nullptr;
    for (UINT y = 0; y < height; y += kBandRows) {
        if (Cancelled(cancelled)) return nullptr;
        const UINT rows = std::min(kBandRows, height - y);
        const WICRect band{0, static_cast<INT>(y), static_cast<INT>(width), static_cast<INT>(rows)};
        if (FAILED(source->CopyPixels(&band, stride, stride * rows, bits + std::size_t{y} * stride))) return nullptr;
    }
    return bitmap;
}

// Step: turn, then mirror, with the imaging component's flip-rotator, one
// step at a time so that each has its documented meaning.
ComPtr<IWICBitmapSource> TurnUpright(IWICImagingFactory* factory, IWICBitmapSource* still, OrientationSteps steps) {
    ComPtr<IWICBitmapSource> result(still);
    static constexpr WICBitmapTransformOptions kTurns[] = {WICBitmapTransformRotate0, WICBitmapTransformRotate90,
                                                           WICBitmapTransformRotate180, WICBitmapTransformRotate270};
    const int turns = steps.quarterTurnsClockwise & 3;
    for (const auto& [wanted, option] : {std::pair{turns != 0, kTurns[turns]},
                                        std::pair{steps.mirrorAfterTurning, WICBitmapTransformFlipHorizontal}}) {
        if (!wanted) continue;
        ComPtr<IWICBitmapFlipRotator> rotator;
        if (FAILED(factory->CreateBitmapFlipRotator(&rotator)) || FAILED(rotator->Initialize(result.Get(), option)))
            return nullptr;
        result = rotator;
    }
    return result;
}

// The same turn done by hand from the pixels in memory, for an imaging
// component whose flip-rotator cannot turn or mirror (Wine's only flips top
// to bottom).
UniqueBitmap TurnIntoDibByHand(IWICBitmap* still, OrientationSteps steps, UINT width, UINT height) {
    UINT w = 0, h = 0;
    if (FAILED(still->GetSize(&w, &h)) || std::uint64_t{w} * h != std::uint64_t{width} * height) return {};
    ComPtr<IWICBitmapLock> lock;
    WICRect all{0, 0, static_cast<INT>(w), static_cast<INT>(h)};
    UINT stride = 0, size = 0;
    BYTE* in = nullptr;
    if (FAILED(still->Lock(&all, WICBitmapLockRead, &lock)) || FAILED(lock->GetStride(&stride)) ||
        FAILED(lock->GetDataPointer(&size, &in)) || stride < w * 4 || std::uint64_t{stride} * h > size)
        return {};
    BYTE* out = nullptr;
    UniqueBitmap dib = NewDib(width, height, &out);
    if (!dib) return {};
    auto* pixels = reinterpret_cast<std::uint32_t*>(out);
    for (UINT y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(in + std::size_t{y} * stride);
        for (UINT x = 0; x < w; ++x) {
            const PixelPoint p = PresentedPosition(steps, w, h, {x, y});
            if (p.x < 0 || p.y < 0 || p.x >= width || p.y >= height) return {};
            pixels[static_cast<std::size_t>(p.y) * width + static_cast<std::size_t>(p.x)] = row[x];
        }
    }
    return dib;
}

// The file's first bytes, at most `limit`; the file position goes back to its start.
std::vector<std::uint8_t> FileStart(HANDLE file, std::size_t limit) {
    std::vector<std::uint8_t> bytes(limit);
    std::size_t filled = 0;
    while (filled < limit) {
        DWORD read = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(limit - filled, 1 << 16));
        if (!::ReadFile(file, bytes.data() + filled, chunk, &read, nullptr) || read == 0) break;
        filled += read;
    }
    bytes.resize(filled);
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) bytes.clear();
    return bytes;
}

FileStamp StampFrom(const FILETIME& written, DWORD sizeHigh, DWORD sizeLow) {
    return FileStamp{true, (std::uint64_t{sizeHigh} << 32) | sizeLow,
                     (std::uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime};
}

// A whole-number metadata value, whatever integer type the reader gives it.
std::optional<std::int64_t> MetadataInteger(IWICMetadataQueryReader* reader, const wchar_t* query) {
    PROPVARIANT value;
    ::PropVariantInit(&value);
    if (FAILED(reader->GetMetadataByName(query, &value))) return std::nullopt;
    std::optional<std::int64_t> result;
    switch (value.vt) {
    case VT_UI1: result = value.bVal; break;
    case VT_UI2: result = value.uiVal; break;
    case VT_UI4: result = value.ulVal; break;
    case VT_I2: result = value.iVal; break;
    case VT_I4: result = value.lVal; break;
    default: break;
    }
    ::PropVariantClear(&value);
    return result;
}

// The picture's EXIF orientation; anything missing or unreadable means as stored.
int ReadOrientation(IWICBitmapDecoder* decoder, IWICBitmapFrameDecode* frame, const std::vector<std::uint8_t>& start) {
    GUID container{};
    if (FAILED(decoder->GetContainerFormat(&container))) return 1;
    const bool jpeg = container == GUID_ContainerFormatJpeg;
    if (!jpeg && container != GUID_ContainerFormatTiff) return 1;
    ComPtr<IWICMetadataQueryReader> reader;
    if (SUCCEEDED(frame->GetMetadataQueryReader(&reader))) {
        if (const auto tag = MetadataInteger(reader.Get(), jpeg ? L"/app1/ifd/{ushort=274}" : L"/ifd/{ushort=274}"))
            return NormalisedOrientation(*tag);
    }
    if (!jpeg) return 1;
    // Some JPEG decoders expose no APP1 metadata at all (Wine's answers
    // WINCODEC_ERR_PROPERTYNOTFOUND): read the EXIF block from the file's
    // first bytes, where it must sit, ourselves.
    const auto tag = JpegExifOrientation(start.data(), start.size());
    return NormalisedOrientation(tag ? std::optional<std::int64_t>(*tag) : std::nullopt);
}

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

// Opens the picture on an open file, whatever its name says, and reads the
// natural size of its first frame and its orientation; nothing when it is not
// a picture or its frame alone is over the budget.
std::optional<PictureSource> Open(IWICImagingFactory* factory, HANDLE file, const std::vector<std::uint8_t>& start) {
    PictureSource p;
    ComPtr<IStream> stream;
    stream.Attach(new FileStream(file));
    if (FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &p.decoder)))
        return std::nullopt;
    if (FAILED(p.decoder->GetFrame(0, &p.frame))) return std::nullopt;
    if (FAILED(p.frame->GetSize(&p.storedWidth, &p.storedHeight))) return std::nullopt;
    // Formats whose header the reader does not know are held to the budget here.
    if (std::uint64_t{p.storedWidth} * p.storedHeight > kMaxPicturePixels) return std::nullopt;
    p.orientation = ReadOrientation(p.decoder.Get(), p.frame.Get(), start);
    // Colour hook 1: what the frame says about its colour space.
    p.colour = ChooseSource(ReadColourFacts(factory, p.decoder.Get(), p.frame.Get(), start));
    const bool swap = SwapsSides(p.orientation);
    p.width = swap ? p.storedHeight : p.storedWidth;
    p.height = swap ? p.storedWidth : p.storedHeight;
    return p;
}

// Decodes `p` scaled to width x height (presented, upright) into a new
// top-down 32-bit DIB section; transparent parts come out over black.
// `opaqueFormat` is what an opaque picture's pixels are converted to:
// 32bppBGR, or 32bppCMYK for a CMYK picture converted through its profile
// afterwards (nothing when the picture has transparency then).
UniqueBitmap Decode(IWICImagingFactory* factory, const PictureSource& p, UINT width, UINT height,
                    const GUID& opaqueFormat, const CancelCheck& cancelled) {
    // Everything up to the DIB works on the picture as stored; it is turned
    // upright only once scaled, so a large photo is never turned at full size.
    const bool swap = SwapsSides(p.orientation);
    const UINT storedW = swap ? height : width, storedH = swap ? width : height;
    const auto present = [&](IWICBitmapSource* scaled) -> UniqueBitmap {
        if (p.orientation == 1) return CopyIntoDib(scaled, width, height, cancelled);
        const ComPtr<IWICBitmap> still = Materialise(factory, scaled, storedW, storedH, cancelled);
        if (!still) return {};
        const OrientationSteps steps = StepsFor(p.orientation);
        if (const ComPtr<IWICBitmapSource> upright = TurnUpright(factory, still.Get(), steps)) {
            if (UniqueBitmap dib = CopyIntoDib(upright.Get(), width, height, cancelled)) return dib;
        }
        return TurnIntoDibByHand(still.Get(), steps, width, height);
    };

    ComPtr<IWICBitmapSource> reduced =
        ReduceWhileDecoding(factory, p.frame.Get(), p.storedWidth, p.storedHeight, storedW, storedH);
    if (!reduced || Cancelled(cancelled)) return {};
    // An opaque picture is scaled first and converted after, so only the
    // fitted size is ever converted and no full-size copy exists. With alpha,
    // premultiplying must come before any interpolation.
    if (!MayBeTransparent(factory, reduced.Get())) {
        ComPtr<IWICBitmapSource> source = ScaleTo(factory, reduced.Get(), storedW, storedH);
        if (source) source = To32Bit(factory, source.Get(), opaqueFormat);
        if (source) {
            if (UniqueBitmap dib = present(source.Get())) return dib;
        }
        if (Cancelled(cancelled)) return {};
        // A scaler that cannot take this pixel format as it is gets it converted first.
    }
    if (opaqueFormat != GUID_WICPixelFormat32bppBGR) return {};
    ComPtr<IWICBitmapSource> source = To32Bit(factory, reduced.Get(), GUID_WICPixelFormat32bppPBGRA);
    if (!source) return {};
    source = ScaleTo(factory, source.Get(), storedW, storedH);
    if (!source) return {};
    return present(source.Get());
}

// Colour hook 2: the fitted pixels converted from the picture's colour space
// into the display's, in place. False, the pixels untouched, when they cannot be.
bool ConvertColours(const UniqueBitmap& dib, const SourceColour& colour, ByteView display) {
    DIBSECTION section{};
    if (!dib || ::GetObjectW(dib.get(), sizeof(section), &section) != sizeof(section) || !section.dsBm.bmBits ||
        section.dsBm.bmWidth <= 0 || section.dsBm.bmHeight <= 0)
        return false;
    return ToDisplayColours(colour, display, static_cast<BYTE*>(section.dsBm.bmBits),
                            static_cast<UINT>(section.dsBm.bmWidth), static_cast<UINT>(section.dsBm.bmHeight),
                            static_cast<UINT>(section.dsBm.bmWidthBytes));
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

FileStamp StampOf(const std::wstring& path) {
    [[maybe_unused]] const Wow64FsRedirectionOff native;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    return StampFrom(data.ftLastWriteTime, data.nFileSizeHigh, data.nFileSizeLow);
}

bool PictureLoader::Init() {
    return SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(&factory_)));
}

PreparedFile PictureLoader::Prepare(const std::wstring& path, ClientSize client, const CancelCheck& cancelled) const {
    PreparedFile out;
    const UniqueFile file = OpenPicture(path);
    if (!file) {
        out.stamp = StampOf(path);
        return out;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file.get(), &info))
        out.stamp = StampFrom(info.ftLastWriteTime, info.nFileSizeHigh, info.nFileSizeLow);
    if (!factory_ || Cancelled(cancelled)) return out;

    // Refused by what its header declares before any decoder sees it: some
    // decoders decode the whole frame as soon as they are created.
    const std::vector<std::uint8_t> start = FileStart(file.get(), kHeaderPrefixBytes);
    if (start.empty() || RefusedByHeader(ReadDeclaredSize(start))) return out;

    const auto source = Open(factory_.Get(), file.get(), start);
    if (!source || Cancelled(cancelled)) return out;
    const auto placement = FitPicture(static_cast<float>(client.width), static_cast<float>(client.height),
                                      static_cast<float>(source->width), static_cast<float>(source->height));
    if (!placement) return out;
    const PixelRect rect = ToPixelRect(*placement);
    const UINT width = static_cast<UINT>(rect.width()), height = static_cast<UINT>(rect.height());
    UniqueBitmap bitmap;
    // Colour hook 3: a CMYK picture with its own profile is decoded as CMYK
    // and converted through that profile; if that fails, or without a
    // profile, it is decoded as any other picture (the imaging component's
    // own CMYK to RGB).
    if (source->colour.cmyk) {
        bitmap = Decode(factory_.Get(), *source, width, height, GUID_WICPixelFormat32bppCMYK, cancelled);
        if (!ConvertColours(bitmap, source->colour, displayProfile_)) bitmap.reset();
    }
    if (!bitmap && !Cancelled(cancelled)) {
        bitmap = Decode(factory_.Get(), *source, width, height, GUID_WICPixelFormat32bppBGR, cancelled);
        // A picture whose colours cannot be converted shows as stored; one
        // in sRGB, or without a colour space of its own, is left as it is.
        const bool own = source->colour.from != SourceColour::From::Nothing && !source->colour.cmyk;
        if (own && !Cancelled(cancelled)) ConvertColours(bitmap, source->colour, displayProfile_);
    }
    if (bitmap && !Cancelled(cancelled)) out.picture = PreparedPicture{std::move(bitmap), rect};
    return out;
}

}  // namespace lumora
