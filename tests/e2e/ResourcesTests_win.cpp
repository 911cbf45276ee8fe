// The executable's resources as Windows and Explorer read them.
#include "resource.h"
#include "tools/driver/Driver_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumora::e2e {
namespace {

TEST(Resources, VersionRecord) {
    VersionRecord record(ScrPath());
    ASSERT_TRUE(record.ok());
    const VS_FIXEDFILEINFO* fixed = record.Fixed();
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);

    EXPECT_EQ(record.Translations(), std::vector<DWORD>{MAKELONG(0x0411, 1200)});
    EXPECT_EQ(record.String(L"FileVersion"), L"1.00");
    EXPECT_EQ(record.String(L"ProductVersion"), L"1.00");
    EXPECT_EQ(record.String(L"ProductName"), L"Lumora");
    EXPECT_EQ(record.String(L"InternalName"), L"Lumora");
    EXPECT_EQ(record.String(L"OriginalFilename"), L"Lumora.scr");
    for (const wchar_t* absent : {L"FileDescription", L"Comments", L"LegalTrademarks"})
        EXPECT_FALSE(record.String(absent).has_value()) << WideToUtf8(absent);
    // As resources/Lumora.rc writes them, with no double blank to break the About box's line.
    EXPECT_EQ(record.String(L"CompanyName"), L"Lumora Project");
    EXPECT_EQ(record.String(L"LegalCopyright"), L"Copyright (C) 2026 Lumora Project");
}

struct IconDirEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};

TEST(Resources, BothIconsHoldSixSizes16ColoursUpTo32PixelsPngAt256) {
    const UniqueModule scr(::LoadLibraryExW(ScrPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(scr);
    // Size and bits per pixel, in the order make_icons.py writes them: 16
    // colours up to 32 px, 32-bit with alpha above.
    const std::vector<std::pair<int, int>> expected{{16, 4}, {24, 4}, {32, 4}, {48, 32}, {64, 32}, {256, 32}};
    for (int id : {IDI_APP, IDI_FORM1}) {
        SCOPED_TRACE(id);
        HRSRC group = ::FindResourceW(scr.get(), MAKEINTRESOURCEW(id), RT_GROUP_ICON);
        ASSERT_NE(group, nullptr);
        const auto* data = static_cast<const BYTE*>(::LockResource(::LoadResource(scr.get(), group)));
        ASSERT_NE(data, nullptr);
        std::vector<std::pair<int, int>> images;
        for (WORD i = 0, count = *reinterpret_cast<const WORD*>(data + 4); i < count; ++i) {
            IconDirEntry e;
            std::memcpy(&e, data + 6 + i * 14, 14);
            EXPECT_EQ(e.height, e.width);
            EXPECT_EQ(e.colourCount, e.bitCount == 4 ? 16 : 0);
            const int size = e.width == 0 ? 256 : e.width;  // 256 is written as 0
            images.emplace_back(size, e.bitCount);
            if (size != 256) continue;
            HRSRC image = ::FindResourceW(scr.get(), MAKEINTRESOURCEW(e.id), RT_ICON);
            ASSERT_NE(image, nullptr);
            const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(scr.get(), image)));
            ASSERT_NE(bytes, nullptr);
            EXPECT_EQ(std::string(bytes, 8), std::string("\x89PNG\r\n\x1a\n", 8));
        }
        EXPECT_EQ(images, expected);
    }
}

TEST(Resources, ManifestAsksForPerMonitorDpiCommonControls6AndNoElevation) {
    const UniqueModule scr(::LoadLibraryExW(ScrPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(scr);
    HRSRC res = ::FindResourceW(scr.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(res, nullptr);
    const auto* text = static_cast<const char*>(::LockResource(::LoadResource(scr.get(), res)));
    const std::string manifest(text, ::SizeofResource(scr.get(), res));
    for (const char* needle : {"PerMonitorV2", "true/pm", "Microsoft.Windows.Common-Controls", "version=\"6.0.0.0\"",
                               "level=\"asInvoker\"", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                               "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(manifest.find(needle), std::string::npos) << needle;
}

TEST(Resources, TitleStringIsTheSaverNameWindowsLists) {
    const UniqueModule scr(::LoadLibraryExW(ScrPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(scr);
    wchar_t title[64] = {};
    EXPECT_GT(::LoadStringW(scr.get(), IDS_APP_TITLE, title, 64), 0);
    EXPECT_STREQ(title, L"Lumora");
}

}  // namespace
}  // namespace lumora::e2e
