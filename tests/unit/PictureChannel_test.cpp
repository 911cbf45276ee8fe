#include "common/PictureChannel.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

ChannelReply Reply(std::uint32_t id, ReplyKind kind, int left, int top, int width, int height) {
    ChannelReply r;
    r.id = id;
    r.kind = kind;
    r.left = left, r.top = top, r.width = width, r.height = height;
    return r;
}

// The helper may say anything: only a picture for the request asked, inside
// the client area of 1024 x 768 and the section's pixel bytes, is taken.
TEST(PictureInReply, OnlyAPictureForTheRequestInsideTheClientAndTheSection) {
    constexpr std::uint64_t kBytes = 1024ull * 768 * 4;
    const struct {
        const char* what;
        ChannelReply reply;
        std::uint64_t pixelBytes;
        bool accepted;
    } cases[] = {
        {"the whole client", Reply(7, ReplyKind::Picture, 0, 0, 1024, 768), kBytes, true},
        {"centred", Reply(7, ReplyKind::Picture, 412, 334, 200, 100), kBytes, true},
        {"one pixel in the far corner", Reply(7, ReplyKind::Picture, 1023, 767, 1, 1), kBytes, true},
        {"another request", Reply(6, ReplyKind::Picture, 0, 0, 10, 10), kBytes, false},
        {"not a picture", Reply(7, ReplyKind::NotAPicture, 0, 0, 10, 10), kBytes, false},
        {"unchanged", Reply(7, ReplyKind::Unchanged, 0, 0, 10, 10), kBytes, false},
        {"past the right edge", Reply(7, ReplyKind::Picture, 1, 0, 1024, 10), kBytes, false},
        {"past the bottom", Reply(7, ReplyKind::Picture, 0, 700, 10, 69), kBytes, false},
        {"negative left", Reply(7, ReplyKind::Picture, -1, 0, 10, 10), kBytes, false},
        {"negative top", Reply(7, ReplyKind::Picture, 0, -1, 10, 10), kBytes, false},
        {"zero width", Reply(7, ReplyKind::Picture, 0, 0, 0, 10), kBytes, false},
        {"zero height", Reply(7, ReplyKind::Picture, 0, 0, 10, 0), kBytes, false},
        {"overflowing sum", Reply(7, ReplyKind::Picture, 0x7FFFFFFF, 0, 1, 1), kBytes, false},
        {"more pixels than the section holds", Reply(7, ReplyKind::Picture, 0, 0, 1024, 768), kBytes - 1, false},
    };
    for (const auto& c : cases) {
        const auto rect = PictureInReply(c.reply, 7, 1024, 768, c.pixelBytes);
        ASSERT_EQ(rect.has_value(), c.accepted) << c.what;
        if (!rect) continue;
        EXPECT_EQ(rect->left, c.reply.left) << c.what;
        EXPECT_EQ(rect->top, c.reply.top) << c.what;
        EXPECT_EQ(rect->right, c.reply.left + c.reply.width) << c.what;
        EXPECT_EQ(rect->bottom, c.reply.top + c.reply.height) << c.what;
    }
}

}  // namespace
}  // namespace lumora
