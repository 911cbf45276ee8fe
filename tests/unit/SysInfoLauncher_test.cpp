#include "about/SysInfoLauncher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace lumora {
namespace {

using Bytes = std::vector<std::uint8_t>;

// As the registry and the design name them.
constexpr std::uint32_t kTypeSz = 1, kTypeExpandSz = 2, kTypeDword = 4;
constexpr std::size_t kBufferSize = 1024;
const std::string kPathKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const std::string kFolderKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
const std::wstring kMessage = L"この環境ではシステム情報を使用できません。";

Bytes Sz(std::string_view text, bool terminated = true) {
    Bytes bytes(text.begin(), text.end());
    if (terminated) bytes.push_back(0);
    return bytes;
}

constexpr long kFileNotFound = 2;
constexpr long kMoreData = 234;

struct FakeValue {
    std::uint32_t type = kTypeSz;
    Bytes data;
};

// A registry, file system, process starter and message box that only record.
class FakePlatform : public SysInfoPlatform {
public:
    std::map<std::string, std::map<std::string, FakeValue>> keys;
    std::set<std::string> lockedKeys;  // exist, but refuse to open
    std::set<std::wstring> normalFiles;
    std::set<std::wstring> startable;

    std::vector<std::string> queries;  // "key|value" in order
    std::vector<std::string> opened;   // every key asked for, openable or not
    std::vector<std::wstring> listed;
    std::vector<std::wstring> started;
    std::vector<std::wstring> launched;  // the starts that succeeded
    std::vector<std::wstring> messages;
    int openKeys = 0;
    bool buffersWereClean = true;

    class Key : public RegistryKey {
    public:
        Key(FakePlatform& owner, std::string name) : owner_(owner), name_(std::move(name)) { ++owner_.openKeys; }
        ~Key() override { --owner_.openKeys; }
        long QueryValue(std::string_view valueName, std::uint32_t& type, std::span<std::uint8_t> buffer,
                        std::uint32_t& size) override {
            owner_.queries.push_back(name_ + "|" + std::string(valueName));
            if (buffer.size() != kBufferSize || size != kBufferSize ||
                std::any_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b != 0; }))
                owner_.buffersWereClean = false;
            const auto& values = owner_.keys.at(name_);
            const auto it = values.find(std::string(valueName));
            if (it == values.end()) return kFileNotFound;
            type = it->second.type;
            if (it->second.data.size() > buffer.size()) {
                size = static_cast<std::uint32_t>(it->second.data.size());
                return kMoreData;
            }
            std::copy(it->second.data.begin(), it->second.data.end(), buffer.begin());
            size = static_cast<std::uint32_t>(it->second.data.size());
            return 0;
        }

    private:
        FakePlatform& owner_;
        std::string name_;
    };

    std::unique_ptr<RegistryKey> OpenKey(RegistryRoot, std::string_view keyName) override {
        const std::string name(keyName);
        opened.push_back(name);
        if (!keys.contains(name) || lockedKeys.contains(name)) return nullptr;
        return std::make_unique<Key>(*this, name);
    }
    // Latin-1 stands in for the ANSI code page.
    std::wstring FromAnsi(std::string_view bytes) override {
        std::wstring text;
        for (unsigned char c : bytes) text += static_cast<wchar_t>(c);
        return text;
    }
    bool IsNormalFile(const std::wstring& path) override {
        listed.push_back(path);
        return normalFiles.contains(path);
    }
    bool StartProgram(const std::wstring& path) override {
        started.push_back(path);
        if (!startable.contains(path)) return false;
        launched.push_back(path);
        return true;
    }
    void ShowMessage(std::wstring_view text) override { messages.emplace_back(text); }

    void SetPath(FakeValue value) { keys[kPathKey]["PATH"] = std::move(value); }
    void SetFolder(FakeValue value) { keys[kFolderKey]["MSINFO"] = std::move(value); }
    bool FolderConsulted() const {
        return std::find(opened.begin(), opened.end(), kFolderKey) != opened.end();
    }
};

const std::wstring kToolPath = L"C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo\\msinfo32.exe";
const std::wstring kFolder = L"C:\\Tools";
const std::wstring kFolderTool = L"C:\\Tools\\MSINFO32.EXE";

// --- DecodeKeyValue -------------------------------------------------------

struct DecodeCase {
    const char* name;
    std::uint32_t type;
    Bytes data;
    std::uint32_t size;  // as reported by the query
    DecodedValue::Kind kind;
    std::string ansi;
    std::wstring text;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class DecodeKeyValueTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeKeyValueTest, RawValueBecomesText) {
    const auto& c = GetParam();
    Bytes buffer(kBufferSize, 0);
    std::copy(c.data.begin(), c.data.end(), buffer.begin());
    const DecodedValue value = DecodeKeyValue(c.type, buffer, c.size);
    EXPECT_EQ(value.kind, c.kind);
    EXPECT_EQ(value.ansi, c.ansi);
    EXPECT_EQ(value.text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, DecodeKeyValueTest,
    ::testing::Values(
        DecodeCase{"TerminatedString", kTypeSz, Sz("C:\\x.exe"), 9, DecodedValue::Kind::AnsiText, "C:\\x.exe", L""},
        DecodeCase{"StringWithoutTerminatorKeepsLastCharacter", kTypeSz, Sz("C:\\x.exe", false), 8,
                   DecodedValue::Kind::AnsiText, "C:\\x.exe", L""},
        DecodeCase{"OnlyTheTerminator", kTypeSz, Bytes{0}, 1, DecodedValue::Kind::AnsiText, "", L""},
        DecodeCase{"OnlyOneTerminatorIsDropped", kTypeSz, Bytes{'a', 0, 0}, 3, DecodedValue::Kind::AnsiText,
                   std::string("a\0", 2), L""},
        DecodeCase{"SizeZeroIsAnError", kTypeSz, Bytes{}, 0, DecodedValue::Kind::Error, "", L""},
        DecodeCase{"SizeZeroOfAnyTypeIsAnError", 3, Bytes{}, 0, DecodedValue::Kind::Error, "", L""},
        DecodeCase{"ExpandableStringGivesNoText", kTypeExpandSz, Sz("%SystemRoot%\\x.exe"), 19,
                   DecodedValue::Kind::Unchanged, "", L""},
        DecodeCase{"BinaryGivesNoText", 3, Bytes{1, 2, 3}, 3, DecodedValue::Kind::Unchanged, "", L""},
        DecodeCase{"MultiStringGivesNoText", 7, Bytes{'a', 0, 0}, 3, DecodedValue::Kind::Unchanged, "", L""},
        DecodeCase{"Number", kTypeDword, Bytes{0x39, 0x30, 0, 0}, 4, DecodedValue::Kind::Text, "", L"12345"},
        DecodeCase{"NumberZero", kTypeDword, Bytes{0, 0, 0, 0}, 4, DecodedValue::Kind::Text, "", L"0"},
        DecodeCase{"NumberLeastSignificantByteFirst", kTypeDword, Bytes{0x01, 0x02, 0x03, 0x04}, 4,
                   DecodedValue::Kind::Text, "", L"67305985"},
        DecodeCase{"NumberAboveTwoToThe31", kTypeDword, Bytes{0xFF, 0xFF, 0xFF, 0xFF}, 4, DecodedValue::Kind::Text,
                   "", L"4294967295"},
        DecodeCase{"ShortNumberReadsFromTheZeroedBuffer", kTypeDword, Bytes{0x07}, 1, DecodedValue::Kind::Text, "",
                   L"7"},
        DecodeCase{"ReportedSizeBeyondTheBufferIsClamped", kTypeSz, Sz(std::string(1023, 'x')), 5000,
                   DecodedValue::Kind::AnsiText, std::string(1023, 'x'), L""},
        DecodeCase{"FullBufferWithoutTerminator", kTypeSz, Sz(std::string(1024, 'y'), false), 1024,
                   DecodedValue::Kind::AnsiText, std::string(1024, 'y'), L""}),
    [](const auto& info) { return std::string(info.param.name); });

// --- key access -----------------------------------------------------------

// Regression: the keys were opened with write rights never used, so a standard
// user, who may only read them, could not open them at all.
TEST(SysInfoKeyAccess, AsksForReadingOnly) {
    constexpr std::uint32_t kWriteRights = 0x0002 /* set value */ | 0x0004 /* create sub-key */ |
                                           0x0020 /* create link */ | 0x10000 /* delete */ |
                                           0x40000 /* write DAC */ | 0x80000 /* write owner */;
    for (bool is32Bit : {false, true}) {
        const std::uint32_t access = SysInfoKeyAccess(is32Bit);
        EXPECT_EQ(access & kWriteRights, 0u) << is32Bit;
        EXPECT_EQ(access & 0x0001u, 0x0001u) << "query value, " << is32Bit;
        EXPECT_EQ(access & 0x0200u, 0u) << "never the 32-bit view";
    }
    // A 32-bit build on 64-bit Windows reads the native view the tool writes;
    // a 64-bit build has no other view and names none.
    EXPECT_EQ(SysInfoKeyAccess(true) & 0x0300u, 0x0100u);
    EXPECT_EQ(SysInfoKeyAccess(false) & 0x0300u, 0u);
}

// --- GetKeyValue ----------------------------------------------------------

TEST(GetKeyValue, ReadsAStringThroughThePlatformConversion) {
    FakePlatform p;
    p.SetPath({kTypeSz, Bytes{'C', ':', '\\', 0xE9, 0}});
    std::wstring value = L"old";
    EXPECT_EQ(GetKeyValue(p, RegistryRoot::LocalMachine, kPathKey, "PATH", value), KeyValueResult::Read);
    EXPECT_EQ(value, L"C:\\\u00E9");
    EXPECT_TRUE(p.buffersWereClean);
    EXPECT_EQ(p.openKeys, 0);
}

TEST(GetKeyValue, OtherTypesLeaveTheOutputAsItWas) {
    FakePlatform p;
    p.SetPath({kTypeExpandSz, Sz("%windir%\\x.exe")});
    std::wstring value = L"kept";
    EXPECT_EQ(GetKeyValue(p, RegistryRoot::LocalMachine, kPathKey, "PATH", value), KeyValueResult::Read);
    EXPECT_EQ(value, L"kept");
    EXPECT_EQ(p.openKeys, 0);
}

TEST(GetKeyValue, MissingKeyValueOrTooBigEmptiesTheOutput) {
    FakePlatform p;
    p.keys[kFolderKey];  // key without values
    p.SetPath({kTypeSz, Sz(std::string(1024, 'x'))});  // 1025 bytes with the terminator
    p.keys["Locked"]["PATH"] = {kTypeSz, Sz("C:\\x.exe")};
    p.lockedKeys.insert("Locked");
    for (std::string_view key : {"No\\Such\\Key", kFolderKey.c_str(), kPathKey.c_str(), "Locked"}) {
        std::wstring value = L"old";
        EXPECT_EQ(GetKeyValue(p, RegistryRoot::LocalMachine, key, "PATH", value), KeyValueResult::NotRead) << key;
        EXPECT_EQ(value, L"") << key;
    }
    EXPECT_EQ(p.openKeys, 0);
}

TEST(GetKeyValue, ValueFillingTheBufferExactlyIsRead) {
    FakePlatform p;
    p.SetPath({kTypeSz, Sz(std::string(1023, 'x'))});
    std::wstring value;
    EXPECT_EQ(GetKeyValue(p, RegistryRoot::LocalMachine, kPathKey, "PATH", value), KeyValueResult::Read);
    EXPECT_EQ(value, std::wstring(1023, L'x'));
}

TEST(GetKeyValue, SizeZeroFailsAfterClosingTheKey) {
    FakePlatform p;
    p.SetPath({kTypeSz, Bytes{}});
    std::wstring value = L"old";
    EXPECT_EQ(GetKeyValue(p, RegistryRoot::LocalMachine, kPathKey, "PATH", value), KeyValueResult::Failed);
    EXPECT_EQ(p.openKeys, 0);
}

TEST(GetKeyValue, EachQueryGetsAFreshZeroedBuffer) {
    FakePlatform p;
    p.SetPath({kTypeSz, Sz(std::string(1000, 'z'))});
    p.SetFolder({kTypeSz, Sz("C:")});
    std::wstring value;
    GetKeyValue(p, RegistryRoot::LocalMachine, kPathKey, "PATH", value);
    GetKeyValue(p, RegistryRoot::LocalMachine, kFolderKey, "MSINFO", value);
    EXPECT_TRUE(p.buffersWereClean);
    EXPECT_EQ(value, L"C:");
}

// --- StartSysInfo ---------------------------------------------------------

// Every way to a startable program: the PATH value's, else the folder's
// MSINFO32.EXE (the one file ever checked there). Both could be started.
TEST(StartSysInfo, StartsThePathsProgramElseTheFoldersOne) {
    const struct {
        const char* what;
        std::optional<FakeValue> path;
        bool pathKeyLocked;
        std::wstring starts;
    } cases[] = {
        {"PATH naming a program",
         FakeValue{kTypeSz, Sz("C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo\\msinfo32.exe")}, false,
         kToolPath},
        {"no PATH value", std::nullopt, false, kFolderTool},
        {"PATH too big to be a path", FakeValue{kTypeSz, Sz(std::string(2000, 'x'))}, false, kFolderTool},
        {"PATH's key locked counts as absent", FakeValue{kTypeSz, Sz("C:\\x.exe")}, true, kFolderTool},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakePlatform p;
        if (c.path) p.SetPath(*c.path);
        if (c.pathKeyLocked) p.lockedKeys.insert(kPathKey);
        p.SetFolder({kTypeSz, Sz("C:\\Tools")});
        p.normalFiles.insert(kFolderTool);
        p.startable = {kToolPath, kFolderTool};
        StartSysInfo(p);
        EXPECT_EQ(p.started, std::vector<std::wstring>{c.starts});
        EXPECT_TRUE(p.messages.empty());
        const bool fromFolder = c.starts == kFolderTool;
        EXPECT_EQ(p.FolderConsulted(), fromFolder);
        EXPECT_EQ(p.listed, fromFolder ? std::vector<std::wstring>{kFolderTool} : std::vector<std::wstring>{});
        EXPECT_EQ(p.openKeys, 0);
    }
}

TEST(StartSysInfo, PathFoundButNotStartableGivesTheMessageWithoutTheFolder) {
    FakePlatform p;
    p.SetPath({kTypeSz, Sz("C:\\Missing\\msinfo32.exe")});
    p.SetFolder({kTypeSz, Sz("C:\\Tools")});
    p.normalFiles.insert(kFolderTool);
    p.startable.insert(kFolderTool);
    StartSysInfo(p);
    EXPECT_EQ(p.started, std::vector<std::wstring>{L"C:\\Missing\\msinfo32.exe"});
    EXPECT_EQ(p.messages, std::vector<std::wstring>{kMessage});
    EXPECT_FALSE(p.FolderConsulted());
    EXPECT_TRUE(p.listed.empty());
}

struct MessageCase {
    const char* name;
    std::optional<FakeValue> path;
    std::optional<FakeValue> folder;
    bool folderFileIsNormal;  // false: missing, hidden or system
    bool folderConsulted;
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.name; }

class StartSysInfoMessageTest : public ::testing::TestWithParam<MessageCase> {};

// Every way of not finding a startable program ends in the one message and
// starts nothing.
TEST_P(StartSysInfoMessageTest, ShowsTheOneMessage) {
    const auto& c = GetParam();
    FakePlatform p;
    if (c.path) p.SetPath(*c.path);
    if (c.folder) p.SetFolder(*c.folder);
    if (c.folderFileIsNormal) p.normalFiles = {kFolderTool, L"\\MSINFO32.EXE"};
    // Whatever might be started could be; only the decision may refuse.
    p.startable = {kFolderTool, kToolPath, L"", L"\\MSINFO32.EXE"};
    StartSysInfo(p);
    EXPECT_EQ(p.messages, std::vector<std::wstring>{kMessage});
    EXPECT_TRUE(p.launched.empty());
    EXPECT_EQ(p.FolderConsulted(), c.folderConsulted);
    EXPECT_EQ(p.openKeys, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, StartSysInfoMessageTest,
    ::testing::Values(
        MessageCase{"NothingInTheRegistry", std::nullopt, std::nullopt, false, true},
        MessageCase{"FolderLacksTheFile", std::nullopt, FakeValue{kTypeSz, Sz("C:\\Tools")}, false, true},
        MessageCase{"PathExpandableCountsAsFoundButEmpty", FakeValue{kTypeExpandSz, Sz("C:\\x.exe")},
                    FakeValue{kTypeSz, Sz("C:\\Tools")}, true, false},
        MessageCase{"PathSizeZero", FakeValue{kTypeSz, Bytes{}}, FakeValue{kTypeSz, Sz("C:\\Tools")}, true, false},
        MessageCase{"PathOnlyATerminator", FakeValue{kTypeSz, Bytes{0}}, FakeValue{kTypeSz, Sz("C:\\Tools")}, true,
                    false},
        MessageCase{"PathNumber", FakeValue{kTypeDword, Bytes{1, 0, 0, 0}}, FakeValue{kTypeSz, Sz("C:\\Tools")}, true,
                    false},
        MessageCase{"FolderSizeZero", std::nullopt, FakeValue{kTypeSz, Bytes{}}, true, true},
        MessageCase{"FolderEmpty", std::nullopt, FakeValue{kTypeSz, Bytes{0}}, true, true},
        MessageCase{"FolderExpandable", std::nullopt, FakeValue{kTypeExpandSz, Sz("C:\\Tools")}, true, true},
        MessageCase{"FolderTooBig", std::nullopt, FakeValue{kTypeSz, Sz(std::string(1100, 'd'))}, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StartSysInfo, FolderFileThatWillNotStartGivesTheMessage) {
    FakePlatform p;
    p.SetFolder({kTypeSz, Sz("C:\\Tools")});
    p.normalFiles.insert(kFolderTool);
    StartSysInfo(p);
    EXPECT_EQ(p.started, std::vector<std::wstring>{kFolderTool});
    EXPECT_EQ(p.messages.size(), 1u);
}

TEST(StartSysInfo, PressingAgainDecidesAfresh) {
    FakePlatform p;
    StartSysInfo(p);
    EXPECT_EQ(p.messages.size(), 1u);
    p.SetPath({kTypeSz, Sz("C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo\\msinfo32.exe")});
    p.startable.insert(kToolPath);
    StartSysInfo(p);
    EXPECT_EQ(p.messages.size(), 1u);
    EXPECT_EQ(p.started, std::vector<std::wstring>{kToolPath});
}

}  // namespace
}  // namespace lumora
