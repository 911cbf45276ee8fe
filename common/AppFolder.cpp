#include "common/AppFolder.h"

namespace lumora {

std::wstring AppFolderFromModulePath(std::wstring_view modulePath) {
    const auto slash = modulePath.find_last_of(L"\\/");
    if (slash == std::wstring_view::npos) return {};
    std::wstring_view folder = modulePath.substr(0, slash);
    // "C:" alone would mean the drive's current folder, not its root.
    if (folder.size() == 2 && folder[1] == L':') return std::wstring(modulePath.substr(0, slash + 1));
    return std::wstring(folder);
}

std::wstring LongPathForm(std::wstring_view path) {
    constexpr std::size_t kMaxPath = 260;
    if (path.size() < kMaxPath) return std::wstring(path);
    const bool drive = path.size() >= 3 && path[1] == L':' && path[2] == L'\\' &&
                       ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
    if (drive) return L"\\\\?\\" + std::wstring(path);
    // "\\?\" and "\\.\" are device forms already; "\\server" is UNC.
    if (path.starts_with(L"\\\\") && path.size() > 2 && path[2] != L'?' && path[2] != L'.')
        return L"\\\\?\\UNC\\" + std::wstring(path.substr(2));
    return std::wstring(path);
}

}  // namespace lumora
