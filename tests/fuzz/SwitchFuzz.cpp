// The command line is the one input anybody can hand the saver; whatever it
// holds, the switch parser must pick a mode from the first two characters only.
#include "startup/Switch.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>

namespace {

using lumora::Mode;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The mode table written out case by case, to hold the parser against.
Mode ExpectedMode(std::wstring_view args) {
    if (args.empty()) return Mode::Configure;
    if (args.size() < 2 || args[0] != L'/') return Mode::Run;
    switch (args[1]) {
    case L'a':
    case L'A':
        return Mode::Password;
    case L'c':
    case L'C':
        return Mode::Configure;
    case L'p':
    case L'P':
        return Mode::Preview;
    default:
        return Mode::Run;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lumora::fuzz::Input input(data, size);
    const std::wstring commandLine = input.RestAsUtf16();
    const std::wstring_view line(commandLine);

    // The arguments are the tail of the command line, starting at no blank.
    const std::wstring_view args = lumora::ArgumentString(line);
    FUZZ_CHECK(args.data() >= line.data());
    FUZZ_CHECK(args.data() + args.size() == line.data() + line.size());
    FUZZ_CHECK(args.empty() || !IsBlank(args.front()));

    // What was skipped is the program name and then blanks only; an unquoted
    // name holds no blank.
    const std::wstring_view skipped = line.substr(0, line.size() - args.size());
    std::size_t nameEnd = 0;
    if (!skipped.empty() && skipped[0] == L'"') {
        const std::size_t close = skipped.find(L'"', 1);
        nameEnd = close == std::wstring_view::npos ? skipped.size() : close + 1;
        // An unclosed quote swallows the whole line.
        if (close == std::wstring_view::npos) FUZZ_CHECK(args.empty());
    } else {
        while (nameEnd < skipped.size() && !IsBlank(skipped[nameEnd])) ++nameEnd;
    }
    FUZZ_CHECK(std::all_of(skipped.begin() + nameEnd, skipped.end(), IsBlank));

    // The switch: at most two characters, ASCII letters upper-cased, nothing else touched.
    const std::wstring sw = lumora::SwitchOf(args);
    FUZZ_CHECK(sw.size() == std::min<std::size_t>(2, args.size()));
    for (std::size_t i = 0; i < sw.size(); ++i) {
        const wchar_t c = args[i];
        const wchar_t upper = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
        FUZZ_CHECK(sw[i] == upper);
    }

    // The mode follows the table and never depends on characters after the second.
    const Mode mode = lumora::ChooseMode(args);
    FUZZ_CHECK(mode == ExpectedMode(args));
    FUZZ_CHECK(mode == lumora::ChooseMode(args.substr(0, 2)));
    if (args.size() > 2) {
        std::wstring changed(args);
        std::reverse(changed.begin() + 2, changed.end());
        changed.push_back(L'\0');
        changed.append(L"/p");
        FUZZ_CHECK(mode == lumora::ChooseMode(changed));
        changed.resize(3);
        FUZZ_CHECK(mode == lumora::ChooseMode(changed));
    }
    return 0;
}
