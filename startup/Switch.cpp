#include "startup/Switch.h"

namespace lumora {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

wchar_t UpperAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

}  // namespace

std::wstring_view ArgumentString(std::wstring_view commandLine) {
    size_t i = 0;
    // The program name follows the C runtime's rules for argv[0]: quoted up to the
    // next quote (Windows starts savers as "...\x.scr"/c:123), otherwise up to
    // the first blank.
    if (i < commandLine.size() && commandLine[i] == L'"') {
        const auto close = commandLine.find(L'"', 1);
        i = (close == std::wstring_view::npos) ? commandLine.size() : close + 1;
    } else {
        while (i < commandLine.size() && !IsBlank(commandLine[i])) ++i;
    }
    while (i < commandLine.size() && IsBlank(commandLine[i])) ++i;
    return commandLine.substr(i);
}

std::wstring SwitchOf(std::wstring_view arguments) {
    std::wstring sw(arguments.substr(0, 2));
    // Only ASCII letters can make one of the known switches, so ASCII
    // upper-casing decides exactly like a full Unicode one would.
    for (auto& c : sw) c = UpperAscii(c);
    return sw;
}

Mode ChooseMode(std::wstring_view arguments) {
    const std::wstring sw = SwitchOf(arguments);
    if (sw == L"/A") return Mode::Password;
    if (sw == L"/C") return Mode::Configure;
    if (sw == L"/P") return Mode::Preview;
    if (sw.empty()) return Mode::Configure;
    return Mode::Run;
}

}  // namespace lumora
