// Profiles come from picture files (and from the display's profile file)
// and are checked before the colour module sees them: any bytes at all must
// be read safely, as a profile, as a JPEG's first bytes and as EXIF.
#include "picture/ByteReader.h"
#include "picture/ColourSpace.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly the bytes given, so a read past their end is caught.
    const std::vector<std::uint8_t> bytes(data, data + size);
    const auto header = lumora::ReadProfileHeader(bytes);
    if (header) FUZZ_CHECK(header->size >= 132 && header->size <= size);
    // A profile is judged by its declared bytes alone.
    if (header && header->size < size)
        FUZZ_CHECK(lumora::ReadProfileHeader(lumora::ByteView(bytes).first(header->size)).has_value());
    const bool srgb = lumora::DescribesSrgb(bytes);
    if (srgb) FUZZ_CHECK(header && header->dataSpace == lumora::Signature("RGB "));

    for (const auto pixels : {lumora::PixelModel::Rgb, lumora::PixelModel::Cmyk, lumora::PixelModel::Grey}) {
        lumora::ColourFacts facts;
        facts.pixels = pixels;
        facts.profiles.push_back(bytes);
        const lumora::SourceColour s = lumora::ChooseSource(facts);
        FUZZ_CHECK(s.cmyk == (s.from != lumora::SourceColour::From::Nothing && pixels == lumora::PixelModel::Cmyk));
        FUZZ_CHECK(s.grey == (s.from != lumora::SourceColour::From::Nothing && pixels == lumora::PixelModel::Grey));
        FUZZ_CHECK(s.from != lumora::SourceColour::From::ExifAdobeRgb);
        if (s.from == lumora::SourceColour::From::EmbeddedProfile) {
            FUZZ_CHECK(header && !srgb);
            FUZZ_CHECK(header->dataSpace == lumora::Signature(pixels == lumora::PixelModel::Cmyk   ? "CMYK"
                                                              : pixels == lumora::PixelModel::Grey ? "GRAY"
                                                                                                   : "RGB "));
            FUZZ_CHECK(s.profile.size() == header->size && std::equal(s.profile.begin(), s.profile.end(), bytes.begin()));
        }
    }
    const lumora::ByteView target = lumora::ChooseTarget(bytes);
    FUZZ_CHECK(target.data() == bytes.data() || target.data() == lumora::SrgbProfile().data());

    // The same bytes as a JPEG's start: a profile put together from them is
    // never longer than the bytes themselves.
    const lumora::MemorySource file(bytes);
    const std::vector<std::uint8_t> profile = lumora::JpegIccProfile(file);
    FUZZ_CHECK(profile.size() <= size);
    // Or as a JPEG's or a TIFF's EXIF block.
    const lumora::ExifColour exif = lumora::ReadExifColour(file);
    FUZZ_CHECK(exif.interopIndex.size() <= 4);
    if (exif.colourSpace || !exif.interopIndex.empty())
        FUZZ_CHECK(size >= 8 && ((bytes[0] == 0xFF && bytes[1] == 0xD8) || bytes[0] == 'I' || bytes[0] == 'M'));
    return 0;
}
