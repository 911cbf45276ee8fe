#pragma once
// Photos shown in their own colours: what an opened frame says about its
// colour space, and the platform's colour management module (ICM) converting
// fitted pixels into the display's. The imaging component's own colour
// transform is not used: under Wine it ignores the profiles it is given.
#include "picture/ByteReader.h"
#include "picture/ColourSpace.h"

#include <windows.h>
#include <wincodec.h>

namespace lumora {

// What the frame says about its colour space: a JPEG's profile and the EXIF
// colour fields of a JPEG or TIFF read from the file itself, other formats'
// profiles from the frame's colour contexts.
ColourFacts ReadColourFacts(IWICImagingFactory* factory, IWICBitmapDecoder* decoder, IWICBitmapFrameDecode* frame,
                            const ByteSource& file);

// Converts fitted pixels in place from `source` into `target`, the display's
// profile (empty: sRGB), perceptual intent. `pixels` are top-down, 4 bytes
// each: B,G,R,x, or premultiplied B,G,R,A for a transparent picture (the
// picture as it shows over black is converted), with B = G = R for a grey
// source; for a CMYK source C,M,Y,K, which become B,G,R,x. Nothing to do for a source of Nothing. False, with
// the pixels untouched, when the colour module cannot convert them.
bool ToDisplayColours(const SourceColour& source, ByteView target, BYTE* pixels, UINT width, UINT height,
                      UINT stride);

}  // namespace lumora
