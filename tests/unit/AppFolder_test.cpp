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

TEST(LongPathForm, PrefixesOnlyFullPathsOfMaxPathOrMore) {
    const std::wstring tail(250, L'a');  // with "C:\\" and "\\x.DAT": 259 characters
    const struct {
        std::wstring path;
        std::wstring expected;
    } cases[] = {
        {L"C:\\" + tail + L"\\x.DAT", L"C:\\" + tail + L"\\x.DAT"},
        {L"C:\\" + tail + L"\\xy.DAT", L"\\\\?\\C:\\" + tail + L"\\xy.DAT"},
        {L"d:\\" + tail + L"\\xy.DAT", L"\\\\?\\d:\\" + tail + L"\\xy.DAT"},
        {L"\\\\server\\" + tail + L"\\x.DAT", L"\\\\?\\UNC\\server\\" + tail + L"\\x.DAT"},
        {L"\\\\?\\C:\\" + tail + L"\\xy.DAT", L"\\\\?\\C:\\" + tail + L"\\xy.DAT"},
        {L"\\\\.\\C:\\" + tail + L"\\xy.DAT", L"\\\\.\\C:\\" + tail + L"\\xy.DAT"},
        {L"relative\\" + tail + L"\\xy.DAT", L"relative\\" + tail + L"\\xy.DAT"},
        {L"C:" + tail + L"\\xyz.DAT", L"C:" + tail + L"\\xyz.DAT"},  // relative to the drive's folder
    };
    for (const auto& c : cases) EXPECT_EQ(LongPathForm(c.path), c.expected) << c.path.size() << " characters";
}

}  // namespace
}  // namespace lumora
