#include "picture/PictureLoader_win.h"

#include "common/AppFolder.h"
#include "common/UniqueHandle_win.h"
#include "common/Wow64_win.h"
#include "picture/ColourTransform_win.h"
#include "picture/Fitting.h"
#include "picture/Orientation.h"
#include "picture/PictureHeader.h"
#include "picture/PictureStream_win.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
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

// The helper's test picture: 4 x 4 pixels of one colour, a PNG that every
// imaging component decodes. Fitted into 2 x 2 it must come out as 2 x 2
// pixels of that colour (premultiplied B, G, R, A).
constexpr std::uint8_t kTestPng[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00,
    0x04, 0x00, 0x00, 0x00, 0x04, 0x08, 0x02, 0x00, 0x00, 0x00, 0x26, 0x93, 0x09, 0x29, 0x00, 0x00, 0x00, 0x10, 0x49,
    0x44, 0x41, 0x54, 0x78, 0xDA, 0x63, 0x70, 0x68, 0x38, 0x00, 0x47, 0x0C, 0xC4, 0x71, 0x00, 0x68, 0x52, 0x18, 0x01,
    0x86, 0x2C, 0x9A, 0xF2, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
constexpr ClientSize kTestClient{2, 2};
constexpr std::uint8_t kTestBgra[4] = {0xC0, 0x80, 0x40, 0xFF};

bool Cancelled(const CancelCheck& cancelled) { return cancelled && cancelled(); }

FileStamp StampOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    return FileStamp{true, (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
                     (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) | info.ftLastWriteTime.dwLowDateTime};
}

// Step: scale to the fitted size, right after the frame: on Windows the
// scaler then lets a JPEG decoder decode at a reduced size.
ComPtr<IWICBitmapSource> ScaleTo(IWICImagingFactory* factory, IWICBitmapSource* source, UINT width, UINT height,
                                 StepFailure& failure) {
    UINT w = 0, h = 0;
    HRESULT hr = source->GetSize(&w, &h);
    if (FAILED(hr)) return failure.Note(HelperStep::TestScale, hr), nullptr;
    if (w == width && h == height) return source;
    ComPtr<IWICBitmapScaler> scaler;
    if (FAILED(hr = factory->CreateBitmapScaler(&scaler)) ||
        (FAILED(scaler->Initialize(source, width, height, kHighQualityCubic)) &&
         FAILED(hr = scaler->Initialize(source, width, height, WICBitmapInterpolationModeFant))))
        return failure.Note(HelperStep::TestScale, hr), nullptr;
    return scaler;
}

// Step: 32-bit pixels of `format`, the fitted size only: premultiplied
// B, G, R, A, which, read as plain B, G, R, show transparency over black; or
// C, M, Y, K for a conversion through the picture's own CMYK profile.
ComPtr<IWICBitmapSource> To32Bit(IWICImagingFactory* factory, IWICBitmapSource* source, const GUID& format,
                                 StepFailure& failure) {
    // Already there: not every converter (Wine's) can produce every format,
    // CMYK among them, even from itself.
    WICPixelFormatGUID now{};
    if (SUCCEEDED(source->GetPixelFormat(&now)) && now == format) return source;
    ComPtr<IWICFormatConverter> converter;
    HRESULT hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(source, format, WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) return failure.Note(HelperStep::TestConvert, hr), nullptr;
    return converter;
}

// Step: pull width x height pixels into `out`, band by band.
bool CopyInBands(IWICBitmapSource* source, UINT width, UINT height, std::uint8_t* out, const CancelCheck& cancelled,
                 StepFailure& failure) {
    const UINT stride = width * 4;
    for (UINT y = 0; y < height; y += kBandRows) {
        if (Cancelled(cancelled)) return false;
        const UINT rows = std::min(kBandRows, height - y);
        const WICRect band{0, static_cast<INT>(y), static_cast<INT>(width), static_cast<INT>(rows)};
        const HRESULT hr = source->CopyPixels(&band, stride, stride * rows, out + std::size_t{y} * stride);
        if (FAILED(hr)) return failure.Note(HelperStep::TestCopy, hr);
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
    // even while it is being read. A folder whose path is long is opened in
    // the extended-length form, which has no MAX_PATH limit.
    return UniqueFile(::CreateFileW(LongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

bool StepFailure::Note(HelperStep failed, HRESULT hr) {
    if (code == S_OK) {
        step = failed;
        code = FAILED(hr) ? hr : E_FAIL;
    }
    return false;
}

HRESULT PictureLoader::Init() {
    return ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory_));
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
    const FileSource source(file.get());
    StepFailure ignored;
    const PreparedPicture decoded = Decode(source, client, out, cancelled, ignored);
    result.kind = decoded.kind;
    result.rect = decoded.rect;
    return result;
}

HelperReadiness PictureLoader::TestItself(PixelBuffer out) const {
    if (!factory_) return {0, HelperStep::ImagingFactory, static_cast<std::uint32_t>(E_NOINTERFACE)};
    const MemorySource source(kTestPng);
    StepFailure failure;
    const PreparedPicture decoded = Decode(source, kTestClient, out, nullptr, failure);
    if (decoded.kind != ReplyKind::Picture)
        return {0, failure.code ? failure.step : HelperStep::TestPixels,
                static_cast<std::uint32_t>(failure.code ? failure.code : E_FAIL)};
    const bool right = decoded.rect == PixelRect{0, 0, kTestClient.width, kTestClient.height} &&
                       out.bytes >= 16 && [&] {
                           for (int i = 0; i < 16; ++i)
                               if (std::abs(out.bits[i] - kTestBgra[i % 4]) > 2) return false;
                           return true;
                       }();
    if (!right) return {0, HelperStep::TestPixels, static_cast<std::uint32_t>(E_FAIL)};
    // Lumora's own Adobe RGB into sRGB, one pixel: without a working colour
    // module, pictures still show, as stored.
    std::uint8_t pixel[4] = {0x80, 0x80, 0x80, 0xFF};
    const bool colours = ToDisplayColours(SourceColour{SourceColour::From::ExifAdobeRgb, AdobeRgbProfile(), false}, {},
                                          pixel, 1, 1, 4);
    return {kAbleToDecode | (colours ? kAbleToConvertColours : 0u), HelperStep{}, 0};
}

// Every picture, the test picture included, takes this one path: refused by
// its headers, decoded, scaled, turned upright and converted into `out`.
PreparedPicture PictureLoader::Decode(const ByteSource& source, ClientSize client, PixelBuffer out,
                                      const CancelCheck& cancelled, StepFailure& failure) const {
    PreparedPicture result;
    // Whatever stops it from here on, a cancelled preparation says so.
    const auto fail = [&] {
        if (Cancelled(cancelled)) result.kind = ReplyKind::Cancelled;
        return result;
    };

    // Refused by what its headers declare before any decoder sees it.
    if (RefusedByHeader(ReadDeclaredSize(source))) return result;
    const int orientation = NormalisedOrientation(ExifOrientation(source));
    if (Cancelled(cancelled)) return fail();

    ComPtr<IStream> stream;
    stream.Attach(new SourceStream(source));
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    UINT storedW = 0, storedH = 0;
    HRESULT hr = factory_->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
    if (FAILED(hr)) return failure.Note(HelperStep::TestDecoder, hr), fail();
    if (FAILED(hr = decoder->GetFrame(0, &frame)) || FAILED(hr = frame->GetSize(&storedW, &storedH)))
        return failure.Note(HelperStep::TestFrame, hr), fail();
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
        ComPtr<IWICBitmapSource> pixels = ScaleTo(factory_.Get(), frame.Get(), fitW, fitH, failure);
        if (pixels) pixels = To32Bit(factory_.Get(), pixels.Get(), format, failure);
        if (!pixels) return false;
        if (orientation == 1) return CopyInBands(pixels.Get(), width, height, out.bits, cancelled, failure);
        std::vector<std::uint32_t> stored(std::size_t{fitW} * fitH);
        if (!CopyInBands(pixels.Get(), fitW, fitH, reinterpret_cast<std::uint8_t*>(stored.data()), cancelled, failure))
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
