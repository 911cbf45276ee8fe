#include "picture/ColourSpace.h"

#include "picture/ByteReader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>

namespace lumora {
namespace {

// ICC profiles are big-endian throughout; s15Fixed16Number is their fixed point.
double S15(const Bytes& b, std::size_t at) { return static_cast<std::int32_t>(b.Be32(at)) / 65536.0; }
bool Starts(const Bytes& b, std::size_t at, std::string_view text) {
    return b.Has(at, text.size()) && std::equal(text.begin(), text.end(), b.span().begin() + static_cast<std::ptrdiff_t>(at));
}
// Exactly `count` bytes from `at`, or nothing.
ByteView Exactly(const Bytes& b, std::size_t at, std::size_t count) {
    return b.Has(at, count) ? b.span().subspan(at, count) : ByteView{};
}

constexpr std::size_t kHeaderBytes = 128;

double SrgbDecode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

// A tag's data, from a profile whose header ReadProfileHeader accepted.
ByteView Tag(ByteView profile, std::uint32_t signature) {
    const Bytes r(profile);
    const std::uint32_t count = r.U32(kHeaderBytes);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = kHeaderBytes + 4 + std::size_t{i} * 12;
        if (r.U32(entry) == signature) return Exactly(r, r.U32(entry + 4), r.U32(entry + 8));
    }
    return {};
}

// A tone curve tag ('curv' or 'para') at x in 0..1; nothing when malformed.
std::optional<double> EvaluateCurve(ByteView tag, double x) {
    const Bytes r(tag);
    if (Starts(r, 0, "curv") && r.Has(8, 4)) {
        const std::uint32_t n = r.U32(8);
        if (!r.Has(12, std::size_t{n} * 2)) return std::nullopt;
        if (n == 0) return x;
        if (n == 1) return std::pow(x, r.U16(12) / 256.0);
        const double at = x * (n - 1);
        const std::size_t i = std::min<std::size_t>(static_cast<std::size_t>(at), n - 2);
        const double a = r.U16(12 + 2 * i) / 65535.0, b = r.U16(14 + 2 * i) / 65535.0;
        return a + (b - a) * (at - static_cast<double>(i));
    }
    if (Starts(r, 0, "para") && r.Has(8, 4)) {
        static constexpr int kParameters[] = {1, 3, 4, 5, 7};
        const std::uint16_t type = r.U16(8);
        if (type > 4 || !r.Has(12, kParameters[type] * 4u)) return std::nullopt;
        double p[7] = {0, 1, 0, 0, 0, 0, 0};  // g, a, b, c, d, e, f
        for (int i = 0; i < kParameters[type]; ++i) p[i] = S15(r, 12 + 4 * i);
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

}  // namespace

std::optional<ProfileHeader> ReadProfileHeader(ByteView profile) {
    const Bytes r(profile);
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
        const Bytes xyz(Tag(profile, kXyzTags[c]));
        if (!Starts(xyz, 0, "XYZ ") || !xyz.Has(8, 12)) return false;
        for (int i = 0; i < 3; ++i)
            if (std::abs(S15(xyz, 8 + 4 * i) - kColorants[c][i]) > 0.002) return false;
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
    const bool cmyk = facts.pixels == PixelModel::Cmyk, grey = facts.pixels == PixelModel::Grey;
    if (!facts.profiles.empty()) {
        // The first profile speaks for the picture. One that cannot be
        // trusted, or is for other pixels than the picture's (a grey or CMYK
        // profile on RGB pixels, an RGB one on grey pixels), leaves the
        // picture as stored: grey stays grey.
        const std::vector<std::uint8_t>& profile = facts.profiles.front();
        const auto header = ReadProfileHeader(profile);
        const std::uint32_t space = cmyk ? Signature("CMYK") : grey ? Signature("GRAY") : Signature("RGB ");
        if (!header || header->dataSpace != space || DescribesSrgb(profile)) return {};
        return {From::EmbeddedProfile, std::vector<std::uint8_t>(profile.begin(), profile.begin() + header->size), cmyk,
                grey};
    }
    if (cmyk || grey) return {};
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

std::vector<std::uint8_t> JpegIccProfile(const ByteSource& file) {
    // "ICC_PROFILE\0", then the chunk's number (from 1) and the number of chunks.
    constexpr std::string_view kMark{"ICC_PROFILE\0", 12};
    std::map<int, std::vector<std::uint8_t>> chunks;
    int total = 0;
    bool broken = false;
    std::size_t bytes = 0;
    WalkJpegSegments(file, 0, [&](const JpegSegment& segment) {
        if (segment.marker == 0xDA) return false;  // the profile comes before the image data
        if (segment.marker != 0xE2) return true;
        std::vector<std::uint8_t> body = ReadPiece(file, segment.payload, segment.payloadSize);
        const Bytes b(body);
        if (!Starts(b, 0, kMark) || !b.Has(kMark.size(), 2)) return true;
        const int number = b[kMark.size()], count = b[kMark.size() + 1];
        bytes += body.size();
        body.erase(body.begin(), body.begin() + 14);
        if (number < 1 || number > count || (total != 0 && count != total) || bytes > kMaxProfileBytes ||
            !chunks.emplace(number, std::move(body)).second)
            broken = true;
        total = count;
        return !broken;
    });
    std::vector<std::uint8_t> profile;
    if (broken || chunks.empty() || static_cast<int>(chunks.size()) != total) return profile;
    for (const auto& [number, chunk] : chunks) profile.insert(profile.end(), chunk.begin(), chunk.end());
    return profile;
}

ExifColour ReadExifColour(const ByteSource& file) {
    const auto fromTiff = [](const ByteSource& tiff) {
        ExifColour out;
        const auto first = TiffDirectory::Read(tiff);
        const auto exifAt = first ? first->SubDirectory(0x8769) : std::nullopt;
        const auto exif = exifAt ? TiffDirectory::Read(tiff, *exifAt) : std::nullopt;
        if (!exif) return out;
        out.colourSpace = exif->Number(0xA001, false);
        const auto interopAt = exif->SubDirectory(0xA005);
        if (const auto interop = interopAt ? TiffDirectory::Read(tiff, *interopAt) : std::nullopt)
            out.interopIndex = interop->ShortText(0x0001);
        return out;
    };
    std::uint8_t start[2] = {};
    file.ReadAt(0, start);
    if (start[0] != 0xFF || start[1] != 0xD8) return fromTiff(file);
    // A JPEG's EXIF block sits in an APP1 segment before the image data.
    ExifColour out;
    WalkJpegSegments(file, 0, [&](const JpegSegment& segment) {
        if (segment.marker == 0xDA) return false;
        if (segment.marker != 0xE1) return true;
        constexpr std::string_view kExif{"Exif\0\0", 6};
        const std::vector<std::uint8_t> body = ReadPiece(file, segment.payload, segment.payloadSize);
        if (!Starts(Bytes(body), 0, kExif)) return true;
        out = fromTiff(MemorySource(std::span(body).subspan(kExif.size())));
        return false;
    });
    return out;
}

}  // namespace lumora
