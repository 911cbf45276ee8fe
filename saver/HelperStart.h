#pragma once
// How the saver starts its picture helper, apart from the platform calls: the
// ladder of confinement it steps down when a start fails, the executable it
// starts, how the helper enters its job, and the trail a failed step leaves
// for whoever investigates. A helper starts only once it has proved it can
// prepare a picture, so a confinement that stops it from working costs one
// rung, not the whole show.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumora {

// From the most confined down.
enum class Rung : std::uint8_t {
    LowIntegrityInJob,     // restricted token at low integrity, in its job
    MediumIntegrityInJob,  // restricted token at the saver's own integrity, in its job
    OwnTokenInJob,         // the saver's own token, in its job
    OwnTokenNoJob,         // the saver's own token, no job
};

constexpr bool RestrictedToken(Rung r) { return r <= Rung::MediumIntegrityInJob; }
constexpr bool LowIntegrity(Rung r) { return r == Rung::LowIntegrityInJob; }
constexpr bool InJob(Rung r) { return r != Rung::OwnTokenNoJob; }

class HelperLadder {
public:
    Rung rung() const { return rung_; }
    // True once the last rung has failed too and has not worked since.
    bool spent() const { return spent_; }

    // Whether a helper may be started now, `shows` being the number of
    // pictures the screen has asked for so far. Until the ladder is spent
    // every start may go ahead (a failure steps down, so that is four at
    // most); after that one start per picture the screen asks for, so that
    // no restart loop ever spins.
    bool MayStart(std::uint32_t shows) const { return !spent_ || triedFor_ != shows; }
    void Starting(std::uint32_t shows) { triedFor_ = shows; }
    // The helper said it is able: this rung works.
    void Started() { spent_ = false; }
    // The start failed (not created, ended before it was ready, unable, or no
    // answer in time): one rung down for the rest of the show. A helper that
    // dies during a picture is that picture's fault, never the rung's.
    void Failed();

private:
    Rung rung_ = Rung::LowIntegrityInJob;
    bool spent_ = false;
    std::optional<std::uint32_t> triedFor_;
};

// The executable the helper is started from. A 32-bit build running under
// WOW64 from the real System32 (it was started from there, so its module path
// says System32) is started through Sysnative: by its System32 path a 32-bit
// process's start would be redirected to SysWOW64, where it does not lie.
// Folders that the redirector leaves alone keep their path. Paths compare
// without regard to the case of ASCII letters, as Windows compares them.
std::wstring HelperExecutable(std::wstring_view modulePath, std::wstring_view systemFolder,
                              std::wstring_view windowsFolder, bool wow64);

// How the helper enters its job. At its creation where the platform takes a
// job list there (Windows 10 and later); otherwise once it is created,
// breaking away from the saver's own job first where that job allows it
// (Windows 7 keeps a process in one job only; Windows 8 nests them).
enum class JobEntry { AtCreation, BreakawayThenAssign, AssignAfterCreation };
JobEntry ChooseJobEntry(bool jobListAtCreation, bool saverInJob, bool saverJobAllowsBreakaway);

// The trail, one line each, for a debug-output viewer: the rung a start is
// tried on, and what failed ("CreateProcessW failed", "ended before it was
// ready") with its Win32, NTSTATUS or HRESULT code.
std::wstring TrailRung(Rung rung);
std::wstring TrailFailed(std::wstring_view what, std::uint32_t code, Rung rung);
std::wstring TrailSpent();

}  // namespace lumora
