#pragma once
// The saver's side of its picture helper: starts it from Lumora's own
// executable, confined as one rung of the ladder says (a job with a memory
// limit that ends it with the saver, a restricted token, low integrity),
// hands it requests through the channel section and reads its replies. The
// saver enforces the budgets itself, through MemoryBytes and End: some
// platforms do not enforce a job's limits.
#include "common/PictureChannel.h"
#include "common/UniqueHandle_win.h"
#include "saver/HelperStart.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace lumora {

class PictureHelper {
public:
    PictureHelper() = default;
    ~PictureHelper();
    PictureHelper(const PictureHelper&) = delete;
    PictureHelper& operator=(const PictureHelper&) = delete;

    // Starts a fresh helper confined as `rung` says, its pixel area holding
    // `pixelBytes`, ending any helper before it; it converts colours into
    // `displayProfile` (empty: sRGB). False, with the failed step in the
    // trail, when it could not be created; whether it is able, its first
    // reply says.
    bool Start(Rung rung, std::uint64_t pixelBytes, std::span<const std::uint8_t> displayProfile = {});
    // Ends the helper at once, without waiting for it.
    void End();
    // Ends it and lets go of the channel too, so that its memory goes back.
    void Close();
    bool started() const { return static_cast<bool>(process_); }
    std::uint64_t capacity() const { return pixelBytes_; }

    // Signalled when a reply is in place, and when the helper has ended.
    HANDLE replyEvent() const { return replyEvent_.get(); }
    HANDLE process() const { return process_.get(); }
    // How it ended; nothing while it runs.
    std::optional<DWORD> ExitCode() const;

    // Hands over request `id`: the picture at `path` fitted to `client`, or
    // "unchanged" when the file still has stamp `known`.
    void Send(std::uint32_t id, const std::wstring& path, ClientSize client, const std::optional<FileStamp>& known);
    // Asks the helper to stop request `id` between two steps.
    void Cancel(std::uint32_t id);
    // The reply now in the section, copied out before anything looks at it.
    ChannelReply Reply() const;
    // The stamp of request `id`'s file if the helper got as far as opening it.
    std::optional<FileStamp> OpenedStamp(std::uint32_t id) const;
    // The pixels of a reply placed at `rect` (checked with PictureInReply),
    // copied into a bitmap of the saver's own that nothing the helper does
    // afterwards can touch.
    UniqueBitmap Bitmap(const PixelRect& rect) const;
    // The helper's memory: its commit charge, or what the platform reports in its place.
    std::uint64_t MemoryBytes() const;

private:
    ChannelHeader* header() const { return static_cast<ChannelHeader*>(view_.get()); }

    UniqueKernelHandle job_;
    UniqueKernelHandle section_;
    UniqueView view_;
    UniqueKernelHandle requestEvent_;
    UniqueKernelHandle replyEvent_;
    UniqueKernelHandle saverForHelper_;
    UniqueKernelHandle process_;
    std::uint64_t pixelOffset_ = 0;
    std::uint64_t pixelBytes_ = 0;
};

}  // namespace lumora
