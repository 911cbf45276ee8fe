#pragma once
// What the saver and its picture helper share: one memory section that the
// saver makes and hands to the helper, holding a header, one request, one
// reply and the fitted pixels. The helper may be compromised by the file it
// reads, so the saver copies a reply out before it looks at it and trusts
// nothing in it beyond "request N: these W x H pixels at this place, or none".
//
// The sequence, one helper's life:
//  1. The saver writes the header (magic, version, handles, display profile,
//     pixel area) and starts the helper with the section as its standard input.
//  2. Ready. The helper creates its imaging factory and prepares the test
//     picture built into it through the same path as any picture, into the
//     pixel area; then writes reply {id 0, Ready, abilities} or {id 0, Unable,
//     failed step, code} and signals the reply event. The saver sends nothing
//     before Ready; Unable, an end before Ready, or no Ready within
//     kReadyBudgetMs is a failed start (the saver steps down its ladder).
//  3. Request. The saver writes `request` (a new id each time) and signals the
//     request event; only while no request is under way.
//  4. Cancel. The saver may store the id in `cancel` at any time; the helper
//     looks between steps and answers Cancelled.
//  5. Stamp. As soon as the file is open the helper writes `openedStamp`, then
//     `stampFor` = the id, so a preparation that never ends still leaves it.
//  6. Reply. The helper writes `reply` (id, kind, place, stamp) and the pixels,
//     then signals the reply event and waits for the next request. The saver
//     copies the reply out, checks it (PictureInReply) and copies the pixels.
//  7. End. The helper ends when the saver's process ends (it watches it), when
//     its job's handle closes, or when the saver ends it (over a budget, no
//     longer wanted, or the show asleep); the saver sees the process handle
//     signalled. The helper never writes the header or the request.
#include "common/Geometry.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace lumora {

// A file as it was when it was read: a result prepared ahead is used at its
// tick only while its file is unchanged.
struct FileStamp {
    // Non-zero for a file, not a folder, by that name. A plain number, not a
    // bool: a stamp crosses over from the helper, where any bytes may come.
    std::uint32_t present = 0;
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;
    bool operator==(const FileStamp&) const = default;
};

inline constexpr char kChannelMagic[16] = "Lumora pictures";
inline constexpr std::uint32_t kChannelVersion = 2;
// Larger than any real colour profile (a CMYK lookup table is a few MiB at
// most): the longest display profile the channel carries, and the longest
// profile the helper trusts.
inline constexpr std::size_t kMaxProfileBytes = 8u << 20;
// Room for the longest path Windows allows, terminator included.
inline constexpr std::size_t kChannelPathChars = 32768;

enum class ReplyKind : std::uint32_t {
    None = 0,
    Ready = 1,        // the helper has started and waits for requests
    Picture = 2,      // fitted pixels are in the section
    NotAPicture = 3,  // missing, unreadable, refused, or it cannot be placed
    Unchanged = 4,    // the file is as the request's stamp says; nothing was decoded
    Cancelled = 5,    // the saver no longer wanted it
    Unable = 6,       // the helper has started but cannot prepare pictures
};

// What a helper that has started can do, in its Ready reply.
enum HelperAbility : std::uint32_t {
    kAbleToDecode = 1,           // its test picture came out right
    kAbleToConvertColours = 2,   // the colour management module converts
};

// The steps of a helper's start that can fail, in an Unable reply.
enum class HelperStep : std::uint32_t {
    Com = 1,
    ImagingFactory = 2,
    TestDecoder = 3,
    TestFrame = 4,
    TestScale = 5,
    TestConvert = 6,
    TestCopy = 7,
    TestPixels = 8,
};
// For the saver's trail; the number comes from the helper, so any number has a name.
const wchar_t* HelperStepName(std::uint32_t step);

struct ChannelRequest {
    std::uint32_t id = 0;
    std::int32_t clientWidth = 0;
    std::int32_t clientHeight = 0;
    std::uint32_t hasKnown = 0;  // non-zero: answer Unchanged when the file still has stamp `known`
    FileStamp known;
    std::uint32_t pathLength = 0;  // in UTF-16 units, without a terminator
    char16_t path[kChannelPathChars] = {};
};

struct ChannelReply {
    std::uint32_t id = 0;
    ReplyKind kind = ReplyKind::None;
    std::int32_t left = 0;  // where the pixels go in the client area; they lie top-down,
    std::int32_t top = 0;   // 4 bytes each, width * 4 to a row, from the pixel offset on
    std::int32_t width = 0;
    std::int32_t height = 0;
    FileStamp stamp;  // the file as it was opened
    // Ready: HelperAbility bits. Unable: the HelperStep that failed and its code.
    std::uint32_t abilities = 0;
    std::uint32_t failedStep = 0;
    std::uint32_t failureCode = 0;
};

struct ChannelHeader {
    char magic[16] = {};
    std::uint32_t version = 0;
    std::uint32_t saverProcessId = 0;
    // Handles the helper inherits, as numbers: signalled by the saver when a
    // request is in place, by the helper when its reply is, and the saver's
    // own process, whose end ends the helper.
    std::uint64_t requestEvent = 0;
    std::uint64_t replyEvent = 0;
    std::uint64_t saverProcess = 0;
    // The display's colour profile, for the helper to read once, and the
    // pixels; offsets from the start of the section.
    std::uint64_t profileOffset = 0;
    std::uint64_t profileBytes = 0;
    std::uint64_t pixelOffset = 0;
    std::uint64_t pixelBytes = 0;
    ChannelRequest request;
    // The request the saver no longer wants; the helper looks between steps.
    std::atomic<std::uint32_t> cancel{0};
    // The file's stamp, written as soon as the file is opened, so that even a
    // preparation that never ends leaves it behind for the saver.
    std::atomic<std::uint32_t> stampFor{0};
    FileStamp openedStamp;
    ChannelReply reply;
};

// The parts of the section after the header start on these boundaries.
inline constexpr std::uint64_t kChannelAlignment = 0x10000;
inline constexpr std::uint64_t ChannelAligned(std::uint64_t offset) {
    return (offset + kChannelAlignment - 1) & ~(kChannelAlignment - 1);
}

// The place of the pixels a Picture reply to request `asked` announces, when
// they fit the client area asked for and the section's pixel bytes; nothing
// for any other reply.
std::optional<PixelRect> PictureInReply(const ChannelReply& reply, std::uint32_t asked, std::int32_t clientWidth,
                                        std::int32_t clientHeight, std::uint64_t pixelBytes);

}  // namespace lumora
