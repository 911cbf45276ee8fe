// The settings dialog as a user meets it: texts, keys, buttons, the close box
// and the Help menu.
#include "resource.h"
#include "tools/driver/Lumora_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace lumora::e2e {
namespace {

void ClickOn(HWND hwnd) {
    RECT r{};
    ::GetWindowRect(hwnd, &r);
    Click((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

// Waits for the process to end, noting every top-level window other than
// `window` that it shows meanwhile.
bool EndsWithoutAnotherWindow(const Process& p, std::set<HWND>& others, HWND window) {
    return WaitUntil(
        [&] {
            for (HWND hwnd : TopWindowsOf(p.pid()))
                if (hwnd != window) others.insert(hwnd);
            return !p.Running();
        },
        5000, 10);
}

TEST(Settings, ShowsTheTitleOneLineAndTwoButtons) {
    TestFolder folder(L"settings-look");
    for (const wchar_t* args : {L"", L"/c", L"/C:1234"}) {
        Settings s = StartSettings(folder, args);
        ASSERT_NE(s.window, nullptr) << "no settings window for " << WideToUtf8(args);
        EXPECT_EQ(TopWindowsOf(s.process.pid()).size(), 1u);

        const DialogContents c = ReadDialog(s.window);
        EXPECT_EQ(c.texts, std::vector<std::wstring>{L"設定項目はございません。"});
        EXPECT_EQ(c.buttons, (std::vector<std::wstring>{L"ＯＫ", L"キャンセル"}));
        EXPECT_EQ(c.emptyStatics + c.icons, 0);

        const LONG_PTR style = ::GetWindowLongPtrW(s.window, GWL_STYLE);
        EXPECT_TRUE(style & WS_SYSMENU);
        EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
        // Shown in the taskbar: unowned and not a tool window.
        EXPECT_EQ(::GetWindow(s.window, GW_OWNER), nullptr);
        EXPECT_FALSE(::GetWindowLongPtrW(s.window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
        // The window icon, a monitor with SAVE in red, sits at the left of the title bar.
        EXPECT_TRUE(WaitUntil([&] { return TitleBarHasRed(s.window); }, 3000, 100));
    }
}

// The client area is 6495 x 1095 twips.
struct LayoutAtDpi {
    UINT dpi;
    int clientWidth, clientHeight;
    const wchar_t* shot;
    const char* name;
};

class SettingsLayoutTest : public ::testing::TestWithParam<LayoutAtDpi> {};

TEST_P(SettingsLayoutTest, LayoutFollowsTheTwipsAndTheWindowIsCentred) {
    const LayoutAtDpi& p = GetParam();
    ASSERT_EQ(::GetDpiForSystem(), p.dpi) << "the test runs at the wrong DPI";
    TestFolder folder(L"settings-layout");
    Settings s = StartSettings(folder);
    ASSERT_NE(s.window, nullptr);
    RECT client{};
    ::GetClientRect(s.window, &client);
    EXPECT_EQ(client.right, p.clientWidth);
    EXPECT_EQ(client.bottom, p.clientHeight);

    auto placeOf = [&](HWND h) { return PlaceInClient(s.window, h); };
    const RECT ok = placeOf(ChildWithText(s.window, L"ＯＫ"));
    EXPECT_EQ(ok.left, TwipsToPixels(5160));
    EXPECT_EQ(ok.top, TwipsToPixels(120));
    EXPECT_EQ(ok.right - ok.left, TwipsToPixels(1215));
    EXPECT_EQ(ok.bottom - ok.top, TwipsToPixels(375));
    const RECT cancel = placeOf(ChildWithText(s.window, L"キャンセル"));
    EXPECT_EQ(cancel.top, TwipsToPixels(600));
    const RECT label = placeOf(ChildWithText(s.window, L"設定項目はございません。"));
    EXPECT_EQ(label.left, TwipsToPixels(120));
    EXPECT_EQ(label.top, TwipsToPixels(240));
    EXPECT_EQ(label.right - label.left, TwipsToPixels(3135));

    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(s.window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    RECT window{};
    ::GetWindowRect(s.window, &window);
    EXPECT_NEAR((window.left + window.right) / 2, (monitor.rcWork.left + monitor.rcWork.right) / 2, 1);
    EXPECT_NEAR((window.top + window.bottom) / 2, (monitor.rcWork.top + monitor.rcWork.bottom) / 2, 1);

    EXPECT_TRUE(WaitUntil([&] { return TextsDrawn(s.window); }, 3000, 100));
    EXPECT_TRUE(CaptureWindow(s.window).Save(OutDir() + L"\\" + p.shot));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SettingsLayoutTest,
    ::testing::Values(
        // 15 twips to the pixel: 433 x 73.
        LayoutAtDpi{96, 433, 73, L"settings.png", "Dpi96"},
        // 10 twips to the pixel: 649.5 x 109.5, halves rounded up as MulDiv does.
        LayoutAtDpi{144, 650, 110, L"settings-144dpi.png", "Dpi144"}),
    [](const auto& info) { return std::string(info.param.name); });

// Every way out ends the process at once with no other window on the way.
enum class Way { Enter, Escape, ClickOK, ClickCancel, SpaceOnCancel, CloseBox, AltF4 };

class SettingsEndTest : public ::testing::TestWithParam<Way> {};

TEST_P(SettingsEndTest, EndsTheProcess) {
    TestFolder folder(L"settings-end");
    Settings s = StartSettings(folder);
    ASSERT_NE(s.window, nullptr);
    Activate(s.window);
    switch (GetParam()) {
    case Way::Enter:
        PressKey(VK_RETURN);
        break;
    case Way::Escape:
        PressKey(VK_ESCAPE);
        break;
    case Way::ClickOK:
        ClickOn(ChildWithText(s.window, L"ＯＫ"));
        break;
    case Way::ClickCancel:
        ClickOn(ChildWithText(s.window, L"キャンセル"));
        break;
    case Way::SpaceOnCancel:
        PressKey(VK_TAB);
        PressKey(VK_SPACE);
        break;
    case Way::CloseBox:
        ::PostMessageW(s.window, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case Way::AltF4:
        PressKeys({VK_MENU, VK_F4});
        break;
    }
    std::set<HWND> others;
    EXPECT_TRUE(EndsWithoutAnotherWindow(s.process, others, s.window));
    EXPECT_TRUE(others.empty());
    EXPECT_EQ(s.process.ExitCode().value_or(1234), 0u);
}

std::string WayName(const ::testing::TestParamInfo<Way>& info) {
    static const char* const names[] = {"Enter", "Escape", "ClickOK", "ClickCancel", "SpaceOnCancel", "CloseBox", "AltF4"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Settings, SettingsEndTest,
                         ::testing::Values(Way::Enter, Way::Escape, Way::ClickOK, Way::ClickCancel, Way::SpaceOnCancel,
                                           Way::CloseBox, Way::AltF4),
                         WayName);

TEST(Settings, HelpMenuHoldsOneItemThatOpensTheAboutBox) {
    // Another process cannot read a window's menu under Wine: read the resource.
    const UniqueModule scr(::LoadLibraryExW(ScrPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(scr);
    const UniqueMenu menu(::LoadMenuW(scr.get(), MAKEINTRESOURCEW(IDR_MENU_FORM2)));
    ASSERT_TRUE(menu);
    wchar_t text[64];
    EXPECT_EQ(::GetMenuItemCount(menu.get()), 1);
    ::GetMenuStringW(menu.get(), 0, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(text, L"ヘルプ(&H)");
    HMENU help = ::GetSubMenu(menu.get(), 0);
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(::GetMenuItemCount(help), 1);
    ::GetMenuStringW(help, 0, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(text, L"バージョン情報(&V)...");
    const UINT id = ::GetMenuItemID(help, 0);

    TestFolder folder(L"settings-menu");
    Settings s = StartSettings(folder);
    ASSERT_NE(s.window, nullptr);
    ::PostMessageW(s.window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    HWND about = WaitForWindow(s.process.pid(), kAboutCaption);
    ASSERT_NE(about, nullptr);
    EXPECT_FALSE(::IsWindowEnabled(s.window)) << "the settings dialog must take no input under the About box";
    ::PostMessageW(about, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(about); }, 3000));
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(s.window) != FALSE; }, 3000));
    EXPECT_TRUE(s.process.Running());
    EXPECT_EQ(TopWindowsOf(s.process.pid()), std::vector<HWND>{s.window});
}

TEST(Settings, AltHThenVOpensTheAboutBox) {
    TestFolder folder(L"settings-menu-keys");
    Settings s = StartSettings(folder);
    ASSERT_NE(s.window, nullptr);
    Activate(s.window);
    PressKeys({VK_MENU, 'H'});
    PressKey('V');
    HWND about = WaitForWindow(s.process.pid(), kAboutCaption);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(::GetWindow(about, GW_OWNER), s.window);
}

}  // namespace
}  // namespace lumora::e2e
