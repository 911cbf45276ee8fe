// Registry data is whatever some installer wrote: any type, any size, with or
// without a terminating zero. Decoding must stay inside the bytes the query
// reported, and the launcher must end in exactly one outcome.
#include "about/SysInfoLauncher.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace {

using lumora::DecodedValue;

// As the registry and the design name them.
constexpr std::uint32_t kTypeSz = 1, kTypeDword = 4;
constexpr std::size_t kBufferSize = 1024;
constexpr std::string_view kPathKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr std::wstring_view kMessage = L"この環境ではシステム情報を使用できません。";

// The first `count` bytes, less one terminating zero.
std::string Kept(std::span<const std::uint8_t> bytes, std::size_t count) {
    std::string kept(bytes.begin(), bytes.begin() + count);
    if (!kept.empty() && kept.back() == '\0') kept.pop_back();
    return kept;
}

void CheckDecoding(std::uint32_t type, std::uint32_t size, std::span<const std::uint8_t> data) {
    // Exactly the data, so reading past it is caught by the address sanitizer.
    const std::vector<std::uint8_t> exact(data.begin(), data.end());
    const DecodedValue loose = lumora::DecodeKeyValue(type, exact, size);
    if (size == 0) FUZZ_CHECK(loose.kind == DecodedValue::Kind::Error);
    FUZZ_CHECK(loose.ansi.size() <= std::min<std::size_t>(size, exact.size()));

    // As the real query fills it: a zero-filled buffer of 1024 bytes.
    std::array<std::uint8_t, kBufferSize> buffer{};
    const std::size_t stored = std::min<std::size_t>({data.size(), buffer.size(), size});
    std::copy_n(data.begin(), stored, buffer.begin());
    const DecodedValue value = lumora::DecodeKeyValue(type, buffer, size);
    if (size == 0) {
        FUZZ_CHECK(value.kind == DecodedValue::Kind::Error);
        return;
    }
    const std::size_t reported = std::min<std::size_t>(size, buffer.size());
    switch (type) {
    case kTypeSz:
        FUZZ_CHECK(value.kind == DecodedValue::Kind::AnsiText);
        FUZZ_CHECK(value.ansi.size() <= reported);
        FUZZ_CHECK(value.ansi == Kept(buffer, reported));
        FUZZ_CHECK(value.text.empty());
        break;
    case kTypeDword: {
        FUZZ_CHECK(value.kind == DecodedValue::Kind::Text);
        std::uint32_t number = 0;
        for (std::size_t i = 0; i < 4 && i < stored; ++i) number |= std::uint32_t{buffer[i]} << (8 * i);
        FUZZ_CHECK(value.text == std::to_wstring(number));
        FUZZ_CHECK(!value.text.empty() && value.text.size() <= 10);
        break;
    }
    default:
        FUZZ_CHECK(value.kind == DecodedValue::Kind::Unchanged);
        FUZZ_CHECK(value.ansi.empty() && value.text.empty());
        break;
    }
}

// One registry value as the fake registry hands it out.
struct RawValue {
    bool keyOpens = false;
    long status = 0;
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    std::vector<std::uint8_t> data;
};

class FakeKey : public lumora::RegistryKey {
public:
    explicit FakeKey(const RawValue& value) : value_(value) {}
    long QueryValue(std::string_view, std::uint32_t& type, std::span<std::uint8_t> buffer,
                    std::uint32_t& size) override {
        FUZZ_CHECK(buffer.size() == kBufferSize);
        FUZZ_CHECK(size == kBufferSize);
        FUZZ_CHECK(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0; }));
        if (value_.status != 0) return value_.status;
        // The real query refuses data that does not fit.
        if (value_.size > buffer.size()) return 234;  // ERROR_MORE_DATA
        std::copy_n(value_.data.begin(), std::min<std::size_t>(value_.data.size(), value_.size), buffer.begin());
        type = value_.type;
        size = value_.size;
        return 0;
    }

private:
    const RawValue& value_;
};

class FakePlatform : public lumora::SysInfoPlatform {
public:
    RawValue path;      // Shared Tools\MSINFO, PATH
    RawValue location;  // Shared Tools Location, MSINFO
    bool fileExists = false;
    bool startSucceeds = false;
    int starts = 0;
    int messages = 0;
    int keysOpen = 0;
    bool askedForLocation = false;
    std::wstring started;

    std::unique_ptr<lumora::RegistryKey> OpenKey(lumora::RegistryRoot, std::string_view keyName) override {
        const bool isPath = keyName == kPathKey;
        askedForLocation = askedForLocation || !isPath;
        const RawValue& v = isPath ? path : location;
        if (!v.keyOpens) return nullptr;
        ++keysOpen;
        struct CountedKey : FakeKey {
            CountedKey(const RawValue& value, int& open) : FakeKey(value), open_(open) {}
            ~CountedKey() override { --open_; }
            int& open_;
        };
        return std::make_unique<CountedKey>(v, keysOpen);
    }
    std::wstring FromAnsi(std::string_view bytes) override {
        std::wstring text;
        for (unsigned char c : bytes) text += static_cast<wchar_t>(c);
        return text;
    }
    bool IsNormalFile(const std::wstring&) override { return fileExists; }
    bool StartProgram(const std::wstring& program) override {
        ++starts;
        started = program;
        return startSucceeds;
    }
    void ShowMessage(std::wstring_view text) override {
        FUZZ_CHECK(text == kMessage);
        ++messages;
    }
};

RawValue TakeValue(lumora::fuzz::Input& input) {
    RawValue v;
    const auto flags = input.Take<std::uint8_t>();
    v.keyOpens = (flags & 1) != 0;
    v.status = (flags & 2) ? 2 : 0;  // ERROR_FILE_NOT_FOUND
    v.type = input.Take<std::uint8_t>() % 12;
    v.size = input.Take<std::uint16_t>() % (kBufferSize + 64);
    const std::size_t n = std::min<std::size_t>(input.Take<std::uint8_t>(), input.size());
    v.data.assign(input.data(), input.data() + n);
    input = lumora::fuzz::Input(input.data() + n, input.size() - n);
    return v;
}

void CheckLauncher(lumora::fuzz::Input input) {
    FakePlatform platform;
    const auto flags = input.Take<std::uint8_t>();
    platform.fileExists = (flags & 1) != 0;
    platform.startSucceeds = (flags & 2) != 0;
    platform.path = TakeValue(input);
    platform.location = TakeValue(input);

    lumora::StartSysInfo(platform);
    // A PATH value that was read, or whose read failed, is final.
    const RawValue& p = platform.path;
    if (p.keyOpens && p.status == 0 && p.size <= kBufferSize) FUZZ_CHECK(!platform.askedForLocation);
    // Every key it opened is closed again.
    FUZZ_CHECK(platform.keysOpen == 0);
    // One outcome: a started tool, or the one message.
    FUZZ_CHECK(platform.starts <= 1);
    FUZZ_CHECK(platform.messages <= 1);
    FUZZ_CHECK((platform.starts == 1 && platform.startSucceeds) != (platform.messages == 1));
    // Nothing is started from an empty command line.
    if (platform.starts == 1) FUZZ_CHECK(!platform.started.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lumora::fuzz::Input input(data, size);
    const auto type = input.Take<std::uint32_t>();
    const auto reported = input.Take<std::uint32_t>();
    // Small types and sizes near the data are where the cases differ.
    const std::uint32_t valueType = (type & 0x80000000u) ? type : type % 12;
    const std::uint32_t valueSize = (reported & 0x80000000u) ? reported : reported % 1100;
    CheckDecoding(valueType, valueSize, std::span<const std::uint8_t>(input.data(), input.size()));
    CheckLauncher(lumora::fuzz::Input(data, size));
    return 0;
}
