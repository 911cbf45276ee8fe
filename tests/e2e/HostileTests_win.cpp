// The slideshow against hostile picture files: broken, truncated, huge,
// misnamed, locked. Whatever the file, the saver stays alive and responsive,
// each tick comes back quickly, a bad file leaves the screen black and a good
// one is shown. The corpus comes from tools/hostile-corpus.sh through
// LUMORA_HOSTILE_CORPUS.
#include "picture/PictureStream_win.h"
#include "tools/driver/Lumora_win.h"

#include <gtest/gtest.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace lumora::e2e {
namespace {

constexpr int kPictures = 50;
// Beyond this the saver counts as hung. Slow pictures are only listed: speed
// belongs to the benchmark, not to a pass/fail test.
constexpr UINT kHungMs = 30000;
constexpr double kSlowMs = 2000;
// Pictures over 250 megapixels are not pictures: they are never shown.
constexpr std::uint64_t kBudgetPixels = 250'000'000;

std::wstring CorpusFolder() {
    wchar_t buffer[MAX_PATH * 4];
    const DWORD n = ::GetEnvironmentVariableW(L"LUMORA_HOSTILE_CORPUS", buffer, static_cast<DWORD>(std::size(buffer)));
    return (n > 0 && n < std::size(buffer)) ? std::wstring(buffer, n) : std::wstring();
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!find) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (::FindNextFileW(find.get(), &found));
    std::sort(names.begin(), names.end());
    return names;
}

// What the screen should show for a file, judged by decoding it here with the
// same imaging component: a small copy is enough to tell black from not.
enum class Expect { Black, Picture, Either };

// The size a GIF, PNG or JPEG header declares: a GIF's logical screen counts
// whatever its first frame's size, and the judge must not hand a huge
// picture to a decoder that decodes it whole before it can say how large it is.
std::uint64_t DeclaredPixels(const std::wstring& path) {
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::vector<BYTE> b(1 << 16);
    DWORD n = 0;
    if (!file || !::ReadFile(file.get(), b.data(), static_cast<DWORD>(b.size()), &n, nullptr)) return 0;
    const auto be16 = [&](size_t i) { return std::uint64_t{b[i]} << 8 | b[i + 1]; };
    const auto be32 = [&](size_t i) { return be16(i) << 16 | be16(i + 2); };
    if (n >= 10 && std::memcmp(b.data(), "GIF8", 4) == 0) return (b[6] | b[7] << 8ull) * (b[8] | b[9] << 8ull);
    if (n >= 24 && std::memcmp(b.data() + 12, "IHDR", 4) == 0) return be32(16) * be32(20);
    // JPEG: segments by their lengths up to the first frame header (C0-CF but C4, C8, CC).
    for (size_t i = 2; n >= 4 && b[0] == 0xFF && b[1] == 0xD8 && i + 9 <= n && b[i] == 0xFF; i += 2 + be16(i + 2)) {
        const BYTE m = b[i + 1];
        if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) return be16(i + 5) * be16(i + 7);
    }
    return 0;
}

Expect Judge(const std::wstring& path) {
    // Files made to overrun the helper's budgets or to hide their size say so
    // in their name; decoding them here would cost what they are made to cost.
    if (path.find(L".black.") != std::wstring::npos) return Expect::Black;
    if (DeclaredPixels(path) > kBudgetPixels) return Expect::Black;
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))))
        return Expect::Either;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    UINT w = 0, h = 0;
    if (FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                  WICDecodeMetadataCacheOnDemand, &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetSize(&w, &h)) || w == 0 || h == 0)
        return Expect::Black;
    if (std::uint64_t{w} * h > kBudgetPixels) return Expect::Black;
    const UINT side = 64;
    const UINT sw = std::max(1u, w >= h ? side : static_cast<UINT>(std::uint64_t{side} * w / h));
    const UINT sh = std::max(1u, h >= w ? side : static_cast<UINT>(std::uint64_t{side} * h / w));
    ComPtr<IWICBitmapScaler> scaler;
    ComPtr<IWICFormatConverter> converter;
    std::vector<std::uint32_t> pixels(static_cast<size_t>(sw) * sh);
    if (FAILED(factory->CreateBitmapScaler(&scaler)) ||
        FAILED(scaler->Initialize(frame.Get(), sw, sh, WICBitmapInterpolationModeNearestNeighbor)) ||
        FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(scaler.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr,
                                     0, WICBitmapPaletteTypeCustom)) ||
        FAILED(converter->CopyPixels(nullptr, sw * 4, static_cast<UINT>(pixels.size() * 4),
                                     reinterpret_cast<BYTE*>(pixels.data()))))
        return Expect::Black;
    // Premultiplied: transparent parts come out black, as on the saver's background.
    const bool visible = std::any_of(pixels.begin(), pixels.end(), [](std::uint32_t p) {
        return !NearColour(p & 0xFFFFFF, 0, 40);
    });
    return visible ? Expect::Picture : Expect::Either;
}

// What the screen shows: black, the marker put before each file, or a picture.
enum class Seen { Black, Marker, Picture };

// The marker: a small square at the centre, in a colour the corpus does not
// come close to filling a 16-pixel square with.
constexpr std::uint32_t kMarkerColour = 0xFF00FF;
constexpr int kMarkerSide = 16;

Seen Look() {
    const Image shot = CaptureScreen();
    const Box b = NonBlackBox(shot);
    if (b.empty()) return Seen::Black;
    if (b.right - b.left != kMarkerSide || b.bottom - b.top != kMarkerSide) return Seen::Picture;
    for (int y = b.top; y < b.bottom; ++y)
        for (int x = b.left; x < b.right; ++x)
            if (!NearColour(shot.At(x, y), kMarkerColour, 8)) return Seen::Picture;
    return Seen::Marker;
}

// A file of the corpus that harmed the saver, and how.
struct Finding {
    std::wstring file;
    std::string what;
};

// Each batch runs a fresh saver on up to 25 corpus files, each after the
// marker: KORVA001 the marker, KORVA002 a file, KORVA003 the marker, and so
// on. A tick from the marker to a file then shows that file's own outcome,
// black or a picture, as a visible change, however long the saver takes.
class HostileRun {
public:
    HostileRun(const std::wstring& corpus, std::vector<std::wstring> files)
        : corpus_(corpus), files_(std::move(files)), folder_(L"hostile") {
        EXPECT_TRUE(WritePicture(marker_, PictureFormat::Png, kMarkerSide, kMarkerSide, kMarkerColour));
    }

    void Run() {
        size_t next = 0;
        while (next < files_.size()) next = RunBatch(next);
    }

    const std::vector<Finding>& findings() const { return findings_; }
    const std::vector<Finding>& slow() const { return slow_; }
    double slowestMs() const { return slowestMs_; }
    double slowestAnswerMs() const { return slowestAnswerMs_; }
    double slowestNextMs() const { return slowestNextMs_; }
    const std::wstring& slowestFile() const { return slowestFile_; }
    int ticks() const { return ticks_; }
    int batches() const { return batches_; }
    int shown() const { return shown_; }
    int black() const { return black_; }

private:
    using Clock = std::chrono::steady_clock;

    // Runs files [first, first + 25) and returns where the next batch starts.
    size_t RunBatch(size_t first) {
        ++batches_;
        const size_t count = std::min<size_t>(kPictures / 2, files_.size() - first);
        for (int n = 1; n <= kPictures; ++n) ::DeleteFileW(folder_.file(PictureName(n)).c_str());
        for (size_t i = 0; i < count; ++i) {
            const int n = 2 * static_cast<int>(i) + 1;
            const std::wstring from = corpus_ + L"\\" + files_[first + i];
            EXPECT_TRUE(::CopyFileW(marker_.c_str(), folder_.file(PictureName(n)).c_str(), FALSE));
            EXPECT_TRUE(::CopyFileW(from.c_str(), folder_.file(PictureName(n + 1)).c_str(), FALSE))
                << WideToUtf8(files_[first + i]);
        }

        // The saver's own Timer1 first fires 10 s after it starts and would
        // move the cycle on behind our back: forced ticks stop well before,
        // and the next batch starts a fresh saver at the next file.
        const auto started = Clock::now();
        const auto lastTick = started + std::chrono::milliseconds(7000);
        const auto trusted = started + std::chrono::milliseconds(9500);
        Process saver = Process::Start(folder_.scr(), L"/s");
        HWND form1 = WaitForWindow(saver.pid(), kSlideshowCaption, kHungMs);
        if (!form1 || !WaitFor(Seen::Marker)) {
            findings_.push_back({files_[first], saver.Running() ? "the first picture never showed" : "crashed at load"});
            return first + 1;
        }
        size_t done = 0;
        while (done < count && Clock::now() < lastTick) {
            const std::wstring& file = files_[first + done];
            if (!TickAnswered(saver, form1, file)) return first + done + 1;
            // The file's own outcome: whatever replaces the marker. The
            // window is asked meanwhile how soon it answers.
            const auto t0 = Clock::now();
            Seen seen = Seen::Marker;
            WaitUntil(
                [&] {
                    NoteAnswer(form1);
                    return (seen = Look()) != Seen::Marker;
                },
                kHungMs, 20);
            Note(std::chrono::duration<double, std::milli>(Clock::now() - t0).count(), file);
            if (Clock::now() > trusted) {
                // Timer1 may have had a hand in it: once more, first in a fresh saver.
                if (done == 0) findings_.push_back({file, "took longer than the saver's own tick"});
                return End(saver, form1, first + done + (done == 0 ? 1 : 0));
            }
            Check(file, seen);
            ++done;
            const auto next = Clock::now();
            if (done < count && (!TickAnswered(saver, form1, file) || !WaitFor(Seen::Marker))) {
                findings_.push_back({file, "the marker after it never showed"});
                return End(saver, form1, first + done);
            }
            if (done < count)
                slowestNextMs_ = std::max(slowestNextMs_, std::chrono::duration<double, std::milli>(Clock::now() - next).count());
        }
        return End(saver, form1, first + done);
    }

    // Ends the saver the way a user does, so the desktop is given back.
    size_t End(Process& saver, HWND form1, size_t next) {
        if (!saver.Running()) return next;
        ::PostMessageW(form1, WM_CLOSE, 0, 0);
        if (!saver.WaitExit(5000)) {
            findings_.push_back({L"(batch)", "did not end on WM_CLOSE"});
            saver.Kill();
        }
        return next;
    }

    void NoteAnswer(HWND form1) {
        const auto t0 = Clock::now();
        DWORD_PTR result = 0;
        if (::SendMessageTimeoutW(form1, WM_NULL, 0, 0, SMTO_NORMAL, kHungMs, &result))
            slowestAnswerMs_ = std::max(slowestAnswerMs_, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }

    bool TickAnswered(Process& saver, HWND form1, const std::wstring& file) {
        DWORD_PTR result = 0;
        ++ticks_;
        if (::SendMessageTimeoutW(form1, WM_TIMER, kTimer1Id, 0, SMTO_NORMAL, kHungMs, &result) && saver.Running())
            return true;
        findings_.push_back({file, saver.Running() ? "the window stopped answering" : "crashed"});
        saver.Kill();
        return false;
    }

    static bool WaitFor(Seen wanted) { return WaitUntil([&] { return Look() == wanted; }, kHungMs, 20); }

    void Note(double ms, const std::wstring& file) {
        if (ms > kSlowMs) slow_.push_back({file, std::to_string(static_cast<int>(ms)) + " ms"});
        if (ms > slowestMs_) {
            slowestMs_ = ms;
            slowestFile_ = file;
        }
    }

    void Check(const std::wstring& file, Seen seen) {
        if (seen == Seen::Marker) {
            findings_.push_back({file, "neither shown nor black within 30 s"});
            return;
        }
        const Expect expect = Judge(corpus_ + L"\\" + file);
        if (expect == Expect::Either) return;
        if ((expect == Expect::Black) == (seen == Seen::Black)) {
            ++(seen == Seen::Black ? black_ : shown_);
            return;
        }
        findings_.push_back({file, expect == Expect::Black ? "unreadable file, but the screen is not black"
                                                           : "readable picture, but the screen stayed black"});
        CaptureScreen().Save(OutDir() + L"\\hostile-" + std::to_wstring(findings_.size()) + L".png");
    }

    std::wstring corpus_;
    std::vector<std::wstring> files_;
    TestFolder folder_;
    std::wstring marker_ = folder_.file(L"marker.png");
    std::vector<Finding> findings_;
    std::vector<Finding> slow_;
    double slowestMs_ = 0;
    double slowestAnswerMs_ = 0;  // the window asked while a file was prepared
    double slowestNextMs_ = 0;    // from the tick after a file to the marker on screen
    std::wstring slowestFile_;
    int ticks_ = 0;
    int batches_ = 0;
    int shown_ = 0;
    int black_ = 0;
};

TEST(Hostile, CorpusCyclesThroughTheSaverWithoutHarm) {
    const std::wstring corpus = CorpusFolder();
    // A skip would count as a pass in ctest.
    ASSERT_FALSE(corpus.empty()) << "LUMORA_HOSTILE_CORPUS is not set: make the corpus with "
                                    "tools/hostile-corpus.sh DIR and run with LUMORA_HOSTILE_CORPUS=DIR "
                                    "(tools/test.sh does both)";
    const std::vector<std::wstring> files = FilesIn(corpus);
    ASSERT_FALSE(files.empty()) << "no files in " << WideToUtf8(corpus);

    HostileRun run(corpus, files);
    run.Run();

    std::string report;
    for (const Finding& f : run.findings()) report += "  " + WideToUtf8(f.file) + ": " + f.what + "\n";
    std::printf("[ FIGURES  ] hostile corpus: the window answered within %.1f ms throughout; the picture after each "
                "file showed within %.0f ms of its tick; the saver never ended by itself: %s\n",
                run.slowestAnswerMs(), run.slowestNextMs(), run.findings().empty() ? "yes" : "see the findings");
    std::printf("hostile corpus: %zu files in %d batches, %d ticks; %d shown, %d black as expected; "
                "slowest from tick to screen %.0f ms (%s)\n",
                files.size(), run.batches(), run.ticks(), run.shown(), run.black(), run.slowestMs(),
                WideToUtf8(run.slowestFile()).c_str());
    std::string slow;
    for (const Finding& f : run.slow()) slow += "  " + WideToUtf8(f.file) + ": " + f.what + "\n";
    if (!slow.empty()) std::printf("over %.0f ms from tick to screen:\n%s", kSlowMs, slow.c_str());
    if (!report.empty()) std::printf("findings:\n%s", report.c_str());
    if (FILE* out = _wfopen((OutDir() + L"\\hostile-report.txt").c_str(), L"w")) {
        std::fprintf(out, "slowest %.0f ms: %s\nover %.0f ms:\n%sfindings:\n%s", run.slowestMs(),
                     WideToUtf8(run.slowestFile()).c_str(), kSlowMs, slow.c_str(), report.c_str());
        std::fclose(out);
    }
    EXPECT_TRUE(run.findings().empty()) << run.findings().size() << " files harmed the slideshow:\n" << report;
}

// What a codec can do to the helper that prepares a picture: fault, fail
// fast, or hang past the time budget. Each costs that picture, black for its
// interval, and a fresh helper serves the next; the window answers throughout.
TEST(Hostile, HelperFaultOrHangCostsOneBlackIntervalAndTheShowGoesOn) {
    constexpr std::uint32_t kRed = 0xE02020, kGreen = 0x20C020, kBlue = 0x2040E0;
    TestFolder folder(L"hostile-helper");
    ASSERT_TRUE(WritePicture(folder.file(PictureName(1)), PictureFormat::Png, 320, 240, kRed));
    // Prepared ahead the moment 1 shows: 48 megapixels keep the helper busy
    // for the best part of a second, and the harm comes meanwhile.
    ASSERT_TRUE(WritePicture(folder.file(PictureName(2)), PictureFormat::Jpeg, 8000, 6000, Grainy(kGreen)));
    ASSERT_TRUE(WritePicture(folder.file(PictureName(3)), PictureFormat::Png, 320, 240, kBlue));
    const struct {
        const char* what;
        bool (Process::*harm)() const;
        // A dead helper is seen at once, and the next tick asks for 2. A hung
        // one is only given up when the saver's own tick has asked for 2 and
        // the preparation has run out of its 10 s.
        bool dies;
    } cases[] = {
        {"access violation", &Process::Fault, true},
        {"fail-fast", &Process::FailFast, true},
        {"hung past the time budget", &Process::Suspend, false},
    };
    const auto centreBlack = [] {
        return IsBlack(ScreenPixel(::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2));
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Slideshow s = StartSlideshow(folder);
        ASSERT_NE(s.form, nullptr);
        ASSERT_TRUE(WaitForCentre(kRed));
        const Process helper = HelperOf(s);
        ASSERT_TRUE(helper.started());
        ASSERT_TRUE((helper.*c.harm)());
        if (c.dies) {
            ASSERT_TRUE(helper.WaitExit(2000)) << "the harm did not end the helper";
            Tick(s.form);
        }
        EXPECT_TRUE(WaitUntil(centreBlack, c.dies ? 5000 : 15000)) << "2 is no black interval";
        EXPECT_TRUE(helper.WaitExit(1000)) << "the harmed helper was not ended";
        DWORD_PTR ignored = 0;
        EXPECT_NE(::SendMessageTimeoutW(s.form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &ignored), 0);
        Tick(s.form);
        EXPECT_TRUE(WaitForCentre(kBlue, 10500)) << "the show did not go on";
        EXPECT_TRUE(s.process.Running());
        ::PostMessageW(s.form, WM_CLOSE, 0, 0);
        EXPECT_EQ(s.process.ExitCodeWithin(5000), 0u);
    }
}

// Whether the window answers a message within 100 ms.
bool Answers(HWND form) {
    DWORD_PTR ignored = 0;
    return ::SendMessageTimeoutW(form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &ignored) != 0;
}

// A helper that starts but cannot work (here: the imaging component is
// disabled for the whole run, which only the helper would load) is a failed
// start on every rung: the saver steps down the whole ladder, says why in its
// debug output, and goes on black with one start a tick, never a restart
// loop. A key still ends it.
TEST(HelperUnable, OnEveryRungTheLadderIsWalkedAndTheShowGoesOnBlack) {
    constexpr wchar_t kPrefix[] = L"Lumora picture helper: ";
    const wchar_t* const rungs[] = {L"rung 1 (restricted token, low integrity, in its job)",
                                    L"rung 2 (restricted token, medium integrity, in its job)",
                                    L"rung 3 (the user's own token, in its job)",
                                    L"rung 4 (the user's own token, no job)"};
    constexpr wchar_t kUnable[] = L"unable: the imaging factory (CoCreateInstance), code 0x";
    TestFolder folder(L"hostile-unable");
    // Written as bytes: the driver cannot encode pictures without the imaging component either.
    const std::vector<std::uint8_t> png = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00,
        0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x08, 0x02, 0x00, 0x00, 0x00, 0x26, 0x93, 0x09, 0x29, 0x00,
        0x00, 0x00, 0x10, 0x49, 0x44, 0x41, 0x54, 0x78, 0xDA, 0x63, 0x70, 0x68, 0x38, 0x00, 0x47, 0x0C, 0xC4,
        0x71, 0x00, 0x68, 0x52, 0x18, 0x01, 0x86, 0x2C, 0x9A, 0xF2, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E,
        0x44, 0xAE, 0x42, 0x60, 0x82};
    for (int n = 1; n <= 3; ++n) ASSERT_TRUE(folder.Write(PictureName(n), png));
    const DebuggedProcess saver(folder.scr(), L"/s");
    const HWND form = WaitForWindow(saver.process().pid(), kSlideshowCaption, 10000);
    ASSERT_NE(form, nullptr);
    const auto failures = [&] { return saver.Lines(kUnable).size(); };
    ASSERT_TRUE(WaitUntil([&] { return !saver.Lines(L"no rung works").empty(); }, 10000)) << "the ladder was not walked";
    // Each rung tried once, in order, each failure naming its rung, then spent.
    std::vector<std::wstring> expected;
    for (const wchar_t* rung : rungs) {
        expected.push_back(std::wstring(kPrefix) + L"starting on " + rung);
        expected.push_back(rung);  // the failure's line ends so
    }
    expected.push_back(std::wstring(kPrefix) + L"no rung works; pictures stay black, one start is tried per picture");
    const std::vector<std::wstring> trail = saver.Lines(kPrefix);
    ASSERT_EQ(trail.size(), expected.size());
    for (std::size_t i = 0; i < trail.size(); ++i) {
        SCOPED_TRACE(WideToUtf8(trail[i]));
        if (i % 2 == 1 && i + 1 < trail.size()) {
            EXPECT_EQ(trail[i].rfind(std::wstring(kPrefix) + kUnable, 0), 0u);
            EXPECT_TRUE(trail[i].ends_with(expected[i]));
        } else {
            EXPECT_EQ(trail[i], expected[i]);
        }
    }
    EXPECT_TRUE(IsBlack(ScreenPixel(::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2)));
    // Spent: one start, and one failure, for each picture the screen asks for.
    double slowestAnswerMs = 0;
    for (std::size_t tick = 1; tick <= 3; ++tick) {
        Tick(form);
        ASSERT_TRUE(WaitUntil(
            [&] {
                const auto t0 = std::chrono::steady_clock::now();
                EXPECT_TRUE(Answers(form));
                slowestAnswerMs = std::max(
                    slowestAnswerMs, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
                return failures() >= 4 + tick;
            },
            5000))
            << "tick " << tick << " tried no start";
        EXPECT_EQ(failures(), 4 + tick) << "more than one start for tick " << tick;
    }
    std::printf("[ FIGURES  ] helper unable on every rung: %zu failed starts for 3 ticks after the ladder; the window "
                "answered within %.1f ms throughout\n",
                failures() - 4, slowestAnswerMs);
    Activate(form);
    PressKey(VK_SPACE);
    EXPECT_EQ(saver.process().ExitCodeWithin(5000), 0u);
    EXPECT_TRUE(WaitUntil(TaskbarVisible, 2000));
    // A line is handed over before its writer goes on, so every start is in by now.
    EXPECT_EQ(failures(), 4u + 3u) << "starts went on between the ticks";
}

// Helpers killed from outside as they start (in the middle of their test
// picture, before they are ready), for a few ticks, cost those pictures; once
// the killing stops, the picture of the next tick or the one after shows,
// whatever rung the ladder has come down to.
TEST(Hostile, HelpersKilledAsTheyStartCostPicturesOnlyWhileTheKillingLasts) {
    const std::uint32_t colours[] = {0xE02020, 0x20C020, 0x2040E0, 0xE0E020, 0x20E0E0, 0xE020E0, 0xE0A040, 0x808080};
    TestFolder folder(L"hostile-killed");
    for (int n = 1; n <= 8; ++n)
        ASSERT_TRUE(WritePicture(folder.file(PictureName(n)), PictureFormat::Png, 320, 240, colours[n - 1]));
    const Slideshow s = StartSlideshow(folder);
    ASSERT_NE(s.form, nullptr);
    std::atomic<bool> killing{true};
    std::atomic<int> killed{0};
    std::thread killer([&] {
        // Killed once it has the imaging component: Wine's server can fall
        // over when a process is ended while it is still being created.
        std::map<DWORD, Process> helpers;
        WaitUntil(
            [&] {
                for (DWORD pid : ChildProcessIds(s.process.pid()))
                    if (!helpers.contains(pid)) helpers.emplace(pid, Process::Open(pid));
                for (auto& [pid, helper] : helpers)
                    if (helper.Running() && helper.HasModule(L"windowscodecs.dll")) {
                        helper.Kill();
                        ++killed;
                    }
                return !killing;
            },
            60000, 1);
        for (auto& [pid, helper] : helpers) helper.Release();
    });
    int next = 2;  // the picture the next tick asks for
    for (int tick = 0; tick < 4; ++tick, ++next) {
        Tick(s.form);
        EXPECT_TRUE(WaitUntil([&] { return Answers(s.form) && killed > tick; }, 5000)) << "no helper started to kill";
    }
    killing = false;
    killer.join();
    const int firstAfter = next;
    Tick(s.form);
    bool shown = WaitForCentre(colours[next - 1], 3000);
    if (!shown) {
        Tick(s.form);
        shown = WaitForCentre(colours[++next - 1], 3000);
    }
    EXPECT_TRUE(shown) << "no picture within two ticks after the killing stopped";
    std::printf("[ FIGURES  ] helpers killed as they start: %d killed over 4 ticks; the first picture after showed at "
                "tick %d of 2\n",
                killed.load(), next - firstAfter + 1);
    EXPECT_TRUE(s.process.Running());
    ::PostMessageW(s.form, WM_CLOSE, 0, 0);
    EXPECT_EQ(s.process.ExitCodeWithin(5000), 0u);
}

// The decoders' stream keeps its own place: the header, EXIF and colour
// readers read the same open file at offsets of their own in between (they
// do, between GetFrame and CopyPixels), and a codec that does not seek before
// each read still gets the bytes that follow its last.
TEST(Hostile, DecoderStreamKeepsItsPlaceAcrossHeaderReads) {
    TestFolder folder(L"hostile-stream");
    std::vector<std::uint8_t> bytes(4096);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 % 251);
    ASSERT_TRUE(folder.Write(L"file.bin", bytes));
    const UniqueFile file(::CreateFileW(folder.file(L"file.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    const FileSource source(file.get());
    ComPtr<IStream> stream;
    stream.Attach(new SourceStream(source));
    const auto readStream = [&](ULONG count) {
        std::vector<std::uint8_t> out(count);
        ULONG read = 0;
        stream->Read(out.data(), count, &read);
        out.resize(read);
        return out;
    };
    const auto slice = [&](std::size_t from, std::size_t count) {
        return std::vector<std::uint8_t>(bytes.begin() + from, bytes.begin() + from + count);
    };
    EXPECT_EQ(readStream(100), slice(0, 100));
    std::uint8_t header[16];
    ASSERT_EQ(source.ReadAt(3000, header), 16u);
    EXPECT_EQ(std::vector<std::uint8_t>(header, header + 16), slice(3000, 16));
    EXPECT_EQ(readStream(100), slice(100, 100)) << "a header read moved the stream";
    LARGE_INTEGER by{};
    by.QuadPart = 50;
    ULARGE_INTEGER at{};
    ASSERT_EQ(stream->Seek(by, STREAM_SEEK_CUR, &at), S_OK);
    EXPECT_EQ(at.QuadPart, 250u);
    ASSERT_EQ(source.ReadAt(10, header), 16u);
    EXPECT_EQ(readStream(10), slice(250, 10));
    by.QuadPart = -10;
    ASSERT_EQ(stream->Seek(by, STREAM_SEEK_END, &at), S_OK);
    EXPECT_EQ(readStream(20), slice(4086, 10)) << "a read past the end gives what is there";
    by.QuadPart = -1;
    EXPECT_NE(stream->Seek(by, STREAM_SEEK_SET, nullptr), S_OK) << "before the start";
}

// Names that are not files, and files that cannot be read, cost one black
// interval each and the cycle goes on.
TEST(Hostile, DirectoriesAndLockedFilesAreSkipped) {
    TestFolder folder(L"hostile-odd-entries");
    ASSERT_TRUE(::CreateDirectoryW(folder.file(PictureName(1)).c_str(), nullptr));
    ASSERT_TRUE(WritePicture(folder.file(PictureName(2)), PictureFormat::Png, 200, 100, 0xFF0000));
    ASSERT_TRUE(WritePicture(folder.file(PictureName(3)), PictureFormat::Png, 200, 100, 0x00FF00));
    ASSERT_TRUE(WritePicture(folder.file(PictureName(4)), PictureFormat::Png, 200, 100, 0x0000FF));
    // Held open with no sharing at all, as a virus scanner or a copy in progress might.
    const UniqueFile locked(::CreateFileW(folder.file(PictureName(3)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(locked);

    const Slideshow s = StartSlideshow(folder);
    const Process& saver = s.process;
    HWND form1 = s.form;
    ASSERT_NE(form1, nullptr);
    const auto tick = [&] {
        DWORD_PTR result = 0;
        return ::SendMessageTimeoutW(form1, WM_TIMER, kTimer1Id, 0, SMTO_NORMAL, 10000, &result) != 0;
    };
    const auto centre = [&] {
        const RECT r = ClientRectOnScreen(form1);
        return CaptureScreen().At((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    };

    EXPECT_TRUE(WaitUntil([] { return Look() == Seen::Black; }, 1500)) << "a directory is not a picture";
    ASSERT_TRUE(tick());
    EXPECT_TRUE(WaitUntil([&] { return NearColour(centre(), 0xFF0000); }, 1500)) << "the next file after it";
    ASSERT_TRUE(tick());
    EXPECT_TRUE(WaitUntil([] { return Look() == Seen::Black; }, 1500)) << "a file nobody may read";
    ASSERT_TRUE(tick());
    EXPECT_TRUE(WaitUntil([&] { return NearColour(centre(), 0x0000FF); }, 1500)) << "the cycle goes on";
    EXPECT_TRUE(saver.Running());

    ::PostMessageW(form1, WM_CLOSE, 0, 0);
    EXPECT_TRUE(saver.WaitExit(5000));
}

}  // namespace
}  // namespace lumora::e2e
