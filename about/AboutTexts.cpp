#include "about/AboutTexts.h"

namespace lumora {

std::wstring VersionText(std::uint16_t major, std::uint16_t minor, std::uint16_t revision) {
    std::wstring text(kVersionPrefix);
    text += std::to_wstring(major);
    text += L'.';
    text += std::to_wstring(minor);
    text += L'.';
    text += std::to_wstring(revision);
    return text;
}

std::wstring CopyrightText(std::wstring_view legalCopyright) {
    std::wstring text;
    text.reserve(legalCopyright.size());
    for (size_t i = 0; i < legalCopyright.size(); ++i) {
        if (legalCopyright[i] == L' ' && i + 1 < legalCopyright.size() && legalCopyright[i + 1] == L' ') {
            text += L"\r\n";
            ++i;
        } else {
            text += legalCopyright[i];
        }
    }
    return text;
}

AboutTexts ComputeAboutTexts(const AboutSource& source) {
    AboutTexts texts;
    texts.caption = std::wstring(source.title) + std::wstring(kAboutCaptionSuffix);
    texts.version = VersionText(source.major, source.minor, source.revision);
    texts.title = source.title;
    texts.companyName = source.companyName;
    texts.legalCopyright = CopyrightText(source.legalCopyright);
    return texts;
}

}  // namespace lumora
