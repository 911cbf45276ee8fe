// The copyright line comes from the version record, which anybody can edit
// with a resource tool; each pair of blanks becomes a line break.
#include "about/AboutTexts.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

// The rule worked out run by run: a run of n blanks gives n / 2 line breaks
// and, when n is odd, one blank after them.
std::wstring ExpectedCopyright(std::wstring_view in) {
    std::wstring out;
    std::size_t i = 0;
    while (i < in.size()) {
        if (in[i] != L' ') {
            out += in[i++];
            continue;
        }
        std::size_t run = 0;
        while (i < in.size() && in[i] == L' ') ++run, ++i;
        for (std::size_t k = 0; k < run / 2; ++k) out += L"\r\n";
        if (run % 2) out += L' ';
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lumora::fuzz::Input input(data, size);
    // Blanks are rare in random UTF-16: let the low byte 0xFF stand for one too.
    std::wstring line = input.RestAsUtf16();
    for (auto& c : line)
        if ((c & 0xFF) == 0xFF) c = L' ';

    const std::wstring text = lumora::CopyrightText(line);
    FUZZ_CHECK(text == ExpectedCopyright(line));
    // Two characters become two: the length never changes.
    FUZZ_CHECK(text.size() == line.size());
    // No pair of blanks is left over.
    FUZZ_CHECK(text.find(L"  ") == std::wstring::npos);
    // Only blanks change; everything else stays in place.
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != L' ') FUZZ_CHECK(text[i] == line[i]);
    }
    // A line without double blanks passes through untouched.
    if (line.find(L"  ") == std::wstring::npos) FUZZ_CHECK(text == line);

    // The whole About box copes with the same text in every field.
    lumora::AboutSource source;
    source.title = line;
    source.companyName = line;
    source.legalCopyright = line;
    source.major = input.Take<std::uint16_t>();
    const lumora::AboutTexts texts = lumora::ComputeAboutTexts(source);
    FUZZ_CHECK(texts.legalCopyright == text);
    FUZZ_CHECK(texts.companyName == line);
    FUZZ_CHECK(texts.caption == line + L"のﾊﾞｰｼﾞｮﾝ情報");
    return 0;
}
