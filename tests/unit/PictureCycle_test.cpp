#include "saver/PictureCycle.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumora {
namespace {

TEST(PictureFileName, PutsExactlyOneBackslashBeforeTheName) {
    const struct {
        const wchar_t* folder;
        std::int16_t picNo;
        const wchar_t* name;
    } cases[] = {
        {L"C:\\Windows\\System32", 1, L"C:\\Windows\\System32\\KORVA001.DAT"},
        {L"C:\\", 1, L"C:\\KORVA001.DAT"},
        {L"D:\\Savers\\", 7, L"D:\\Savers\\KORVA007.DAT"},
        {L"\\\\server\\share", 50, L"\\\\server\\share\\KORVA050.DAT"},
        {L"C:\\Program Files\\Lumora", 10, L"C:\\Program Files\\Lumora\\KORVA010.DAT"},
        {L"C:\\ピクチャ", 23, L"C:\\ピクチャ\\KORVA023.DAT"},
        {L"", 2, L"\\KORVA002.DAT"},
    };
    for (const auto& c : cases) EXPECT_EQ(PictureFileName(c.folder, c.picNo), c.name) << c.folder;
}

TEST(PictureFileName, WritesAtLeastThreeDigits) {
    EXPECT_EQ(PictureFileName(L"C:\\x", 9), L"C:\\x\\KORVA009.DAT");
    EXPECT_EQ(PictureFileName(L"C:\\x", 99), L"C:\\x\\KORVA099.DAT");
    EXPECT_EQ(PictureFileName(L"C:\\x", 100), L"C:\\x\\KORVA100.DAT");
    EXPECT_EQ(PictureFileName(L"C:\\x", 1234), L"C:\\x\\KORVA1234.DAT");
}

TEST(NextPicNo, WrapsFromTheLastPictureToTheFirst) {
    EXPECT_EQ(NextPicNo(1, 50), 2);
    EXPECT_EQ(NextPicNo(49, 50), 50);
    EXPECT_EQ(NextPicNo(50, 50), 1);
    EXPECT_EQ(NextPicNo(32767, 32767), 1);
}

TEST(NextPicNo, AFullCycleVisitsEveryPictureOnceInOrder) {
    std::vector<std::wstring> shown;
    std::int16_t picNo = 1;
    for (int i = 0; i < 52; ++i) {
        shown.push_back(PictureFileName(L"C:\\Lumora", picNo));
        picNo = NextPicNo(picNo, 50);
    }
    EXPECT_EQ(shown.front(), L"C:\\Lumora\\KORVA001.DAT");
    EXPECT_EQ(shown[49], L"C:\\Lumora\\KORVA050.DAT");
    EXPECT_EQ(shown[50], L"C:\\Lumora\\KORVA001.DAT");
    EXPECT_EQ(shown[51], L"C:\\Lumora\\KORVA002.DAT");
}

}  // namespace
}  // namespace lumora
