#pragma once
#include <string>
#include <string_view>

namespace lumora {

enum class Mode { Password, Configure, Preview, Run };

inline constexpr std::wstring_view kPasswordMessage = L"パスワードには対応しておりません。";

// The argument string of a Windows command line: everything after the program
// name, with the blanks that separate them removed.
std::wstring_view ArgumentString(std::wstring_view commandLine);

// The screen-saver switch: the first two characters of the argument string, upper-cased.
std::wstring SwitchOf(std::wstring_view arguments);

// The mode a switch asks for; anything unrecognised runs the slideshow.
Mode ChooseMode(std::wstring_view arguments);

}  // namespace lumora
