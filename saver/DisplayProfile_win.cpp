#include "saver/DisplayProfile_win.h"

#include "common/UniqueHandle_win.h"

namespace lumora {

std::wstring DisplayProfilePath(HWND window) {
    const WindowDc dc(window);
    if (!dc.get()) return {};
    std::wstring path(MAX_PATH, L'\0');
    DWORD size = static_cast<DWORD>(path.size());
    if (!::GetICMProfileW(dc.get(), &size, path.data())) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > 32768) return {};
        path.assign(size, L'\0');
        if (!::GetICMProfileW(dc.get(), &size, path.data())) return {};
    }
    path.resize(::wcsnlen(path.c_str(), path.size()));
    return path;
}

std::vector<std::uint8_t> ReadDisplayProfile(const std::wstring& path, std::size_t limit) {
    if (path.empty()) return {};
    const UniqueFile file(::CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > limit)
        return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), bytes.data() + filled, static_cast<DWORD>(bytes.size() - filled), &read, nullptr) ||
            read == 0)
            return {};
        filled += read;
    }
    return bytes;
}

}  // namespace lumora
