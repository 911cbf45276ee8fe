#include "common/AppFolder.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

TEST(AppFolderFromModulePath, KeepsTheBackslashOnlyAtADriveRoot) {
    const struct {
        const wchar_t* path;
        const wchar_t* folder;
    } cases[] = {
        {L"C:\\Windows\\System32\\Lumora.scr", L"C:\\Windows\\System32"},
        {L"C:\\Lumora.scr", L"C:\\"},
        {L"D:\\LUMORA~1.SCR", L"D:\\"},
        {L"\\\\server\\share\\savers\\Lumora.scr", L"\\\\server\\share\\savers"},
        {L"C:\\Program Files\\Lumora\\Lumora.scr", L"C:\\Program Files\\Lumora"},
        {L"Lumora.scr", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(AppFolderFromModulePath(c.path), c.folder) << c.path;
}

}  // namespace
}  // namespace lumora
