#include "picture/ColourTransform_win.h"

#include "common/UniqueHandle_win.h"
#include "picture/ColourGrid.h"

#include <icm.h>
#include <wrl/client.h>

#include <algorithm>
#include <iterator>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace lumora {
namespace {

void CloseProfile(HPROFILE profile) noexcept { ::CloseColorProfile(profile); }
void DeleteTransform(HTRANSFORM transform) noexcept { ::DeleteColorTransform(transform); }
using UniqueProfile = UniqueHandle<HPROFILE, CloseProfile>;
using UniqueTransform = UniqueHandle<HTRANSFORM, DeleteTransform>;

// The bytes must outlive the handle.
UniqueProfile OpenProfile(ByteView bytes) {
    PROFILE profile{PROFILE_MEMBUFFER, const_cast<std::uint8_t*>(bytes.data()), static_cast<DWORD>(bytes.size())};
    return UniqueProfile(::OpenColorProfileW(&profile, PROFILE_READ, FILE_SHARE_READ, OPEN_EXISTING));
}

PixelModel ModelOf(IWICBitmapFrameDecode* frame) {
    static const GUID kCmyk[] = {GUID_WICPixelFormat32bppCMYK, GUID_WICPixelFormat64bppCMYK,
                                 GUID_WICPixelFormat40bppCMYKAlpha, GUID_WICPixelFormat80bppCMYKAlpha};
    static const GUID kGrey[] = {GUID_WICPixelFormatBlackWhite, GUID_WICPixelFormat2bppGray,
                                 GUID_WICPixelFormat4bppGray,   GUID_WICPixelFormat8bppGray,
                                 GUID_WICPixelFormat16bppGray,  GUID_WICPixelFormat16bppGrayFixedPoint,
                                 GUID_WICPixelFormat32bppGrayFloat, GUID_WICPixelFormat32bppGrayFixedPoint};
    WICPixelFormatGUID format{};
    if (FAILED(frame->GetPixelFormat(&format))) return PixelModel::Grey;  // nothing to convert
    if (std::find(std::begin(kCmyk), std::end(kCmyk), format) != std::end(kCmyk)) return PixelModel::Cmyk;
    if (std::find(std::begin(kGrey), std::end(kGrey), format) != std::end(kGrey)) return PixelModel::Grey;
    return PixelModel::Rgb;
}

void ReadContexts(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, ColourFacts& facts) {
    UINT count = 0;
    if (FAILED(frame->GetColorContexts(0, nullptr, &count)) || count == 0 || count > 16) return;
    std::vector<ComPtr<IWICColorContext>> contexts(count);
    std::vector<IWICColorContext*> raw;
    for (auto& context : contexts) {
        if (FAILED(factory->CreateColorContext(&context))) return;
        raw.push_back(context.Get());
    }
    if (FAILED(frame->GetColorContexts(count, raw.data(), &count))) return;
    for (UINT i = 0; i < count && i < raw.size(); ++i) {
        WICColorContextType type{};
        if (FAILED(raw[i]->GetType(&type))) continue;
        UINT size = 0, exif = 0;
        if (type == WICColorContextExifColorSpace && SUCCEEDED(raw[i]->GetExifColorSpace(&exif))) {
            facts.contextColourSpace = exif;
        } else if (type == WICColorContextProfile && SUCCEEDED(raw[i]->GetProfileBytes(0, nullptr, &size)) &&
                   size > 0 && size <= kMaxProfileBytes) {
            std::vector<std::uint8_t> bytes(size);
            if (SUCCEEDED(raw[i]->GetProfileBytes(size, bytes.data(), &size)) && size <= bytes.size()) {
                bytes.resize(size);
                facts.profiles.push_back(std::move(bytes));
            }
        }
    }
}

}  // namespace

ColourFacts ReadColourFacts(IWICImagingFactory* factory, IWICBitmapDecoder* decoder, IWICBitmapFrameDecode* frame,
                            const ByteSource& file) {
    ColourFacts facts;
    facts.pixels = ModelOf(frame);
    GUID container{};
    if (FAILED(decoder->GetContainerFormat(&container))) return facts;
    const bool jpeg = container == GUID_ContainerFormatJpeg;
    // A JPEG's profile is read from its APP2 chunks here: not every JPEG
    // decoder offers it as a colour context (Wine's offers none).
    if (jpeg) {
        if (auto profile = JpegIccProfile(file); !profile.empty()) facts.profiles.push_back(std::move(profile));
    } else {
        ReadContexts(factory, frame, facts);
    }
    // EXIF is read from the file too, as the orientation is.
    if (jpeg || container == GUID_ContainerFormatTiff) {
        const ExifColour exif = ReadExifColour(file);
        facts.exifColourSpace = exif.colourSpace;
        facts.interopIndex = exif.interopIndex;
    }
    return facts;
}

bool ToDisplayColours(const SourceColour& source, ByteView target, BYTE* pixels, UINT width, UINT height,
                      UINT stride) {
    if (source.from == SourceColour::From::Nothing) return true;
    if (!pixels || width == 0 || height == 0 || stride / 4 < width) return false;
    const ByteView display = ChooseTarget(target);
    const UniqueProfile from = OpenProfile(source.profile), to = OpenProfile(display);
    if (!from || !to) return false;
    HPROFILE profiles[] = {from.get(), to.get()};
    DWORD intent = INTENT_PERCEPTUAL;
    const UniqueTransform transform(
        ::CreateMultiProfileTransform(profiles, 2, &intent, 1, NORMAL_MODE, INDEX_DONT_CARE));
    if (!transform) return false;
    // The grid's colours as one row of pixels in the picture's layout: for
    // RGB, B,G,R,x is what ICM calls xRGB quads (a DWORD 0x00RRGGBB); CMYK's
    // C,M,Y,K bytes are its KYMC quads (0xKKYYMMCC). A grey profile takes
    // grey bytes, one a pixel: the 256 levels, read back from the pixels'
    // equal B, G and R.
    ColourGrid grid(source.cmyk ? 4 : source.grey ? 1 : 3);
    std::vector<std::uint8_t> in = grid.Inputs();
    const auto count = static_cast<DWORD>(source.grey ? in.size() : in.size() / 4);
    std::vector<std::uint8_t> out(std::size_t{count} * 4);
    const BMFORMAT format = source.cmyk ? BM_KYMCQUADS : source.grey ? BM_GRAY : BM_xRGBQUADS;
    if (!::TranslateBitmapBits(transform.get(), in.data(), format, count, 1, static_cast<DWORD>(in.size()), out.data(),
                               BM_xRGBQUADS, count * 4, nullptr, 0) ||
        !grid.SetOutputs(out))
        return false;
    grid.Apply(pixels, width, height, stride);
    return true;
}

}  // namespace lumora
