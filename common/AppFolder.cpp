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

}  // namespace lumora
