#include "picture/ColourGrid.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace lumora {
namespace {

constexpr std::uint32_t kOne = 32768;  // a whole step between two nodes

double Decode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double Encode(double l) { return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055; }

// 8-bit values to linear light of 65535, and back, rounded in 8 bits.
const std::array<std::uint16_t, 256>& ToLinear() {
    static const auto table = [] {
        std::array<std::uint16_t, 256> t{};
        for (int v = 0; v < 256; ++v) t[v] = static_cast<std::uint16_t>(std::lround(Decode(v / 255.0) * 65535));
        return t;
    }();
    return table;
}
const std::vector<std::uint8_t>& FromLinear() {
    static const auto table = [] {
        std::vector<std::uint8_t> t(65536);
        for (std::size_t l = 0; l < t.size(); ++l)
            t[l] = static_cast<std::uint8_t>(std::lround(Encode(static_cast<double>(l) / 65535) * 255));
        return t;
    }();
    return table;
}

}  // namespace

ColourGrid::ColourGrid(int channels)
    : channels_(channels == 4 || channels == 1 ? channels : 3),
      // 33 nodes keep RGB within a level almost everywhere (35,937 colours to
      // convert); a CMYK grid has a fourth axis, so fewer per axis.
      nodesPerAxis_(channels_ == 1 ? 256 : channels_ == 3 ? 33 : 17),
      cell_(256),
      fraction_(256) {
    for (int i = 0; i < nodesPerAxis_; ++i)
        axis_.push_back(static_cast<std::uint8_t>(std::lround(255.0 * i / (nodesPerAxis_ - 1))));
    // Where a value lies between its two nodes, measured in linear light for
    // RGB; CMYK's axes are ink amounts and are taken as they are.
    const auto measure = [&](int v) { return channels_ == 4 ? v / 255.0 : Decode(v / 255.0); };
    for (int v = 0, c = 0; v < 256; ++v) {
        while (c < nodesPerAxis_ - 2 && v >= axis_[c + 1]) ++c;
        cell_[v] = static_cast<std::uint32_t>(c);
        const double from = measure(axis_[c]), to = measure(axis_[c + 1]);
        fraction_[v] = static_cast<std::uint16_t>(std::lround((measure(v) - from) / (to - from) * kOne));
    }
}

std::vector<std::uint8_t> ColourGrid::Inputs() const {
    std::size_t count = 1;
    for (int k = 0; k < channels_; ++k) count *= nodesPerAxis_;
    const std::size_t bytes = channels_ == 1 ? 1 : 4;
    std::vector<std::uint8_t> pixels(count * bytes, 0);
    for (std::size_t node = 0; node < count; ++node) {
        std::size_t rest = node;
        for (int k = channels_ - 1; k >= 0; --k) {
            pixels[node * bytes + k] = axis_[rest % nodesPerAxis_];
            rest /= nodesPerAxis_;
        }
    }
    return pixels;
}

bool ColourGrid::SetOutputs(std::span<const std::uint8_t> converted) {
    std::size_t count = 1;
    for (int k = 0; k < channels_; ++k) count *= nodesPerAxis_;
    if (converted.size() != count * 4) return false;
    nodes_.resize(count * 3);
    for (std::size_t node = 0; node < count; ++node)
        for (int c = 0; c < 3; ++c) nodes_[node * 3 + c] = ToLinear()[converted[node * 4 + c]];
    return true;
}

template <int Channels>
void ColourGrid::ApplyEach(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height, std::size_t stride) const {
    std::array<std::uint32_t, Channels> step{};  // index distance of one node along each axis
    for (int k = Channels - 1, s = 3; k >= 0; --k, s *= nodesPerAxis_) step[k] = static_cast<std::uint32_t>(s);
    const std::vector<std::uint8_t>& encode = FromLinear();
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* px = pixels + y * stride;
        for (std::uint32_t x = 0; x < width; ++x, px += 4) {
            std::array<std::uint32_t, Channels> f{};
            std::array<int, Channels> order{};
            std::uint32_t index = 0;
            for (int k = 0; k < Channels; ++k) {
                index += cell_[px[k]] * step[k];
                f[k] = fraction_[px[k]];
                order[k] = k;
            }
            // The tetrahedron (simplex) holding the pixel: walk from the cell's
            // base node along the axes in order of how far the pixel lies along them.
            for (int i = 1; i < Channels; ++i)
                for (int j = i; j > 0 && f[order[j]] > f[order[j - 1]]; --j) std::swap(order[j], order[j - 1]);
            const std::uint16_t* node = nodes_.data() + index;
            std::uint32_t weight = kOne - f[order[0]];
            std::uint32_t acc[3] = {weight * node[0], weight * node[1], weight * node[2]};
            for (int s = 0; s < Channels; ++s) {
                node += step[order[s]];
                weight = f[order[s]] - (s + 1 < Channels ? f[order[s + 1]] : 0);
                for (int c = 0; c < 3; ++c) acc[c] += weight * node[c];
            }
            for (int c = 0; c < 3; ++c) px[c] = encode[(acc[c] + kOne / 2) / kOne];
            if constexpr (Channels == 4) px[3] = 255;
        }
    }
}

void ColourGrid::Apply(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height, std::size_t stride) const {
    if (nodes_.empty()) return;
    if (channels_ == 3)
        ApplyEach<3>(pixels, width, height, stride);
    else if (channels_ == 4)
        ApplyEach<4>(pixels, width, height, stride);
    else
        ApplyEach<1>(pixels, width, height, stride);  // by the blue byte: every level a node, nothing between
}

}  // namespace lumora
