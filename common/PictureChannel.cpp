#include "common/PictureChannel.h"

namespace lumora {

const wchar_t* HelperStepName(std::uint32_t step) {
    switch (static_cast<HelperStep>(step)) {
    case HelperStep::Com: return L"COM (CoInitializeEx)";
    case HelperStep::ImagingFactory: return L"the imaging factory (CoCreateInstance)";
    case HelperStep::TestDecoder: return L"the test picture's decoder";
    case HelperStep::TestFrame: return L"the test picture's frame";
    case HelperStep::TestScale: return L"the test picture's scaler";
    case HelperStep::TestConvert: return L"the test picture's format converter";
    case HelperStep::TestCopy: return L"the test picture's pixels (CopyPixels)";
    case HelperStep::TestPixels: return L"the test picture's colours";
    }
    return L"an unknown step";
}

std::optional<PixelRect> PictureInReply(const ChannelReply& reply, std::uint32_t asked, std::int32_t clientWidth,
                                        std::int32_t clientHeight, std::uint64_t pixelBytes) {
    if (reply.id != asked || reply.kind != ReplyKind::Picture) return std::nullopt;
    // Each bound on its own, so no sum can overflow.
    if (reply.width <= 0 || reply.height <= 0 || reply.left < 0 || reply.top < 0) return std::nullopt;
    if (reply.width > clientWidth || reply.left > clientWidth - reply.width) return std::nullopt;
    if (reply.height > clientHeight || reply.top > clientHeight - reply.height) return std::nullopt;
    if (std::uint64_t(reply.width) * std::uint64_t(reply.height) * 4 > pixelBytes) return std::nullopt;
    return PixelRect{reply.left, reply.top, long{reply.left} + reply.width, long{reply.top} + reply.height};
}

}  // namespace lumora
