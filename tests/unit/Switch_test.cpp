#include "startup/Switch.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

struct ModeCase {
    std::wstring_view arguments;
    Mode expected;
};

class ChooseModeTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ChooseModeTest, OnlyTheFirstTwoCharactersCount) {
    EXPECT_EQ(ChooseMode(GetParam().arguments), GetParam().expected) << "arguments: " << ::testing::PrintToString(GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(Switches, ChooseModeTest,
                         ::testing::Values(ModeCase{L"/s", Mode::Run}, ModeCase{L"/S", Mode::Run},
                                           ModeCase{L"/S 123", Mode::Run}, ModeCase{L"-s", Mode::Run},
                                           ModeCase{L"x", Mode::Run}, ModeCase{L"/", Mode::Run},
                                           ModeCase{L" ", Mode::Run}, ModeCase{L"-c", Mode::Run},
                                           ModeCase{L"c/", Mode::Run}, ModeCase{L"/ c", Mode::Run},
                                           ModeCase{L"//C", Mode::Run}, ModeCase{L"／Ｃ", Mode::Run},
                                           ModeCase{L"/c", Mode::Configure}, ModeCase{L"/C", Mode::Configure},
                                           ModeCase{L"/c:123", Mode::Configure},
                                           ModeCase{L"/C 5", Mode::Configure},
                                           ModeCase{L"/configure", Mode::Configure},
                                           ModeCase{L"", Mode::Configure}, ModeCase{L"/p", Mode::Preview},
                                           ModeCase{L"/p 1234", Mode::Preview},
                                           ModeCase{L"/P1234", Mode::Preview}, ModeCase{L"/a", Mode::Password},
                                           ModeCase{L"/A 9", Mode::Password}, ModeCase{L"/a:9", Mode::Password}));

TEST(SwitchOf, TakesTwoCharactersUpperCased) {
    EXPECT_EQ(SwitchOf(L"/s 1234"), L"/S");
    EXPECT_EQ(SwitchOf(L"x"), L"X");
    EXPECT_EQ(SwitchOf(L""), L"");
    EXPECT_EQ(SwitchOf(L"/ü"), L"/ü");
}

struct CommandLineCase {
    std::wstring_view commandLine;
    std::wstring_view arguments;
};

class ArgumentStringTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(ArgumentStringTest, DropsTheProgramName) {
    EXPECT_EQ(ArgumentString(GetParam().commandLine), GetParam().arguments) << "command line: " << ::testing::PrintToString(GetParam().commandLine);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ArgumentStringTest,
    ::testing::Values(CommandLineCase{L"\"C:\\Program Files\\Lumora.scr\" /S", L"/S"},
                      CommandLineCase{L"\"C:\\Program Files\\Lumora.scr\"/c:123", L"/c:123"},
                      CommandLineCase{L"C:\\WINDOWS\\SYSTEM32\\LUMORA~1.SCR /s", L"/s"},
                      CommandLineCase{L"Lumora.scr   /p 1234", L"/p 1234"},
                      CommandLineCase{L"Lumora.scr\t/a", L"/a"}, CommandLineCase{L"Lumora.scr", L""},
                      CommandLineCase{L"\"C:\\a b\\Lumora.scr\"", L""},
                      CommandLineCase{L"\"C:\\unterminated /s", L""}, CommandLineCase{L"", L""}));

}  // namespace
}  // namespace lumora
