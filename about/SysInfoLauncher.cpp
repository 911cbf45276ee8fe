#include "about/SysInfoLauncher.h"

#include <algorithm>
#include <array>

namespace lumora {

std::uint32_t SysInfoKeyAccess(bool is32BitBuild) { return kKeyQueryValue | (is32BitBuild ? kKeyWow64_64Key : 0); }

DecodedValue DecodeKeyValue(std::uint32_t type, std::span<const std::uint8_t> buffer, std::uint32_t size) {
    DecodedValue value;
    if (size == 0) {
        value.kind = DecodedValue::Kind::Error;
        return value;
    }
    // A query never reports more than it could store; clamp all the same.
    std::span<const std::uint8_t> data = buffer.first(std::min<std::size_t>(size, buffer.size()));
    // Strings normally carry one terminating zero; one stored without it stays whole.
    if (!data.empty() && data.back() == 0) data = data.first(data.size() - 1);

    switch (type) {
    case kRegSz:
        value.kind = DecodedValue::Kind::AnsiText;
        value.ansi.assign(data.begin(), data.end());
        break;
    case kRegDword: {
        // From the zero-filled buffer, so a short value reads as its low bytes.
        std::uint32_t number = 0;
        for (std::size_t i = 0; i < 4 && i < buffer.size(); ++i) number |= std::uint32_t{buffer[i]} << (8 * i);
        value.kind = DecodedValue::Kind::Text;
        value.text = std::to_wstring(number);
        break;
    }
    default:
        value.kind = DecodedValue::Kind::Unchanged;
        break;
    }
    return value;
}

KeyValueResult GetKeyValue(SysInfoPlatform& platform, RegistryRoot KeyRoot, std::string_view KeyName,
                           std::string_view SubKeyRef, std::wstring& KeyVal) {
    const std::unique_ptr<RegistryKey> key = platform.OpenKey(KeyRoot, KeyName);
    if (!key) {
        KeyVal.clear();
        return KeyValueResult::NotRead;
    }
    std::array<std::uint8_t, kKeyValueBufferSize> buffer{};
    std::uint32_t type = 0;
    std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
    if (key->QueryValue(SubKeyRef, type, buffer, size) != 0) {
        KeyVal.clear();
        return KeyValueResult::NotRead;
    }
    DecodedValue value = DecodeKeyValue(type, buffer, size);
    switch (value.kind) {
    case DecodedValue::Kind::Error:
        return KeyValueResult::Failed;
    case DecodedValue::Kind::AnsiText:
        KeyVal = platform.FromAnsi(value.ansi);
        break;
    case DecodedValue::Kind::Text:
        KeyVal = std::move(value.text);
        break;
    case DecodedValue::Kind::Unchanged:
        break;
    }
    return KeyValueResult::Read;
}

namespace {

// The program to start, or empty when there is none.
std::wstring FindSysInfo(SysInfoPlatform& platform) {
    std::wstring path;
    switch (GetKeyValue(platform, RegistryRoot::LocalMachine, kMsinfoKey, kMsinfoPathValue, path)) {
    case KeyValueResult::Read:
        // Final, even when it names nothing that can be started.
        return path;
    case KeyValueResult::Failed:
        return {};
    case KeyValueResult::NotRead:
        break;
    }
    if (GetKeyValue(platform, RegistryRoot::LocalMachine, kToolsLocationKey, kToolsLocationValue, path) !=
        KeyValueResult::Read)
        return {};
    // An empty folder would make "\MSINFO32.EXE" on whatever drive is current.
    if (path.empty()) return {};
    path += kMsinfoFileName;
    return platform.IsNormalFile(path) ? path : std::wstring();
}

}  // namespace

void StartSysInfo(SysInfoPlatform& platform) {
    const std::wstring path = FindSysInfo(platform);
    if (!path.empty() && platform.StartProgram(path)) return;
    platform.ShowMessage(kSysInfoUnavailableMessage);
}

}  // namespace lumora
