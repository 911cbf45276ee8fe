#pragma once
#include "about/SysInfoLauncher.h"

#include <windows.h>

namespace lumora {

// The launcher's platform on Windows; messages are owned by `owner`.
class SysInfoPlatformWin final : public SysInfoPlatform {
public:
    explicit SysInfoPlatformWin(HWND owner) : owner_(owner) {}

    std::unique_ptr<RegistryKey> OpenKey(RegistryRoot root, std::string_view keyName) override;
    std::wstring FromAnsi(std::string_view bytes) override;
    bool IsNormalFile(const std::wstring& path) override;
    bool StartProgram(const std::wstring& path) override;
    void ShowMessage(std::wstring_view text) override;

private:
    HWND owner_;
};

}  // namespace lumora
