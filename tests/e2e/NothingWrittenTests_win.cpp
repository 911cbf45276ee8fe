// The saver only reads: no run mode writes a registry value or touches a file
// in the program folder. Wine itself records a few things for any program it
// starts; the keys that change for trivial outside programs too are measured
// first, left out, and printed.
#include "tools/driver/Lumora_win.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace lumora::e2e {
namespace {

std::string Join(const std::vector<std::wstring>& lines) {
    std::string text;
    for (const auto& line : lines) text += "\n  " + WideToUtf8(line);
    return text;
}

// One full run of a mode, ended as a user ends it.
struct ModeRun {
    const char* name;
    std::function<void(const TestFolder&)> act;
};

void RunSlideshow(const TestFolder& folder) {
    const Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    for (int i = 0; i < 3; ++i) Tick(s.form);
    PressKey('K');
    EXPECT_EQ(s.process.ExitCodeWithin(5000), 0u);
}

void RunSettings(const TestFolder& folder) {
    const AboutSession s = StartAbout(folder);
    ASSERT_NE(s.about, nullptr);
    // The system-information button, with no tool registered: its message.
    PressSysInfo(s.about);
    EXPECT_TRUE(CloseMessageBox(WaitForMessageBox(s.settings.process.pid())));
    ::PostMessageW(s.about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(s.about) && ::IsWindowEnabled(s.settings.window); }, 3000));
    ::PostMessageW(s.settings.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(s.settings.process.WaitExit(5000));
}

void RunPreview(const TestFolder& folder) {
    Process p = Process::Start(folder.scr(), L"/p 65552");
    EXPECT_TRUE(p.WaitExit(5000));
}

void RunPassword(const TestFolder& folder) {
    Process p = Process::Start(folder.scr(), L"/a");
    EXPECT_TRUE(CloseMessageBox(WaitForMessageBox(p.pid())));
    EXPECT_TRUE(p.WaitExit(5000));
}

void RunSecondCopy(const TestFolder& folder) {
    const Slideshow first = StartSlideshow(folder);
    ASSERT_NE(first.form, nullptr);
    Process second = Process::Start(folder.scr(), L"/s");
    EXPECT_TRUE(second.WaitExit(5000)) << "the second copy should end at once";
    EXPECT_TRUE(first.process.Running());
    PressKey('K');
    EXPECT_TRUE(first.process.WaitExit(5000));
}

TEST(NothingWritten, NoModeWritesToTheRegistryOrTheProgramFolder) {
    TestFolder folder(L"nothing-written");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 320, 240, 0x3080C0));
    ASSERT_TRUE(WritePicture(folder.file(PictureName(2)), PictureFormat::Jpeg, 320, 240, 0xC08030));

    // What Wine records for programs that have nothing to do with the saver:
    // a console command and a windowless program started the same way.
    TestFolder control(L"nothing-written-control");
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    const Snapshot controlBefore = TakeUserRegistry();
    {
        Process cmd = Process::Start(std::wstring(system) + L"\\cmd.exe", L"/c exit");
        ASSERT_TRUE(cmd.WaitExit(10000));
        const std::wstring marker = control.file(L"marker.exe");
        ASSERT_TRUE(PlaceMarker(marker));
        Process markerRun = Process::Start(marker, L"");
        ASSERT_TRUE(markerRun.WaitExit(10000));
    }
    // Wine keeps session-only system parameters (SystemParametersInfo without
    // SPIF_UPDATEINIFILE, as the saver's "screen saver active") in this
    // volatile key: memory of the running session, never saved to disk.
    std::set<std::wstring> excluded{L"HKCU\\Software\\Wine\\Temporary System Parameters"};
    for (const std::wstring& change : Differences(controlBefore, TakeUserRegistry()))
        excluded.insert(KeyOf(change.substr(change.find(L' ') + 1)));
    std::printf("[ FIGURES  ] registry keys left out (session-only, or changed by trivial programs too): %zu\n",
                excluded.size());
    for (const auto& key : excluded) std::printf("[ FIGURES  ]   %s\n", WideToUtf8(key).c_str());

    const ModeRun runs[] = {
        {"/s with ticks, ended by a key", RunSlideshow},
        {"/c with the About box and its message", RunSettings},
        {"/p", RunPreview},
        {"/a", RunPassword},
        {"a second copy", RunSecondCopy},
    };
    const Snapshot wholeBefore = TakeRegistry();
    for (const ModeRun& run : runs) {
        SCOPED_TRACE(run.name);
        const Snapshot filesBefore = TakeFolder(folder.path());
        const Snapshot registryBefore = TakeUserRegistry();
        // Each run waits until its process has ended: by then what it wrote is in place.
        run.act(folder);
        const Snapshot registryAfter = TakeUserRegistry();
        const Snapshot filesAfter = TakeFolder(folder.path());
        const auto registryChanges = Differences(registryBefore, registryAfter, excluded);
        const auto fileChanges = Differences(filesBefore, filesAfter);
        EXPECT_TRUE(registryChanges.empty()) << "registry:" << Join(registryChanges);
        EXPECT_TRUE(fileChanges.empty()) << "program folder:" << Join(fileChanges);
        std::printf("[ FIGURES  ] %-40s %zu registry entries, %zu files compared; %zu and %zu changes\n", run.name,
                    registryAfter.size(), filesAfter.size(), registryChanges.size(), fileChanges.size());
        std::fflush(stdout);
    }
    const Snapshot wholeAfter = TakeRegistry();
    const auto changes = Differences(wholeBefore, wholeAfter, excluded);
    EXPECT_TRUE(changes.empty()) << "registry over all runs:" << Join(changes);
    std::printf("[ FIGURES  ] all runs: %zu registry entries (HKCU and HKLM software) compared; %zu changes\n",
                wholeAfter.size(), changes.size());
}

}  // namespace
}  // namespace lumora::e2e
