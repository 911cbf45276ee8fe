#include "saver/HelperStart.h"

#include <cstdio>

namespace lumora {
namespace {

wchar_t Folded(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SameText(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Folded(a[i]) != Folded(b[i])) return false;
    return true;
}

bool StartsWith(std::wstring_view text, std::wstring_view start) {
    return text.size() >= start.size() && SameText(text.substr(0, start.size()), start);
}

std::wstring_view WithoutTrailingSlash(std::wstring_view folder) {
    while (!folder.empty() && folder.back() == L'\\') folder.remove_suffix(1);
    return folder;
}

// System32's subfolders that a 32-bit process sees unredirected.
constexpr std::wstring_view kNotRedirected[] = {L"catroot\\", L"catroot2\\", L"driverstore\\", L"drivers\\etc\\",
                                                L"logfiles\\", L"spool\\"};

std::wstring_view Name(Rung r) {
    switch (r) {
    case Rung::LowIntegrityInJob: return L"restricted token, low integrity, in its job";
    case Rung::MediumIntegrityInJob: return L"restricted token, medium integrity, in its job";
    case Rung::OwnTokenInJob: return L"the user's own token, in its job";
    case Rung::OwnTokenNoJob: return L"the user's own token, no job";
    }
    return L"";
}

std::wstring RungText(Rung r) {
    return L"rung " + std::to_wstring(static_cast<int>(r) + 1) + L" (" + std::wstring(Name(r)) + L")";
}

constexpr std::wstring_view kPrefix = L"Lumora picture helper: ";

}  // namespace

void HelperLadder::Failed() {
    if (rung_ == Rung::OwnTokenNoJob) {
        spent_ = true;
        return;
    }
    rung_ = static_cast<Rung>(static_cast<int>(rung_) + 1);
}

std::wstring HelperExecutable(std::wstring_view modulePath, std::wstring_view systemFolder,
                              std::wstring_view windowsFolder, bool wow64) {
    const std::wstring path(modulePath);
    if (!wow64 || systemFolder.empty() || windowsFolder.empty()) return path;
    // The extended-length form names the same folder.
    constexpr std::wstring_view kExtended = L"\\\\?\\";
    std::wstring_view plain = modulePath;
    if (StartsWith(plain, kExtended) && !StartsWith(plain, L"\\\\?\\UNC\\")) plain.remove_prefix(kExtended.size());
    const std::wstring system = std::wstring(WithoutTrailingSlash(systemFolder)) + L"\\";
    if (!StartsWith(plain, system)) return path;
    const std::wstring_view inside = plain.substr(system.size());
    for (std::wstring_view exempt : kNotRedirected)
        if (StartsWith(inside, exempt)) return path;
    return std::wstring(WithoutTrailingSlash(windowsFolder)) + L"\\Sysnative\\" + std::wstring(inside);
}

JobEntry ChooseJobEntry(bool jobListAtCreation, bool saverInJob, bool saverJobAllowsBreakaway) {
    if (jobListAtCreation) return JobEntry::AtCreation;
    if (saverInJob && saverJobAllowsBreakaway) return JobEntry::BreakawayThenAssign;
    return JobEntry::AssignAfterCreation;
}

std::wstring TrailRung(Rung rung) { return std::wstring(kPrefix) + L"starting on " + RungText(rung); }

std::wstring TrailFailed(std::wstring_view what, std::uint32_t code, Rung rung) {
    wchar_t hex[16];
    std::swprintf(hex, std::size(hex), L"0x%08X", code);
    return std::wstring(kPrefix) + std::wstring(what) + L", code " + hex + L", " + RungText(rung);
}

std::wstring TrailSpent() {
    return std::wstring(kPrefix) + L"no rung works; pictures stay black, one start is tried per picture";
}

}  // namespace lumora
