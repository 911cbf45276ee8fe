#include "about/SysInfo_win.h"

#include "common/AppProperties_win.h"
#include "common/UniqueHandle_win.h"
#include "common/Wow64_win.h"

#include <algorithm>

namespace lumora {
namespace {

constexpr bool kIs32BitBuild = sizeof(void*) == 4;

class RegistryKeyWin final : public RegistryKey {
public:
    explicit RegistryKeyWin(UniqueKey key) : key_(std::move(key)) {}

    long QueryValue(std::string_view valueName, std::uint32_t& type, std::span<std::uint8_t> buffer,
                    std::uint32_t& size) override {
        const std::string name(valueName);
        DWORD valueType = 0;
        DWORD valueSize = static_cast<DWORD>(std::min<std::size_t>(size, buffer.size()));
        const LONG status = ::RegQueryValueExA(key_.get(), name.c_str(), nullptr, &valueType, buffer.data(), &valueSize);
        type = valueType;
        size = valueSize;
        return status;
    }

private:
    UniqueKey key_;
};

bool HasWildcardOrZero(const std::wstring& path) { return path.find_first_of(std::wstring(L"*?\0", 3)) != std::wstring::npos; }

}  // namespace

std::unique_ptr<RegistryKey> SysInfoPlatformWin::OpenKey(RegistryRoot, std::string_view keyName) {
    static_assert(kKeyQueryValue == KEY_QUERY_VALUE && kKeyWow64_64Key == KEY_WOW64_64KEY);
    const REGSAM access = SysInfoKeyAccess(kIs32BitBuild);
    const std::string name(keyName);
    UniqueKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, access, key.put()) != ERROR_SUCCESS) return nullptr;
    return std::make_unique<RegistryKeyWin>(std::move(key));
}

std::wstring SysInfoPlatformWin::FromAnsi(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int length = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
    return text;
}

bool SysInfoPlatformWin::IsNormalFile(const std::wstring& path) {
    // A listing of one exact name: wildcards would let another file answer.
    if (path.empty() || HasWildcardOrZero(path)) return false;
    WIN32_FIND_DATAW found{};
    UniqueFind find;
    {
        // The native view, which the keys were read in.
        [[maybe_unused]] const Wow64FsRedirectionOff native;
        find.reset(::FindFirstFileW(path.c_str(), &found));
    }
    if (!find) return false;
    constexpr DWORD kNotNormal = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
    return (found.dwFileAttributes & kNotNormal) == 0;
}

bool SysInfoPlatformWin::StartProgram(const std::wstring& path) {
    if (path.empty() || HasWildcardOrZero(path)) return false;
    // The file the registry names and nothing else: as the application name
    // it is never split at a blank (C:\Program.exe for C:\Program Files\...),
    // and quoted it reaches the program as one argv[0].
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    BOOL started = FALSE;
    {
        // The same view that IsNormalFile tested the path in.
        [[maybe_unused]] const Wow64FsRedirectionOff native;
        started = ::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &process);
    }
    if (!started) return false;
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle threadHandle(process.hThread);
    return true;
}

void SysInfoPlatformWin::ShowMessage(std::wstring_view text) {
    const std::wstring message(text);
    ::MessageBoxW(owner_, message.c_str(), App().title.c_str(), MB_OK);
}

}  // namespace lumora
