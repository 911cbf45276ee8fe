#pragma once
#include <string>
#include <string_view>

namespace lumora {

// The folder part of an executable's full path: no trailing backslash, except
// for a drive root ("C:\"), which keeps it.
std::wstring AppFolderFromModulePath(std::wstring_view modulePath);

}  // namespace lumora
