// The helper may be compromised by the file it reads, so a reply's bytes can
// be anything at all. The saver takes pixels from it only for the request it
// asked, inside its client area and the section's pixel bytes; checked here
// against the same rules in 64-bit arithmetic, where no sum can overflow.
#include "common/PictureChannel.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The reply as the helper left it in the section, then what the saver asked.
    lumora::fuzz::Input input(data, size);
    const auto reply = input.Take<lumora::ChannelReply>();
    const auto asked = input.Take<std::uint32_t>();
    const auto clientWidth = input.Take<std::int32_t>();
    const auto clientHeight = input.Take<std::int32_t>();
    const auto pixelBytes = input.Take<std::uint64_t>();

    const auto rect = lumora::PictureInReply(reply, asked, clientWidth, clientHeight, pixelBytes);
    const std::int64_t left = reply.left, top = reply.top, width = reply.width, height = reply.height;
    const bool fits = reply.id == asked && reply.kind == lumora::ReplyKind::Picture && width > 0 && height > 0 &&
                      left >= 0 && top >= 0 && left + width <= clientWidth && top + height <= clientHeight &&
                      static_cast<std::uint64_t>(width * height) * 4 <= pixelBytes;
    FUZZ_CHECK(rect.has_value() == fits);
    if (rect) {
        FUZZ_CHECK(rect->left == left && rect->top == top);
        FUZZ_CHECK(rect->right == left + width && rect->bottom == top + height);
    }
    return 0;
}
