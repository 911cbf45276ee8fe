#include "saver/PictureLoader_win.h"

#include <algorithm>
#include <cstddef>
#include <limits>

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

// Step: pull the pixels into a DIB section of exactly width x height.
UniqueBitmap CopyIntoDib(IWICBitmapSource* source, UINT width, UINT height) {
    const auto layout = Bgr32Layout(width, height);
    if (!layout || width > static_cast<UINT>(std::numeric_limits<LONG>::max()) ||
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
    // In bands, so a scaler that buffers the source rows behind the rows
    // asked for (Wine's does) holds a band's worth, not the whole picture.
    auto* out = static_cast<BYTE*>(bits);
    for (UINT y = 0; y < height; y += kBandRows) {
        const UINT rows = std::min(kBandRows, height - y);
        const WICRect band{0, static_cast<INT>(y), static_cast<INT>(width), static_cast<INT>(rows)};
        if (FAILED(source->CopyPixels(&band, layout->stride, layout->stride * rows, out + std::size_t{y} * layout->stride)))
            return {};
    }
    return dib;
}

}  // namespace

bool PictureLoader::Init() {
    return SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(&factory_)));
}

std::optional<PictureSource> PictureLoader::Open(const std::wstring& path) const {
    if (!factory_) return std::nullopt;
    PictureSource p;
    if (FAILED(factory_->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                   WICDecodeMetadataCacheOnDemand, &p.decoder)))
        return std::nullopt;
    if (FAILED(p.decoder->GetFrame(0, &p.frame))) return std::nullopt;
    if (FAILED(p.frame->GetSize(&p.width, &p.height))) return std::nullopt;
    if (std::uint64_t{p.width} * p.height > kMaxPicturePixels) return std::nullopt;
    return p;
}

UniqueBitmap PictureLoader::Decode(const PictureSource& p, UINT width, UINT height) const {
    if (!factory_ || !p.frame) return {};
    ComPtr<IWICBitmapSource> reduced =
        ReduceWhileDecoding(factory_.Get(), p.frame.Get(), p.width, p.height, width, height);
    if (!reduced) return {};
    // An opaque picture is scaled first and converted after, so only the
    // fitted size is ever converted and no full-size copy exists. With alpha,
    // premultiplying must come before any interpolation.
    if (!MayBeTransparent(factory_.Get(), reduced.Get())) {
        ComPtr<IWICBitmapSource> source = ScaleTo(factory_.Get(), reduced.Get(), width, height);
        if (source) source = To32Bit(factory_.Get(), source.Get(), GUID_WICPixelFormat32bppBGR);
        if (source) {
            if (UniqueBitmap dib = CopyIntoDib(source.Get(), width, height)) return dib;
        }
        // A scaler that cannot take this pixel format as it is gets it converted first.
    }
    ComPtr<IWICBitmapSource> source = To32Bit(factory_.Get(), reduced.Get(), GUID_WICPixelFormat32bppPBGRA);
    if (!source) return {};
    source = ScaleTo(factory_.Get(), source.Get(), width, height);
    if (!source) return {};
    return CopyIntoDib(source.Get(), width, height);
}

}  // namespace lumora
