#pragma once
// The numbers in a photo mean colours only in its colour space: an embedded
// ICC profile (JPEG APP2, PNG iCCP, TIFF's ICC tag) or, for camera photos,
// EXIF's colour space. Shown as stored, a Display P3 or Adobe RGB photo looks
// dull on an ordinary screen and a CMYK one comes out in the wrong colours.
// Here: which colour space a picture is converted from and to, what a profile
// must look like before it is trusted, and the two small profiles Lumora
// builds itself (sRGB, Adobe RGB) so that it depends on no file a system may lack.
#include "common/PictureChannel.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumora {

class ByteSource;
using ByteView = std::span<const std::uint8_t>;

// What the decoded pixels of a frame are made of.
enum class PixelModel { Rgb, Cmyk, Grey };

// What a frame says about its colours, as read from the file.
struct ColourFacts {
    PixelModel pixels = PixelModel::Rgb;
    std::vector<std::vector<std::uint8_t>> profiles;  // embedded ICC profiles, in the order offered
    // EXIF ColorSpace (0xA001): 1 sRGB, 0xFFFF uncalibrated; and the
    // interoperability index (0x0001): "R98" sRGB, "R03" Adobe RGB.
    std::optional<std::uint32_t> exifColourSpace;
    std::string interopIndex;
    // The imaging component's own reading of EXIF (an EXIF colour context):
    // 1 sRGB, 2 Adobe RGB.
    std::optional<std::uint32_t> contextColourSpace;
};

// The colour space to convert a picture's pixels from.
struct SourceColour {
    enum class From {
        Nothing,          // shown as stored: sRGB, untagged, or a profile not to be trusted
        EmbeddedProfile,  // the picture's own profile
        ExifAdobeRgb,     // EXIF says Adobe RGB: Lumora's own Adobe RGB profile
    };
    From from = From::Nothing;
    std::vector<std::uint8_t> profile;  // what to convert from, unless Nothing
    bool cmyk = false;                  // the pixels and the profile are CMYK
    bool grey = false;                  // the pixels and the profile are grey
};

SourceColour ChooseSource(const ColourFacts& facts);

// The profile to convert to: the display's own when it is a usable RGB
// profile, else sRGB. Refers to `display` or to Lumora's sRGB profile.
ByteView ChooseTarget(ByteView display);

// ICC signatures, as four characters read big-endian.
constexpr std::uint32_t Signature(const char (&s)[5]) {
    return std::uint32_t(std::uint8_t(s[0])) << 24 | std::uint32_t(std::uint8_t(s[1])) << 16 |
           std::uint32_t(std::uint8_t(s[2])) << 8 | std::uint8_t(s[3]);
}

struct ProfileHeader {
    std::uint32_t size = 0;  // the profile's own length: what follows it is not part of it
    std::uint32_t deviceClass = 0;
    std::uint32_t dataSpace = 0;
    std::uint32_t connectionSpace = 0;
};

// The header of a profile fit to convert pixels with: long enough for what it
// declares, the 'acsp' mark, a device class that describes pixels (input,
// display, output or colour space; no device links, abstract or named-colour
// profiles), XYZ or Lab as its connection space, and a tag table whose every
// entry lies inside the profile. Nothing otherwise.
std::optional<ProfileHeader> ReadProfileHeader(ByteView profile);

// True for a matrix/curve RGB profile whose colorants and tone curves are
// sRGB's (within rounding): converting from it would change nothing.
bool DescribesSrgb(ByteView profile);

// Lumora's own matrix/curve display profiles (ICC version 2.1), built from
// the published primaries, white point and tone curves.
const std::vector<std::uint8_t>& SrgbProfile();
const std::vector<std::uint8_t>& AdobeRgbProfile();

// A JPEG file's ICC profile, put together from its APP2 chunks (empty when
// there is none or a chunk is missing or doubled)...
std::vector<std::uint8_t> JpegIccProfile(const ByteSource& file);

// ... and the colour fields of a JPEG's or a TIFF's EXIF block.
struct ExifColour {
    std::optional<std::uint32_t> colourSpace;
    std::string interopIndex;
};
ExifColour ReadExifColour(const ByteSource& file);

}  // namespace lumora
