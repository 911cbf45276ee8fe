#include "picture/ByteReader.h"

#include <cstring>

namespace lumora {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

bool IsRestart(std::uint8_t marker) { return marker >= 0xD0 && marker <= 0xD7; }

// Entropy-coded data runs to the first 0xFF that starts a real marker: not a
// stuffed FF 00, not a restart marker, not a fill byte. True when the reader
// stands just past that 0xFF; false at the end of the file or of `budget`.
bool SkipEntropyData(SequentialReader& r, std::uint64_t& budget) {
    for (;;) {
        if (budget == 0) return false;
        --budget;
        const auto b = r.Next();
        if (!b) return false;
        if (*b != 0xFF) continue;
        const auto next = r.Peek();
        if (!next) return false;
        if (*next != 0x00 && *next != 0xFF && !IsRestart(*next)) return true;
    }
}

}  // namespace

std::size_t MemorySource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset >= data_.size() || out.empty()) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), data_.size() - offset));
    std::memcpy(out.data(), data_.data() + offset, n);
    return n;
}

std::vector<std::uint8_t> ReadPiece(const ByteSource& source, std::uint64_t offset, std::size_t limit) {
    const std::uint64_t size = source.Size();
    std::vector<std::uint8_t> piece(
        static_cast<std::size_t>(offset < size ? std::min<std::uint64_t>(std::min(limit, kPieceLimit), size - offset) : 0));
    piece.resize(source.ReadAt(offset, piece));
    return piece;
}

std::optional<std::uint8_t> SequentialReader::Peek() {
    if (position_ < chunkStart_ || position_ - chunkStart_ >= chunk_.size()) {
        if (!Fill()) return std::nullopt;
    }
    return chunk_[static_cast<std::size_t>(position_ - chunkStart_)];
}

std::optional<std::uint8_t> SequentialReader::Next() {
    const auto b = Peek();
    if (b) ++position_;
    return b;
}

bool SequentialReader::Read(std::span<std::uint8_t> out) {
    for (std::uint8_t& byte : out) {
        const auto b = Next();
        if (!b) return false;
        byte = *b;
    }
    return true;
}

void SequentialReader::Skip(std::uint64_t count) {
    position_ = count > UINT64_MAX - position_ ? UINT64_MAX : position_ + count;
}

bool SequentialReader::Fill() {
    chunkStart_ = position_;
    const std::uint64_t size = source_.Size();
    chunk_.resize(static_cast<std::size_t>(position_ < size ? std::min<std::uint64_t>(kChunk, size - position_) : 0));
    chunk_.resize(source_.ReadAt(position_, chunk_));
    return !chunk_.empty();
}

bool IsJpegFrameHeader(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool WalkJpegSegments(const ByteSource& file, std::uint64_t entropyLimit,
                      const std::function<bool(const JpegSegment&)>& visit) {
    SequentialReader r(file);
    std::uint8_t start[2];
    if (!r.Read(start) || start[0] != 0xFF || start[1] != 0xD8) return false;
    bool atMarker = false;  // the 0xFF of a marker has been read already
    for (;;) {
        if (!atMarker) {
            const auto b = r.Next();
            if (!b || *b != 0xFF) return true;  // the end, or garbage where a marker must be
        }
        atMarker = false;
        auto marker = r.Next();
        while (marker && *marker == 0xFF) marker = r.Next();  // fill bytes
        if (!marker || *marker == 0xD9) return true;  // end of image
        if (*marker == 0x01 || IsRestart(*marker) || *marker == 0xD8) continue;  // no length
        std::uint8_t length[2];
        if (*marker == 0x00 || !r.Read(length)) return true;
        const std::uint16_t size = static_cast<std::uint16_t>(length[0] << 8 | length[1]);  // counts itself
        if (size < 2) return true;
        const JpegSegment segment{*marker, r.position(), static_cast<std::uint16_t>(size - 2)};
        if (!visit(segment)) return true;
        r.Skip(segment.payloadSize);
        if (segment.marker == 0xDA) {
            if (!SkipEntropyData(r, entropyLimit)) return true;
            atMarker = true;
        }
    }
}

std::optional<TiffDirectory> TiffDirectory::Read(const ByteSource& block, std::optional<std::uint32_t> at) {
    std::uint8_t header[8];
    if (block.ReadAt(0, header) < sizeof header) return std::nullopt;
    bool little;
    if (header[0] == 'I' && header[1] == 'I') little = true;
    else if (header[0] == 'M' && header[1] == 'M') little = false;
    else return std::nullopt;
    const Bytes h(header, little);
    if (h.U16(2) != 42) return std::nullopt;
    const std::uint32_t ifd = at.value_or(h.U32(4));
    std::uint8_t count[2];
    if (block.ReadAt(ifd, count) < sizeof count) return std::nullopt;
    TiffDirectory directory;
    directory.little_ = little;
    // At most 65535 entries of 12 bytes: well within one piece.
    directory.entries_ = ReadPiece(block, ifd, 2 + std::size_t{Bytes(count, little).U16(0)} * 12);
    return directory;
}

std::optional<std::size_t> TiffDirectory::Find(std::uint16_t tag) const {
    const Bytes b(entries_, little_);
    const std::uint16_t count = b.U16(0);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = 2 + i * 12;
        if (!b.Has(entry, 12)) return std::nullopt;
        if (b.U16(entry) == tag) return entry;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> TiffDirectory::Number(std::uint16_t tag, bool longAllowed) const {
    const auto entry = Find(tag);
    const Bytes b(entries_, little_);
    if (!entry || b.U32(*entry + 4) != 1) return std::nullopt;
    const std::uint16_t type = b.U16(*entry + 2);
    if (type == 3) return b.U16(*entry + 8);
    if (type == 4 && longAllowed) return b.U32(*entry + 8);
    return std::nullopt;
}

std::optional<std::uint32_t> TiffDirectory::SubDirectory(std::uint16_t tag) const {
    const auto entry = Find(tag);
    const Bytes b(entries_, little_);
    if (!entry || b.U32(*entry + 4) != 1) return std::nullopt;
    const std::uint16_t type = b.U16(*entry + 2);
    if (type != 4 && type != 13) return std::nullopt;
    return b.U32(*entry + 8);
}

std::string TiffDirectory::ShortText(std::uint16_t tag) const {
    const auto entry = Find(tag);
    const Bytes b(entries_, little_);
    std::string text;
    if (!entry || b.U16(*entry + 2) != 2 || b.U32(*entry + 4) > 4) return text;
    const std::uint32_t count = b.U32(*entry + 4);
    for (std::size_t i = 0; i < count && b[*entry + 8 + i] != 0; ++i)
        text.push_back(static_cast<char>(b[*entry + 8 + i]));
    return text;
}

}  // namespace lumora
