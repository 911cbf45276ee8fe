#include "about/AboutTexts.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

struct CopyrightCase {
    std::wstring_view recorded;
    std::wstring_view shown;
};

class CopyrightTextTest : public ::testing::TestWithParam<CopyrightCase> {};

TEST_P(CopyrightTextTest, PairsOfBlanksBecomeLineBreaks) {
    EXPECT_EQ(CopyrightText(GetParam().recorded), GetParam().shown)
        << "recorded: " << ::testing::PrintToString(GetParam().recorded);
}

INSTANTIATE_TEST_SUITE_P(
    Blanks, CopyrightTextTest,
    ::testing::Values(CopyrightCase{L"", L""}, CopyrightCase{L"Copyright (C) 2026 Lumora Project", L"Copyright (C) 2026 Lumora Project"},
                      CopyrightCase{L"First.  Second.", L"First.\r\nSecond."},
                      CopyrightCase{L"First.   Second.", L"First.\r\n Second."},
                      CopyrightCase{L"First.    Second.", L"First.\r\n\r\nSecond."},
                      CopyrightCase{L"First.     Second.", L"First.\r\n\r\n Second."},
                      CopyrightCase{L"  ", L"\r\n"}, CopyrightCase{L" ", L" "},
                      CopyrightCase{L"end  ", L"end\r\n"}, CopyrightCase{L"  start", L"\r\nstart"},
                      CopyrightCase{L"a  b  c", L"a\r\nb\r\nc"},
                      // Only ASCII blanks count: tabs and ideographic spaces stay.
                      CopyrightCase{L"a\t\tb", L"a\t\tb"}, CopyrightCase{L"a\u3000\u3000b", L"a\u3000\u3000b"},
                      CopyrightCase{L"a \u3000 b", L"a \u3000 b"},
                      CopyrightCase{L"著作権  ルモラ", L"著作権\r\nルモラ"}));

struct VersionCase {
    std::uint16_t major, minor, revision;
    std::wstring_view shown;
};

class VersionTextTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionTextTest, DecimalWithoutLeadingZeros) {
    const auto& c = GetParam();
    EXPECT_EQ(VersionText(c.major, c.minor, c.revision), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Numbers, VersionTextTest,
                         ::testing::Values(VersionCase{1, 0, 0, L"ﾊﾞｰｼﾞｮﾝ 1.0.0"},
                                           VersionCase{2, 15, 7, L"ﾊﾞｰｼﾞｮﾝ 2.15.7"},
                                           VersionCase{0, 0, 0, L"ﾊﾞｰｼﾞｮﾝ 0.0.0"},
                                           VersionCase{10, 1, 100, L"ﾊﾞｰｼﾞｮﾝ 10.1.100"},
                                           // The numbers are unsigned 16-bit: no minus sign at the top.
                                           VersionCase{65535, 32768, 65535, L"ﾊﾞｰｼﾞｮﾝ 65535.32768.65535"}));

TEST(ComputeAboutTexts, FillsEveryTextFromTheProgramsRecord) {
    const struct {
        const char* what;
        AboutSource source;
        AboutTexts want;  // caption, version, title, company, copyright
    } cases[] = {
        {"the program's own record",
         {L"Lumora", 1, 0, 0, L"Lumora Project", L"Copyright (C) 2026 Lumora Project.  All rights reserved."},
         {L"Lumoraのﾊﾞｰｼﾞｮﾝ情報", L"ﾊﾞｰｼﾞｮﾝ 1.0.0", L"Lumora", L"Lumora Project",
          L"Copyright (C) 2026 Lumora Project.\r\nAll rights reserved."}},
        {"an empty record leaves its labels empty",
         {L"Lumora", 1, 0, 0, L"", L""},
         {L"Lumoraのﾊﾞｰｼﾞｮﾝ情報", L"ﾊﾞｰｼﾞｮﾝ 1.0.0", L"Lumora", L"", L""}},
        // The double blank rule is for the copyright line only.
        {"the company name unchanged", {L"T", 1, 0, 0, L"A  B", L"C"}, {L"Tのﾊﾞｰｼﾞｮﾝ情報", L"ﾊﾞｰｼﾞｮﾝ 1.0.0", L"T", L"A  B", L"C"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const AboutTexts texts = ComputeAboutTexts(c.source);
        EXPECT_EQ(texts.caption, c.want.caption);
        EXPECT_EQ(texts.version, c.want.version);
        EXPECT_EQ(texts.title, c.want.title);
        EXPECT_EQ(texts.companyName, c.want.companyName);
        EXPECT_EQ(texts.legalCopyright, c.want.legalCopyright);
    }
}

}  // namespace
}  // namespace lumora
