#include "common/AppProperties_win.h"

#include "common/AppFolder.h"
#include "resource.h"

#include <vector>

namespace lumora {
namespace {

std::wstring LoadResourceString(UINT id) {
    const wchar_t* text = nullptr;
    // With a zero buffer size LoadStringW hands out a pointer into the resource itself.
    const int len = ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
    return len > 0 ? std::wstring(text, static_cast<size_t>(len)) : std::wstring();
}

std::wstring VersionString(const std::vector<BYTE>& block, const wchar_t* name) {
    std::wstring query = L"\\StringFileInfo\\" LUMORA_VERSION_BLOCK L"\\";
    query += name;
    void* value = nullptr;
    UINT len = 0;
    if (!::VerQueryValueW(block.data(), query.c_str(), &value, &len) || !value || len == 0) return {};
    std::wstring text(static_cast<const wchar_t*>(value), len);
    // The length may or may not count the terminating zero.
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

AppProperties Read() {
    AppProperties p;
    p.title = LoadResourceString(IDS_APP_TITLE);
    const std::wstring path = ModulePath(nullptr);
    p.folder = AppFolderFromModulePath(path);

    // From the loaded module, not its file: a 32-bit build started from the
    // real System32 would have the read redirected to SysWOW64.
    HMODULE self = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(self, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    const DWORD size = resource ? ::SizeofResource(self, resource) : 0;
    const void* data = size ? ::LockResource(::LoadResource(self, resource)) : nullptr;
    if (!data) return p;
    // The version API may write into its block (it does for ANSI queries): a
    // copy, never the read-only resource itself.
    std::vector<BYTE> block(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);

    void* fixedPtr = nullptr;
    UINT fixedLen = 0;
    if (::VerQueryValueW(block.data(), L"\\", &fixedPtr, &fixedLen) && fixedLen >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(fixedPtr);
        p.major = HIWORD(fixed->dwFileVersionMS);
        p.minor = LOWORD(fixed->dwFileVersionMS);
        // The revision is the last of the four fields.
        p.revision = LOWORD(fixed->dwFileVersionLS);
    }
    p.companyName = VersionString(block, L"CompanyName");
    p.legalCopyright = VersionString(block, L"LegalCopyright");
    return p;
}

}  // namespace

std::wstring ModulePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

const AppProperties& App() {
    static const AppProperties properties = Read();
    return properties;
}

}  // namespace lumora
