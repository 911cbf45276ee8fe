#pragma once
// A colour conversion sampled on a grid of input colours and interpolated
// for every pixel. The platform's colour module converts the grid, so its
// conversion is the one shown; the grid costs the same for every picture,
// while the colour module under Wine takes 0.3 to 0.7 microseconds per pixel
// (it never optimises a transform), as long as decoding the whole photo.
//
// Interpolation is tetrahedral, in linear light on both sides (the sRGB curve
// standing in for every picture's and display's own, close enough to take
// the bend out of the tone curves between nodes), so that the interpolated
// colours stay within a level or two of the colour module's own, except next
// to the edge of the display's gamut, where colours are clipped. Grey has
// only 256 colours: each is a node of its own, taken as converted.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lumora {

class ColourGrid {
public:
    // 3: pixels B,G,R,x, the layout the slideshow paints; 4: pixels C,M,Y,K;
    // 1: grey pixels B,G,R,x with B = G = R.
    explicit ColourGrid(int channels);

    int channels() const { return channels_; }
    // The grid's colours as pixels of that layout, 4 bytes each (grey: one
    // byte, the level), for the colour module to convert.
    std::vector<std::uint8_t> Inputs() const;
    // The grid's colours as converted, B,G,R,x each; false unless one per input.
    bool SetOutputs(std::span<const std::uint8_t> converted);
    // Every pixel converted in place into B,G,R; the 4th byte of an RGB or
    // grey pixel (alpha, for a transparent picture) is kept, a CMYK pixel's becomes 255.
    void Apply(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height, std::size_t stride) const;

private:
    template <int Channels>
    void ApplyEach(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height, std::size_t stride) const;

    int channels_;
    int nodesPerAxis_;
    std::vector<std::uint8_t> axis_;         // the nodes' values on every axis, 0 to 255
    std::vector<std::uint32_t> cell_;        // per input value: the node at or below it on its axis
    std::vector<std::uint16_t> fraction_;    // per input value: how far towards the next node, of 32768
    std::vector<std::uint16_t> nodes_;       // converted B,G,R per node, in linear light (of 65535)
};

}  // namespace lumora
