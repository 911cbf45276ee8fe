#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

namespace lumora {

// What the program knows about itself, read once from its own executable.
struct AppProperties {
    std::wstring title;           // string resource IDS_APP_TITLE
    std::wstring folder;          // no trailing backslash except at a drive root
    std::uint16_t major = 0;      // version record, fixed part
    std::uint16_t minor = 0;
    std::uint16_t revision = 0;
    std::wstring companyName;     // version record, string table 041104B0
    std::wstring legalCopyright;
};

const AppProperties& App();

// Full path of a module, however long it is.
std::wstring ModulePath(HMODULE module);

}  // namespace lumora
