#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace lumora {

// What the About box reads about the program.
struct AboutSource {
    std::wstring_view title;
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t revision = 0;
    std::wstring_view companyName;
    std::wstring_view legalCopyright;
};

// Every text the About box shows, computed afresh each time it opens.
struct AboutTexts {
    std::wstring caption;
    std::wstring version;
    std::wstring title;
    std::wstring companyName;
    std::wstring legalCopyright;
};

inline constexpr std::wstring_view kAboutCaptionSuffix = L"のﾊﾞｰｼﾞｮﾝ情報";
inline constexpr std::wstring_view kVersionPrefix = L"ﾊﾞｰｼﾞｮﾝ ";

// "ﾊﾞｰｼﾞｮﾝ 1.0.0": plain decimal numbers, no leading zeros.
std::wstring VersionText(std::uint16_t major, std::uint16_t minor, std::uint16_t revision);

// Each pair of ASCII blanks, left to right and without overlap, becomes CR LF.
std::wstring CopyrightText(std::wstring_view legalCopyright);

AboutTexts ComputeAboutTexts(const AboutSource& source);

}  // namespace lumora
