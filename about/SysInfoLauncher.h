#pragma once
// Finding and starting the system-information tool, apart from the platform:
// the registry, the file system, process start and the message box come in
// through SysInfoPlatform, so the decisions can be tested against fakes.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace lumora {

enum class RegistryRoot { LocalMachine };

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::size_t kKeyValueBufferSize = 1024;

inline constexpr std::string_view kMsinfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
inline constexpr std::string_view kMsinfoPathValue = "PATH";
inline constexpr std::string_view kToolsLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
inline constexpr std::string_view kToolsLocationValue = "MSINFO";
inline constexpr std::wstring_view kMsinfoFileName = L"\\MSINFO32.EXE";
inline constexpr std::wstring_view kSysInfoUnavailableMessage = L"この環境ではシステム情報を使用できません。";

// Rights for opening the tool's keys: query only, since a standard user may
// read but not write these machine-wide keys. A 32-bit build on 64-bit
// Windows sees 32-bit views of the registry and of System32 unless it asks
// otherwise; the tool registers itself in the native registry, with a native
// path (C:\Windows\System32\msinfo32.exe), so a 32-bit build reads the native
// view, and tests and starts that path with file-system redirection off.
// The values are KEY_QUERY_VALUE and KEY_WOW64_64KEY.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeyWow64_64Key = 0x0100;
std::uint32_t SysInfoKeyAccess(bool is32BitBuild);

// An open registry key; destroying it closes the key.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;
    // As RegQueryValueExA: status 0 on success, with the type, the data in
    // `buffer` and its size in bytes; non-zero when the value is missing or
    // its data does not fit.
    virtual long QueryValue(std::string_view valueName, std::uint32_t& type, std::span<std::uint8_t> buffer,
                            std::uint32_t& size) = 0;
};

class SysInfoPlatform {
public:
    virtual ~SysInfoPlatform() = default;
    // Opens a key for reading only; null when it cannot be opened.
    virtual std::unique_ptr<RegistryKey> OpenKey(RegistryRoot root, std::string_view keyName) = 0;
    // Text in the system's ANSI code page.
    virtual std::wstring FromAnsi(std::string_view bytes) = 0;
    // A directory listing of this one name finds a file that is not hidden,
    // system or a directory.
    virtual bool IsNormalFile(const std::wstring& path) = 0;
    // Starts exactly this program file in a normal window without waiting for
    // it; false when it cannot be started.
    virtual bool StartProgram(const std::wstring& path) = 0;
    // An OK-only message box with the application title as caption.
    virtual void ShowMessage(std::wstring_view text) = 0;
};

// One raw registry value turned into the launcher's terms.
struct DecodedValue {
    enum class Kind {
        AnsiText,   // type 1: `ansi` still needs converting
        Text,       // type 4: `text` is the number in decimal
        Unchanged,  // any other type: read, but gives no text
        Error,      // size 0: the read fails as a whole
    };
    Kind kind = Kind::Unchanged;
    std::string ansi;
    std::wstring text;
};

// `buffer` is the whole query buffer, `size` the byte count the query reported.
DecodedValue DecodeKeyValue(std::uint32_t type, std::span<const std::uint8_t> buffer, std::uint32_t size);

enum class KeyValueResult {
    NotRead,  // the key or the value is missing, or the value is too big
    Read,     // read, whatever its type
    Failed,   // the read itself failed (size 0): the caller gives up
};

// Reads one value as text into `KeyVal`: emptied when it cannot be read, left
// as it was for types other than string and number.
KeyValueResult GetKeyValue(SysInfoPlatform& platform, RegistryRoot KeyRoot, std::string_view KeyName,
                           std::string_view SubKeyRef, std::wstring& KeyVal);

// Starts the system-information tool, or tells the user it is not available.
void StartSysInfo(SysInfoPlatform& platform);

}  // namespace lumora
