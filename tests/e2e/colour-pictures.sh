#!/usr/bin/env bash
# The pictures of the colour tests (Colour.* in OrientationTests_win.cpp),
# made with ImageMagick from Debian's profiles (icc-profiles-free,
# colord-data, libgs-common), and the colour each must show on an sRGB
# screen, computed by ImageMagick's own colour management (lcms, perceptual):
# OUT/expected.txt, one line per picture, "FILE R G B TOLERANCE".
#
#   colour-pictures.sh OUT
set -euo pipefail
out=$1 icc=/usr/share/color/icc
rm -rf "$out"
mkdir -p "$out"
cd "$out"
colour=rgb'(120,160,90)'  # far from every gamut's edge in each of the profiles below
shows() {                 # FILE [CONVERSION...]: the picture's colour, converted or as stored
  convert "$@" -format '%[fx:int(255*p{4,4}.r+0.5)] %[fx:int(255*p{4,4}.g+0.5)] %[fx:int(255*p{4,4}.b+0.5)]' info:
}
to_srgb=(-intent perceptual -profile "$icc/sRGB.icc")

convert -size 64x64 xc:"$colour" -quality 100 plain.jpg
convert -size 64x64 xc:"$colour" plain.png
# Embedded by ImageMagick: JPEG APP2, PNG iCCP, TIFF's ICC tag.
convert plain.jpg -profile "$icc/colord/WideGamutRGB.icc" -quality 100 wide.jpg
convert plain.png -profile "$icc/colord/WideGamutRGB.icc" wide.png
convert plain.png -profile "$icc/colord/ProPhotoRGB.icc" -compress none prophoto.tif
convert plain.jpg -profile "$icc/sRGB.icc" -quality 100 srgb.jpg
convert -size 64x64 xc:'cmyk(40,90,150,20)' -profile "$icc/ghostscript/default_cmyk.icc" -quality 100 cmyk.jpg
# Grey JPEGs (one component) of level 0x40: untagged, and with a grey profile of gamma 1.0.
convert -size 64x64 xc:'gray(64)' -colorspace Gray -quality 100 grey.jpg
convert grey.jpg -profile "$icc/Gray.icc" -quality 100 grey-gamma1.jpg
# By hand: a profile without its 'acsp' mark, a grey profile's colour space on
# RGB pixels, an RGB profile on grey pixels, and EXIF's Adobe RGB (colour
# space "uncalibrated", index R03).
python3 - "$icc/colord/WideGamutRGB.icc" <<'PY'
import struct, sys
wide = open('wide.jpg', 'rb').read()
chunk = b'ICC_PROFILE\0\1\1' + open(sys.argv[1], 'rb').read()
grey = open('grey.jpg', 'rb').read()
open('grey-rgb-profile.jpg', 'wb').write(grey[:2] + b'\xff\xe2' + struct.pack('>H', len(chunk) + 2) + chunk + grey[2:])
open('broken.jpg', 'wb').write(wide.replace(b'acsp', b'xxxx', 1))
at = wide.index(b'ICC_PROFILE\0') + 14 + 16
open('grey-on-rgb.jpg', 'wb').write(wide[:at] + b'GRAY' + wide[at + 4:])
tiff = b'MM\0\x2a' + struct.pack('>I', 8)
tiff += struct.pack('>HHHII', 1, 0x8769, 4, 1, 26) + struct.pack('>I', 0)  # IFD0: the EXIF directory at 26
tiff += struct.pack('>HHHIHHHHII', 2, 0xA001, 3, 1, 0xFFFF, 0, 0xA005, 4, 1, 56) + struct.pack('>I', 0)
tiff += struct.pack('>HHHI', 1, 0x0001, 2, 4) + b'R03\0' + struct.pack('>I', 0)  # interoperability at 56
exif = b'Exif\0\0' + tiff
plain = open('plain.jpg', 'rb').read()
open('adobe-exif.jpg', 'wb').write(plain[:2] + b'\xff\xe1' + struct.pack('>H', len(exif) + 2) + exif + plain[2:])
PY

{
  echo "plain.png $(shows plain.png) 0"
  echo "srgb.jpg $(shows srgb.jpg) 0"
  echo "broken.jpg $(shows broken.jpg) 0"
  echo "grey-on-rgb.jpg $(shows grey-on-rgb.jpg) 0"
  echo "grey.jpg $(shows grey.jpg) 0"
  echo "grey-rgb-profile.jpg $(shows grey.jpg) 0"
  echo "grey-gamma1.jpg $(shows grey-gamma1.jpg "${to_srgb[@]}") 1"
  echo "wide.jpg $(shows wide.jpg "${to_srgb[@]}") 3"
  echo "wide.png $(shows wide.png "${to_srgb[@]}") 3"
  echo "prophoto.tif $(shows prophoto.tif "${to_srgb[@]}") 3"
  echo "adobe-exif.jpg $(shows plain.jpg -profile "$icc/compatibleWithAdobeRGB1998.icc" "${to_srgb[@]}") 3"
  echo "cmyk.jpg $(shows cmyk.jpg "${to_srgb[@]}") 3"
} >expected.txt
cat expected.txt
