#include "picture/ColourSpace.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>

namespace lumora {
namespace {

// Bytes from a file: every read is checked with Has first; offsets and
// lengths are only ever compared against size().
class Reader {
public:
    explicit Reader(ByteView data, bool littleEndian = false) : data_(data), little_(littleEndian) {}

    std::size_t size() const { return data_.size(); }
    bool Has(std::size_t at, std::size_t count) const { return at <= size() && count <= size() - at; }
    std::uint8_t operator[](std::size_t at) const { return data_[at]; }
    std::uint16_t U16(std::size_t at) const {
        return little_ ? static_cast<std::uint16_t>(data_[at] | data_[at + 1] << 8)
                       : static_cast<std::uint16_t>(data_[at] << 8 | data_[at + 1]);
    }
    std::uint32_t U32(std::size_t at) const {
        const std::uint32_t a = U16(at), b = U16(at + 2);
        return little_ ? (b << 16 | a) : (a << 16 | b);
    }
    // ICC's s15Fixed16Number.
    double S15(std::size_t at) const { return static_cast<std::int32_t>(U32(at)) / 65536.0; }
    bool Starts(std::size_t at, std::string_view text) const {
        return Has(at, text.size()) && std::equal(text.begin(), text.end(), data_.begin() + static_cast<std::ptrdiff_t>(at));
    }
    ByteView Part(std::size_t at, std::size_t count) const { return Has(at, count) ? data_.subspan(at, count) : ByteView{}; }

private:
    ByteView data_;
    bool little_;
};

constexpr std::size_t kHeaderBytes = 128;

double SrgbDecode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

// A tag's data, from a profile whose header ReadProfileHeader accepted.
ByteView Tag(ByteView profile, std::uint32_t signature) {
    const Reader r(profile);
    const std::uint32_t count = r.U32(kHeaderBytes);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = kHeaderBytes + 4 + std::size_t{i} * 12;
        if (r.U32(entry) == signature) return r.Part(r.U32(entry + 4), r.U32(entry + 8));
    }
    return {};
}

// A tone curve tag ('curv' or 'para') at x in 0..1; nothing when malformed.
std::optional<double> EvaluateCurve(ByteView tag, double x) {
    const Reader r(tag);
    if (r.Starts(0, "curv") && r.Has(8, 4)) {
        const std::uint32_t n = r.U32(8);
        if (!r.Has(12, std::size_t{n} * 2)) return std::nullopt;
        if (n == 0) return x;
        if (n == 1) return std::pow(x, r.U16(12) / 256.0);
        const double at = x * (n - 1);
        const std::size_t i = std::min<std::size_t>(static_cast<std::size_t>(at), n - 2);
        const double a = r.U16(12 + 2 * i) / 65535.0, b = r.U16(14 + 2 * i) / 65535.0;
        return a + (b - a) * (at - static_cast<double>(i));
    }
    if (r.Starts(0, "para") && r.Has(8, 4)) {
        static constexpr int kParameters[] = {1, 3, 4, 5, 7};
        const std::uint16_t type = r.U16(8);
        if (type > 4 || !r.Has(12, kParameters[type] * 4u)) return std::nullopt;
        double p[7] = {0, 1, 0, 0, 0, 0, 0};  // g, a, b, c, d, e, f
        for (int i = 0; i < kParameters[type]; ++i) p[i] = r.S15(12 + 4 * i);
        const auto power = [&](double base) { return base > 0 ? std::pow(base, p[0]) : 0.0; };
        switch (type) {
        case 0: return power(x);
        case 1: return x >= -p[2] / p[1] ? power(p[1] * x + p[2]) : 0.0;
        case 2: return x >= -p[2] / p[1] ? power(p[1] * x + p[2]) + p[3] : p[3];
        case 3: return x >= p[4] ? power(p[1] * x + p[2]) : p[3] * x;
        default: return x >= p[4] ? power(p[1] * x + p[2]) + p[5] : p[3] * x + p[6];
        }
    }
    return std::nullopt;
}

// --- building profiles -------------------------------------------------------

struct Xy {
    double x, y;
};
using Matrix = std::array<std::array<double, 3>, 3>;
using Vector = std::array<double, 3>;

Vector Times(const Matrix& m, const Vector& v) {
    Vector out{};
    for (int i = 0; i < 3; ++i) out[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
    return out;
}

Matrix Times(const Matrix& a, const Matrix& b) {
    Matrix out{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) out[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
    return out;
}

Matrix Inverse(const Matrix& m) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    Matrix out{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
            out[i][j] = (m[r0][c0] * m[r1][c1] - m[r0][c1] * m[r1][c0]) / det;
        }
    return out;
}

Vector XyzOf(Xy c) { return {c.x / c.y, 1.0, (1 - c.x - c.y) / c.y}; }

constexpr Vector kD50 = {0.9642, 1.0, 0.8249};  // the profile connection space's white

// The red, green and blue colorants as the profile connection space sees
// them: the primaries' XYZ scaled so that they add up to the white point,
// then adapted from that white to D50 (Bradford), as ICC display profiles do.
Matrix Colorants(const Xy (&primaries)[3], Xy white) {
    Matrix rgb{};
    for (int c = 0; c < 3; ++c) {
        const Vector xyz = XyzOf(primaries[c]);
        for (int i = 0; i < 3; ++i) rgb[i][c] = xyz[i];
    }
    const Vector scale = Times(Inverse(rgb), XyzOf(white));
    for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 3; ++c) rgb[i][c] *= scale[c];
    static constexpr Matrix kBradford = {{{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
    const Vector from = Times(kBradford, XyzOf(white)), to = Times(kBradford, kD50);
    Matrix gain{};
    for (int i = 0; i < 3; ++i) gain[i][i] = to[i] / from[i];
    return Times(Times(Inverse(kBradford), gain), Times(kBradford, rgb));
}

class ProfileWriter {
public:
    void U8(std::uint8_t v) { bytes.push_back(v); }
    void U16(std::uint16_t v) {
        U8(static_cast<std::uint8_t>(v >> 8));
        U8(static_cast<std::uint8_t>(v));
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v >> 16));
        U16(static_cast<std::uint16_t>(v));
    }
    void S15(double v) { U32(static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(v * 65536.0)))); }
    void Text(std::string_view s) {
        for (char c : s) U8(static_cast<std::uint8_t>(c));
        U8(0);
    }
    void Align() {
        while (bytes.size() % 4) U8(0);
    }
    void Put32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    }

    std::vector<std::uint8_t> bytes;
};

// A version 2.1 display profile: the tags a matrix/curve profile must have,
// all three channels sharing one tone curve.
std::vector<std::uint8_t> BuildRgbProfile(const Xy (&primaries)[3], Xy white,
                                          const std::function<void(ProfileWriter&)>& curve,
                                          std::string_view description) {
    const Matrix colorants = Colorants(primaries, white);
    struct Entry {
        const char* signature;
        std::function<void(ProfileWriter&)> write;
    };
    const auto xyz = [](Vector v) {
        return [v](ProfileWriter& w) {
            w.U32(Signature("XYZ "));
            w.U32(0);
            for (double c : v) w.S15(c);
        };
    };
    const auto column = [&](int c) { return Vector{colorants[0][c], colorants[1][c], colorants[2][c]}; };
    const Entry entries[] = {
        {"desc",
         [&](ProfileWriter& w) {
             w.U32(Signature("desc"));
             w.U32(0);
             w.U32(static_cast<std::uint32_t>(description.size() + 1));
             w.Text(description);
             for (int i = 0; i < 2; ++i) w.U32(0);  // no Unicode description
             w.U16(0);                              // no ScriptCode description
             for (int i = 0; i < 68; ++i) w.U8(0);
         }},
        {"cprt",
         [](ProfileWriter& w) {
             w.U32(Signature("text"));
             w.U32(0);
             w.Text("No copyright, use freely");
         }},
        {"wtpt", xyz(kD50)},
        {"rXYZ", xyz(column(0))},
        {"gXYZ", xyz(column(1))},
        {"bXYZ", xyz(column(2))},
        {"rTRC", curve},
    };
    ProfileWriter w;
    w.bytes.resize(kHeaderBytes);
    w.Put32(0, 0);  // size, below
    w.Put32(8, 0x02100000);
    w.Put32(12, Signature("mntr"));
    w.Put32(16, Signature("RGB "));
    w.Put32(20, Signature("XYZ "));
    w.Put32(36, Signature("acsp"));
    w.Put32(68, 0x0000F6D6);  // D50 as s15Fixed16
    w.Put32(72, 0x00010000);
    w.Put32(76, 0x0000D32D);
    const std::uint32_t count = std::size(entries) + 2;  // gTRC and bTRC share rTRC's data
    w.U32(count);
    const std::size_t table = w.bytes.size();
    w.bytes.resize(table + count * 12);
    std::size_t slot = table;
    for (const Entry& e : entries) {
        w.Align();
        const std::size_t start = w.bytes.size();
        e.write(w);
        const auto length = static_cast<std::uint32_t>(w.bytes.size() - start);
        for (const char* name : {e.signature, "gTRC", "bTRC"}) {
            w.Put32(slot, std::uint32_t(std::uint8_t(name[0])) << 24 | std::uint32_t(std::uint8_t(name[1])) << 16 |
                              std::uint32_t(std::uint8_t(name[2])) << 8 | std::uint8_t(name[3]));
            w.Put32(slot + 4, static_cast<std::uint32_t>(start));
            w.Put32(slot + 8, length);
            slot += 12;
            if (std::string_view(e.signature) != "rTRC") break;
        }
    }
    w.Align();
    w.Put32(0, static_cast<std::uint32_t>(w.bytes.size()));
    return w.bytes;
}

// --- JPEG and EXIF -----------------------------------------------------------

// Calls `segment` with each marker segment's marker and body up to the image
// data; stops early at anything that is not a JPEG segment.
template <typename Segment>
void ForEachSegment(ByteView file, Segment segment) {
    const Reader r(file);
    if (!r.Has(0, 2) || file[0] != 0xFF || file[1] != 0xD8) return;
    std::size_t at = 2;
    while (r.Has(at, 4)) {
        if (file[at] != 0xFF) return;
        const std::uint8_t marker = file[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return;  // start of scan, end of image
        const std::uint16_t length = r.U16(at + 2);
        if (length < 2 || !r.Has(at + 2, length)) return;
        segment(marker, file.subspan(at + 4, length - 2u));
        at += 2u + length;
    }
}

// One entry of a TIFF directory, found by its tag.
struct Entry {
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::size_t valueAt = 0;  // where the value, or the offset to it, is
};
std::optional<Entry> FindEntry(const Reader& r, std::size_t ifd, std::uint16_t tag) {
    if (!r.Has(ifd, 2)) return std::nullopt;
    const std::uint16_t entries = r.U16(ifd);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::size_t at = ifd + 2 + std::size_t{i} * 12;
        if (!r.Has(at, 12)) return std::nullopt;
        if (r.U16(at) == tag) return Entry{r.U16(at + 2), r.U32(at + 4), at + 8};
    }
    return std::nullopt;
}

// The directory a LONG (or IFD-typed) pointer entry leads to.
std::optional<std::size_t> SubDirectory(const Reader& r, std::size_t ifd, std::uint16_t tag) {
    const auto e = FindEntry(r, ifd, tag);
    if (!e || (e->type != 4 && e->type != 13) || e->count != 1) return std::nullopt;
    return r.U32(e->valueAt);
}

ExifColour TiffExifColour(ByteView tiff) {
    ExifColour out;
    if (tiff.size() < 8 || !((tiff[0] == 'I' && tiff[1] == 'I') || (tiff[0] == 'M' && tiff[1] == 'M'))) return out;
    const Reader r(tiff, tiff[0] == 'I');
    if (r.U16(2) != 42) return out;
    const auto exif = SubDirectory(r, r.U32(4), 0x8769);
    if (!exif) return out;
    if (const auto space = FindEntry(r, *exif, 0xA001); space && space->type == 3 && space->count == 1)
        out.colourSpace = r.U16(space->valueAt);
    const auto interop = SubDirectory(r, *exif, 0xA005);
    const auto index = interop ? FindEntry(r, *interop, 0x0001) : std::nullopt;
    if (index && index->type == 2 && index->count >= 1) {
        // Four bytes or fewer sit in the entry itself; "R03" and "R98" are four with their NUL.
        const std::size_t at = index->count <= 4 ? index->valueAt : r.U32(index->valueAt);
        for (std::size_t i = 0; i < std::min<std::uint32_t>(index->count, 4) && r.Has(at + i, 1) && r[at + i]; ++i)
            out.interopIndex.push_back(static_cast<char>(r[at + i]));
    }
    return out;
}

}  // namespace

std::optional<ProfileHeader> ReadProfileHeader(ByteView profile) {
    const Reader r(profile);
    if (!r.Has(0, kHeaderBytes + 4)) return std::nullopt;
    const ProfileHeader h{r.U32(0), r.U32(12), r.U32(16), r.U32(20)};
    if (h.size < kHeaderBytes + 4 || h.size > profile.size() || h.size > kMaxProfileBytes) return std::nullopt;
    if (r.U32(36) != Signature("acsp")) return std::nullopt;
    static constexpr std::uint32_t kPixelClasses[] = {Signature("scnr"), Signature("mntr"), Signature("prtr"),
                                                      Signature("spac")};
    if (std::find(std::begin(kPixelClasses), std::end(kPixelClasses), h.deviceClass) == std::end(kPixelClasses))
        return std::nullopt;
    if (h.connectionSpace != Signature("XYZ ") && h.connectionSpace != Signature("Lab ")) return std::nullopt;
    const std::uint32_t count = r.U32(kHeaderBytes);
    if (count > (h.size - kHeaderBytes - 4) / 12) return std::nullopt;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = kHeaderBytes + 4 + std::size_t{i} * 12;
        const std::uint32_t at = r.U32(entry + 4), length = r.U32(entry + 8);
        if (at < kHeaderBytes || length < 8 || at > h.size || length > h.size - at) return std::nullopt;
    }
    return h;
}

bool DescribesSrgb(ByteView profile) {
    const auto header = ReadProfileHeader(profile);
    if (!header || header->dataSpace != Signature("RGB ")) return false;
    profile = profile.first(header->size);
    // sRGB's colorants adapted to D50, as the ICC's own sRGB profile has them.
    static constexpr double kColorants[3][3] = {
        {0.4361, 0.2225, 0.0139}, {0.3851, 0.7169, 0.0971}, {0.1431, 0.0606, 0.7141}};
    static constexpr std::uint32_t kXyzTags[] = {Signature("rXYZ"), Signature("gXYZ"), Signature("bXYZ")};
    static constexpr std::uint32_t kCurveTags[] = {Signature("rTRC"), Signature("gTRC"), Signature("bTRC")};
    for (int c = 0; c < 3; ++c) {
        const Reader xyz(Tag(profile, kXyzTags[c]));
        if (!xyz.Starts(0, "XYZ ") || !xyz.Has(8, 12)) return false;
        for (int i = 0; i < 3; ++i)
            if (std::abs(xyz.S15(8 + 4 * i) - kColorants[c][i]) > 0.002) return false;
        const ByteView curve = Tag(profile, kCurveTags[c]);
        for (int k = 0; k <= 32; ++k) {
            const auto y = EvaluateCurve(curve, k / 32.0);
            if (!y || std::abs(*y - SrgbDecode(k / 32.0)) > 0.0015) return false;
        }
    }
    return true;
}

const std::vector<std::uint8_t>& SrgbProfile() {
    // IEC 61966-2-1: ITU-R BT.709 primaries, D65, the sRGB tone curve (as a table).
    static const std::vector<std::uint8_t> profile = BuildRgbProfile(
        {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}}, {0.3127, 0.3290},
        [](ProfileWriter& w) {
            constexpr std::uint32_t kEntries = 1024;
            w.U32(Signature("curv"));
            w.U32(0);
            w.U32(kEntries);
            for (std::uint32_t i = 0; i < kEntries; ++i)
                w.U16(static_cast<std::uint16_t>(std::lround(SrgbDecode(i / double(kEntries - 1)) * 65535)));
        },
        "sRGB (Lumora)");
    return profile;
}

const std::vector<std::uint8_t>& AdobeRgbProfile() {
    // Adobe RGB (1998): its primaries, D65 and a pure power curve of 563/256.
    static const std::vector<std::uint8_t> profile = BuildRgbProfile(
        {{0.64, 0.33}, {0.21, 0.71}, {0.15, 0.06}}, {0.3127, 0.3290},
        [](ProfileWriter& w) {
            w.U32(Signature("curv"));
            w.U32(0);
            w.U32(1);
            w.U16(563);
            w.U16(0);
        },
        "Adobe RGB (1998) compatible (Lumora)");
    return profile;
}

SourceColour ChooseSource(const ColourFacts& facts) {
    using From = SourceColour::From;
    // Grey pixels are shown as grey, whatever a profile says.
    if (facts.pixels == PixelModel::Grey) return {};
    const bool cmyk = facts.pixels == PixelModel::Cmyk;
    if (!facts.profiles.empty()) {
        // The first profile speaks for the picture. One that cannot be
        // trusted, or is for other pixels than the picture's (a grey or CMYK
        // profile on RGB pixels), leaves the picture as stored.
        const std::vector<std::uint8_t>& profile = facts.profiles.front();
        const auto header = ReadProfileHeader(profile);
        if (!header || header->dataSpace != Signature(cmyk ? "CMYK" : "RGB ")) return {};
        if (!cmyk && DescribesSrgb(profile)) return {};
        return {From::EmbeddedProfile, std::vector<std::uint8_t>(profile.begin(), profile.begin() + header->size), cmyk};
    }
    if (cmyk) return {};
    // DCF's way of saying Adobe RGB: "uncalibrated", with the interoperability
    // index R03; the imaging component reports that as colour space 2.
    if (facts.contextColourSpace == 2u || (facts.exifColourSpace == 0xFFFFu && facts.interopIndex == "R03"))
        return {From::ExifAdobeRgb, AdobeRgbProfile(), false};
    return {};
}

ByteView ChooseTarget(ByteView display) {
    const auto header = ReadProfileHeader(display);
    if (header && header->dataSpace == Signature("RGB ") &&
        (header->deviceClass == Signature("mntr") || header->deviceClass == Signature("spac")))
        return display.first(header->size);
    return SrgbProfile();
}

std::vector<std::uint8_t> JpegIccProfile(ByteView file) {
    // "ICC_PROFILE\0", then the chunk's number (from 1) and the number of chunks.
    constexpr std::string_view kMark{"ICC_PROFILE\0", 12};
    std::map<int, ByteView> chunks;
    int total = 0;
    bool broken = false;
    ForEachSegment(file, [&](std::uint8_t marker, ByteView body) {
        const Reader r(body);
        if (marker != 0xE2 || !r.Starts(0, kMark) || !r.Has(kMark.size(), 2)) return;
        const int number = body[kMark.size()], count = body[kMark.size() + 1];
        if (number < 1 || number > count || (total != 0 && count != total) || !chunks.emplace(number, body.subspan(14)).second)
            broken = true;
        total = count;
    });
    std::vector<std::uint8_t> profile;
    if (broken || chunks.empty() || static_cast<int>(chunks.size()) != total) return profile;
    for (const auto& [number, chunk] : chunks) {
        if (profile.size() + chunk.size() > kMaxProfileBytes) return {};
        profile.insert(profile.end(), chunk.begin(), chunk.end());
    }
    return profile;
}

ExifColour JpegExifColour(ByteView file) {
    ExifColour out;
    bool found = false;
    ForEachSegment(file, [&](std::uint8_t marker, ByteView body) {
        constexpr std::string_view kExif{"Exif\0\0", 6};
        if (found || marker != 0xE1 || !Reader(body).Starts(0, kExif)) return;
        found = true;
        out = TiffExifColour(body.subspan(kExif.size()));
    });
    return out;
}

}  // namespace lumora
