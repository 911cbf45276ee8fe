#pragma once
// Picture files are untrusted: everything read from one goes through these.
// Every read is bounds-checked, lengths and offsets from the file are only
// ever compared against what is there, and a large file is walked by seeking,
// never read whole.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumora {

// Anything read in one piece is at most this long.
inline constexpr std::size_t kPieceLimit = 1 << 20;

// A file's bytes, read at any offset. A read past the end gives fewer bytes.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Copies up to out.size() bytes from `offset` on; returns how many came.
    virtual std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
};

// Bytes already in memory.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> data) : data_(data) {}
    std::uint64_t Size() const override { return data_.size(); }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

private:
    std::span<const std::uint8_t> data_;
};

// At most `limit` bytes from `offset` on, fewer where the source ends.
std::vector<std::uint8_t> ReadPiece(const ByteSource& source, std::uint64_t offset, std::size_t limit);

// A piece in memory, read in either byte order. Has() before every read.
class Bytes {
public:
    Bytes() = default;
    explicit Bytes(std::span<const std::uint8_t> data, bool littleEndian = false)
        : data_(data), little_(littleEndian) {}

    std::size_t size() const { return data_.size(); }
    bool Has(std::size_t at, std::size_t count) const { return at <= size() && count <= size() - at; }
    std::uint8_t operator[](std::size_t at) const { return data_[at]; }
    std::uint16_t Be16(std::size_t at) const { return static_cast<std::uint16_t>(data_[at] << 8 | data_[at + 1]); }
    std::uint16_t Le16(std::size_t at) const { return static_cast<std::uint16_t>(data_[at + 1] << 8 | data_[at]); }
    std::uint32_t Be32(std::size_t at) const { return std::uint32_t{Be16(at)} << 16 | Be16(at + 2); }
    std::uint32_t Le32(std::size_t at) const { return std::uint32_t{Le16(at + 2)} << 16 | Le16(at); }
    // In the piece's own byte order.
    std::uint16_t U16(std::size_t at) const { return little_ ? Le16(at) : Be16(at); }
    std::uint32_t U32(std::size_t at) const { return little_ ? Le32(at) : Be32(at); }

    template <std::size_t N>
    bool Matches(std::size_t at, const std::uint8_t (&magic)[N]) const {
        return Has(at, N) && std::equal(magic, magic + N, data_.begin() + static_cast<std::ptrdiff_t>(at));
    }
    // The part from `at` on, at most `count` bytes of it.
    Bytes Part(std::size_t at, std::size_t count) const {
        if (at > size()) return Bytes({}, little_);
        return Bytes(data_.subspan(at, std::min(count, size() - at)), little_);
    }
    std::span<const std::uint8_t> span() const { return data_; }

private:
    std::span<const std::uint8_t> data_;
    bool little_ = false;
};

// Reads a source front to back in chunks, for formats whose structure can
// only be found by walking it (GIF's sub-blocks): never more than a chunk in memory.
class SequentialReader {
public:
    explicit SequentialReader(const ByteSource& source) : source_(source) {}
    // The next byte; nothing once the source has ended.
    std::optional<std::uint8_t> Next();
    // The next byte, left to be read again.
    std::optional<std::uint8_t> Peek();
    // `count` bytes into `out`; false when the source ends first.
    bool Read(std::span<std::uint8_t> out);
    void Skip(std::uint64_t count);
    std::uint64_t position() const { return position_; }

private:
    bool Fill();

    const ByteSource& source_;
    std::vector<std::uint8_t> chunk_;
    std::uint64_t chunkStart_ = 0;
    std::uint64_t position_ = 0;
};

// One marker segment of a JPEG file: its payload lies after the two length bytes.
struct JpegSegment {
    std::uint8_t marker = 0;
    std::uint64_t payload = 0;    // offset of the payload in the file
    std::uint16_t payloadSize = 0;  // the length field less its own two bytes
};

// Walks a JPEG file's marker segments by their lengths, reading only each
// segment's marker and length and skipping its payload, so a frame header
// after megabytes of metadata is found without reading the metadata. After a
// start of scan the entropy-coded data is searched for the next marker, at
// most `entropyLimit` bytes of it in all. Ends at the end of the image, a
// malformed marker, the entropy limit, or when `visit` returns false.
// Returns false when the file does not start as a JPEG.
bool WalkJpegSegments(const ByteSource& file, std::uint64_t entropyLimit,
                      const std::function<bool(const JpegSegment&)>& visit);

// SOF0 to SOF15, less DHT, JPG and DAC, which share the range.
bool IsJpegFrameHeader(std::uint8_t marker);

// The first directory (IFD0) of a TIFF block: a TIFF file, or the block
// inside a JPEG's EXIF segment.
class TiffDirectory {
public:
    // The directory at `at` in the block, its first one when none is given.
    // Empty when the block does not start as TIFF or the directory is out of reach.
    static std::optional<TiffDirectory> Read(const ByteSource& block, std::optional<std::uint32_t> at = {});

    // The value of the first entry with `tag` when it is one SHORT, or one
    // LONG where `longAllowed`, held in the entry itself. Nothing when there
    // is no such entry, it is of another kind, or an entry before it is cut short.
    std::optional<std::uint32_t> Number(std::uint16_t tag, bool longAllowed) const;
    // Where the sub-directory an entry points to lies (one LONG or IFD).
    std::optional<std::uint32_t> SubDirectory(std::uint16_t tag) const;
    // An ASCII entry of up to four characters, held in the entry itself, short of its NUL.
    std::string ShortText(std::uint16_t tag) const;

private:
    // Where the first entry with `tag` starts in entries_.
    std::optional<std::size_t> Find(std::uint16_t tag) const;

    std::vector<std::uint8_t> entries_;  // the count and as many entries as the block holds
    bool little_ = false;
};

}  // namespace lumora
