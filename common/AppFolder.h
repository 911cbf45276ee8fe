#pragma once
#include <string>
#include <string_view>

namespace lumora {

// The folder part of an executable's full path: no trailing backslash, except
// for a drive root ("C:\"), which keeps it.
std::wstring AppFolderFromModulePath(std::wstring_view modulePath);

// The form of a full path that Windows opens whatever its length: one of
// MAX_PATH (260) characters or more gets the extended-length prefix
// ("\\?\C:\..." or "\\?\UNC\server\share\..."); shorter, relative and already
// prefixed paths stay as they are.
std::wstring LongPathForm(std::wstring_view path);

}  // namespace lumora
