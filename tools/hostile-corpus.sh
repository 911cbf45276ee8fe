#!/usr/bin/env bash
# Gathers hostile and odd picture files for the slideshow's robustness test
# (tests/e2e/HostileTests_win.cpp) into OUTPUT_DIR:
#   - public image test suites shipped in Debian packages (fetched with
#     apt-get download and unpacked into build/hostile-cache, not installed)
#     and in npm packages (npm pack into the same cache);
#   - files made here: empty, random bytes, truncated copies of good pictures,
#     extreme sizes, headers claiming 100000 x 100000 pixels, a decompression bomb.
# None of these files is committed. Then run the test with the corpus:
#
#   tools/hostile-corpus.sh build/hostile-corpus
#   LUMORA_HOSTILE_CORPUS=$PWD/build/hostile-corpus ctest --preset windows-x64 -R 'e2e\.(setup|hostile|cleanup)'
#
# Options: --no-network uses only what the cache already holds; --small
# leaves out the large Debian suite (libjxl-testdata, about 56 MB).
# A missing tool stops it at once; a source that cannot be had (a package
# that cannot be downloaded or packed, or with --no-network is not in the
# cache) makes it fail after the per-source counts.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
network=1 large=1 out=
for arg in "$@"; do
  case "$arg" in
  --no-network) network=0 ;;
  --small) large=0 ;;
  -*) echo "usage: $0 [--no-network] [--small] OUTPUT_DIR" >&2; exit 2 ;;
  *) out=$arg ;;
  esac
done
[ -n "$out" ] || { echo "usage: $0 [--no-network] [--small] OUTPUT_DIR" >&2; exit 2; }
need=(python3 tar dpkg-deb find convert cjpeg)
[ "$network" = 1 ] && need+=(apt-get npm)
for tool in "${need[@]}"; do
  command -v "$tool" >/dev/null ||
    { echo "$0: $tool is not installed (tools/setup-debian.sh installs it)" >&2; exit 1; }
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
cache="$root/build/hostile-cache"
mkdir -p "$cache/deb" "$cache/root" "$cache/npm"
rm -f "$out"/*

declare -A counts
sources=()
count() { counts[$1]=$(( ${counts[$1]:-0} + 1 )); [[ " ${sources[*]} " == *" $1 "* ]] || sources+=("$1"); }

# A source that cannot be had makes the run fail at the end (after the counts),
# so a smaller corpus never passes for the whole one.
problems=()
problem() { echo "  $*" >&2; problems+=("$*"); }

# Copies one file in as SOURCE__path-with-dashes, so every name says where it came from.
take() {
  local source=$1 file=$2 rel=$3
  [ -f "$file" ] && [ ! -L "$file" ] || return 0
  local name="${source}__${rel//\//-}"
  cp "$file" "$out/$name"
  count "$source"
}

# Every picture-like file under DIR (relative names kept); none is an error.
take_tree() {
  local source=$1 dir=$2 pattern=${3:-'.*\.(png|jpe?g|gif|bmp|tiff?|ico|tga|ppm|xpm|icns|webp|dds|jxl|pnm|pbm|pgm|cur|ani)$'}
  [ -d "$dir" ] || { problem "$source: no folder $dir"; return 0; }
  local before=${counts[$source]:-0}
  while IFS= read -r -d '' f; do
    take "$source" "$f" "${f#"$dir"/}"
  done < <(find "$dir" -type f -regextype posix-extended -iregex "$pattern" -print0 | sort -z)
  [ "${counts[$source]:-0}" -gt "$before" ] || problem "$source: no files in $dir"
}

# --- Debian packages ----------------------------------------------------------
declare -A unpacked
deb_unpack() {
  local pkg=$1 deb
  deb=$(ls "$cache/deb/${pkg}_"*.deb 2>/dev/null | head -n1 || true)
  if [ -z "$deb" ]; then
    [ "$network" = 1 ] || { problem "$pkg: not in the cache $cache/deb (--no-network)"; return 0; }
    if ! (cd "$cache/deb" && apt-get download "$pkg" >"$cache/apt.log" 2>&1); then
      problem "$pkg: apt-get download failed ($(tail -n1 "$cache/apt.log"); run apt-get update?)"
      return 0
    fi
    deb=$(ls "$cache/deb/${pkg}_"*.deb 2>/dev/null | head -n1 || true)
    [ -n "$deb" ] || { problem "$pkg: apt-get download left no .deb"; return 0; }
  fi
  if [ ! -f "$cache/root/.$pkg" ]; then
    dpkg-deb -x "$deb" "$cache/root" || { problem "$pkg: cannot unpack $deb"; return 0; }
    touch "$cache/root/.$pkg"
  fi
  unpacked[$pkg]=1
}
# take_tree for a file tree of a Debian package; a package that could not be
# had is reported once, by deb_unpack.
take_deb() {
  local pkg=$1
  shift
  [ -n "${unpacked[$pkg]:-}" ] || return 0
  take_tree "$@"
}

debs=(gdk-pixbuf-tests libsixel-examples golang-1.19-src golang-golang-x-image-dev
      golang-github-rwcarlsen-goexif-dev librust-jpeg-decoder-dev libsdl2-image-tests)
[ "$large" = 1 ] && debs+=(libjxl-testdata)
for pkg in "${debs[@]}"; do deb_unpack "$pkg"; done

r="$cache/root"
# Deliberately broken files, crashers from bug reports, randomly modified files, a GIF suite.
take_deb gdk-pixbuf-tests gdk-pixbuf-tests "$r/usr/libexec/installed-tests/gdk-pixbuf/test-images"
# Its two pictures far over the pixel budget: 22500 x 33300 (JPEG) and 25200 x 33300 (PNG).
take_deb gdk-pixbuf-tests gdk-pixbuf-oversized "$r/usr/libexec/installed-tests/gdk-pixbuf" '.*/gdk-pixbuf/large\.(jpg|png)$'
# PngSuite, with its corrupted x*.png files.
take_deb libsixel-examples pngsuite "$r/usr/share/doc/libsixel-examples/examples/images/pngsuite"
take_deb libsixel-examples libsixel "$r/usr/share/doc/libsixel-examples/examples/images" \
  '.*/images/[^/]*\.(png|jpe?g|gif|bmp|tiff?)$'
# Go's image tests: PngSuite basics, invalid PNGs, progressive and restart-marker JPEGs, GIFs.
take_deb golang-1.19-src go-image "$r/usr/share/go-1.19/src/image" '.*/testdata/.*'
take_deb golang-golang-x-image-dev go-x-image "$r/usr/share/gocode/src/golang.org/x/image" \
  '.*/testdata/.*\.(png|jpe?g|gif|bmp|tiff?|webp)$'
# JPEGs with corrupt, huge and looping EXIF blocks.
take_deb golang-github-rwcarlsen-goexif-dev goexif "$r/usr/share/gocode/src/github.com/rwcarlsen/goexif" '.*\.jpe?g$'
jpeg_decoder=$(ls -d "$r"/usr/share/cargo/registry/jpeg-decoder-* 2>/dev/null | head -n1 || true)
take_deb librust-jpeg-decoder-dev rust-jpeg-decoder "${jpeg_decoder:-$r/usr/share/cargo/registry/jpeg-decoder-*}"
take_deb libsdl2-image-tests sdl2-image-tests "$r/usr/libexec/installed-tests/SDL2_image"
[ "$large" = 1 ] && take_deb libjxl-testdata libjxl-testdata "$r/usr/share/libjxl-testdata" '.*\.(png|jpe?g|gif)$'

# --- npm packages -------------------------------------------------------------
# Unpacks PKG into the cache once and sets npm_dir.
npm_unpack() {
  local pkg=$1 dir="$cache/npm/${1//\//_}" tgz
  npm_dir=$dir
  [ -d "$dir" ] && return 0
  [ "$network" = 1 ] || { problem "$pkg: not in the cache $cache/npm (--no-network)"; return 1; }
  if ! tgz=$(cd "$cache/npm" && npm pack --loglevel=error "$pkg" 2>"$cache/npm.log" | tail -n1) ||
     [ -z "$tgz" ] || [ ! -f "$cache/npm/$tgz" ]; then
    problem "$pkg: npm pack failed ($(head -n1 "$cache/npm.log"); see $cache/npm.log)"
    return 1
  fi
  # Unpacked beside and renamed, so an interrupted run leaves no half folder in the cache.
  rm -rf "$dir.partial"
  mkdir -p "$dir.partial"
  tar -xzf "$cache/npm/$tgz" -C "$dir.partial" || { problem "$pkg: cannot unpack $tgz"; return 1; }
  mv "$dir.partial" "$dir"
}
for pkg in bmp-js @jimp/jpeg @jimp/bmp gifuct-js; do
  npm_unpack "$pkg" || continue
  take_tree "npm-${pkg//[@\/]/}" "$npm_dir"
done

# --- Made here ------------------------------------------------------------------
gen="$cache/generated"
rm -rf "$gen"
mkdir -p "$gen"
good_png=$(ls "$out"/pngsuite__*basn2c08.png 2>/dev/null | head -n1 || true)
good_jpeg=$(ls "$out"/go-image__testdata-video-001.jpeg 2>/dev/null | head -n1 || true)
python3 - "$gen" "$good_png" "$good_jpeg" <<'PY'
import os, random, struct, sys, zlib
gen, good_png, good_jpeg = sys.argv[1:4]
rng = random.Random(1234)

def write(name, data):
    with open(os.path.join(gen, name), 'wb') as f:
        f.write(data)

def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)

def png(width, height, rows=None, colour=2, level=9, idat=None):
    bpp = {0: 1, 2: 3}[colour]
    ihdr = struct.pack('>IIBBBBB', width, height, 8, colour, 0, 0, 0)
    if idat is None:
        comp = zlib.compressobj(level)
        parts = []
        for y in range(height):
            row = rows(y) if rows else bytes([255, 128, 0] * width if colour == 2 else [200] * width)
            parts.append(comp.compress(b'\0' + row))
        parts.append(comp.flush())
        idat = b''.join(parts)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + chunk(b'IDAT', idat) + chunk(b'IEND', b'')

def bomb(width, height):
    # All-zero grey rows compress about 1000:1: a small file that decodes huge.
    comp = zlib.compressobj(9)
    row = b'\0' * (width + 1)
    idat = b''.join(comp.compress(row) for _ in range(height)) + comp.flush()
    return png(width, height, colour=0, idat=idat)

def bmp_header(width, height, bits=24, data=b''):
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, 0, 0, 2835, 2835, 0, 0)
    return b'BM' + struct.pack('<IHHI', 14 + 40 + len(data), 0, 0, 54) + info + data

write('empty.dat', b'')
for n in (1, 7, 100, 4096, 300000):
    write(f'random-{n}.dat', bytes(rng.randrange(256) for _ in range(n)))
write('png-signature-only.dat', b'\x89PNG\r\n\x1a\n')
write('1x1.png', png(1, 1))
write('65535x1.png', png(65535, 1))
write('1x65535.png', png(1, 65535))
write('claims-100000x100000.png', png(100000, 100000, idat=zlib.compress(b'\0' * 64)))
write('claims-100000x100000.bmp', bmp_header(100000, 100000, data=b'\xff' * 64))
write('claims-100000x-100000-topdown.bmp', bmp_header(100000, -100000, data=b'\xff' * 64))
write('bmp-zero-width.bmp', bmp_header(0, 10, data=b'\xff' * 64))
write('bmp-bits-33.bmp', bmp_header(4, 4, bits=33, data=b'\xff' * 64))
write('claims-4gb-wide.png', png(0x7fffffff, 1, idat=zlib.compress(b'\0' * 64)))
write('bomb-15000x15000.png', bomb(15000, 15000))
write('bomb-20000x20000.png', bomb(20000, 20000))
# GIF: a 65535 x 65535 logical screen around a 1 x 1 frame.
write('gif-huge-screen.gif', b'GIF89a' + struct.pack('<HHBBB', 65535, 65535, 0x80, 0, 0) + b'\xff\x00\x00\x00\x00\x00'
      + b',' + struct.pack('<HHHHB', 0, 0, 1, 1, 0) + b'\x02\x02\x44\x01\x00;')
# Harm that only the picture helper's budgets or a header walk through the
# whole file stop; ".black." in a name tells the test to expect black without
# decoding the file itself.
# A phone portrait's shape: megabytes of metadata (a depth map) before the
# frame header, which declares 65500 x 65500.
app1 = (b'\xff\xe1\xff\xff' + b'\x5a' * 65533) * 24
sof = b'\xff\xc0' + struct.pack('>HBHHB', 11, 8, 65500, 65500, 1) + b'\x01\x11\x00'
write('jpeg-frame-after-1.5MiB-of-app1.black.jpg', b'\xff\xd8' + app1 + sof + b'\xff\xda\x00\x08\x01\x01\x00\x00\x3f\x00'
      + b'\x12' * 1024 + b'\xff\xd9')
def gif(frames, screen=(16, 16)):
    out = [b'GIF89a' + struct.pack('<HHBBB', screen[0], screen[1], 0x80, 0, 0) + b'\xff\x00\x00\x00\x00\x00']
    for (w, h), data in frames:
        out.append(b',' + struct.pack('<HHHHB', 0, 0, w, h, 0) + b'\x02')
        for i in range(0, len(data), 255):
            block = data[i:i + 255]
            out.append(bytes([len(block)]) + block)
        out.append(b'\x00')
    return b''.join(out) + b';'
write('gif-16x16-then-40000x40000.black.gif', gif([((16, 16), b'\x44\x01'), ((40000, 40000), bytes(rng.randrange(256) for _ in range(1 << 20)))]))
write('gif-6000-frames-of-480x480.black.gif', gif([((480, 480), b'\x44\x01')] * 6000))
# 15000 x 16000 (240 MP, within the pixel budget) at 16 bits per channel with
# alpha: about 1.9 GB once decoded, past the helper's memory budget.
# A zlib stream of `block` repeated `count` times, made in seconds: each block
# is compressed after a full flush, so every one after the first compresses
# to the same bytes.
def repeated_zlib(block, count):
    comp = zlib.compressobj(9)
    first = comp.compress(block) + comp.flush(zlib.Z_FULL_FLUSH)
    again = comp.compress(block) + comp.flush(zlib.Z_FULL_FLUSH)
    adler = 1
    for _ in range(count):
        adler = zlib.adler32(block, adler)
    # The stream's own trailer: an empty final block, then Adler-32 of everything.
    tail = comp.flush(zlib.Z_FINISH)[:-4] + struct.pack('>I', adler)
    return first + again * (count - 1) + tail
def deep_png(width, height):
    row = b'\0' + b'\x40\x00\x80\x00\xc0\x00\xff\xff' * width
    ihdr = struct.pack('>IIBBBBB', width, height, 16, 6, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + chunk(b'IDAT', repeated_zlib(row, height)) + chunk(b'IEND', b'')
write('png-240mp-16bit-alpha.black.png', deep_png(15000, 16000))
# A 64 x 64 picture whose colour-profile chunk (about 1 MB) inflates to
# 1 GiB of zeros, which some decoders inflate whole when they are created.
def profile_bomb_png(inflated_mib):
    profile = b'bomb\0\0' + repeated_zlib(b'\0' * (1 << 20), inflated_mib)
    picture = png(64, 64)
    return picture[:33] + chunk(b'iCCP', profile) + picture[33:]
write('png-profile-inflating-to-1GiB.black.png', profile_bomb_png(1024))
# TIFF header claiming 100000 x 100000 with one tiny strip.
def tiff_huge():
    entries = [(256, 4, 1, 100000), (257, 4, 1, 100000), (258, 3, 1, 8), (259, 3, 1, 1), (262, 3, 1, 1),
               (273, 4, 1, 8 + 2 + 12 * 8 + 4), (277, 3, 1, 1), (279, 4, 1, 16)]
    ifd = struct.pack('<H', len(entries)) + b''.join(struct.pack('<HHII', *e) for e in entries) + b'\0\0\0\0'
    return b'II*\0' + struct.pack('<I', 8) + ifd + b'\x80' * 16
write('tiff-claims-100000x100000.tif', tiff_huge())
for path, stem in ((good_png, 'png'), (good_jpeg, 'jpeg')):
    if not path:
        continue
    data = open(path, 'rb').read()
    for cut in (0.02, 0.25, 0.5, 0.9):
        write(f'truncated-{stem}-{int(cut * 100)}pct.dat', data[:max(1, int(len(data) * cut))])
    write(f'{stem}-with-flipped-byte.dat', data[:len(data) // 2] + bytes([data[len(data) // 2] ^ 0xff]) + data[len(data) // 2 + 1:])
PY
[ -n "$good_png" ] || problem "generated: no good PNG (pngsuite basn2c08.png) to cut and flip"
[ -n "$good_jpeg" ] || problem "generated: no good JPEG (go-image video-001.jpeg) to cut and flip"
# JPEG flavours the suites lack, made with libjpeg-turbo's cjpeg.
if [ -n "$good_png" ]; then
  convert "$good_png" ppm:"$gen/good.ppm" &&
    cjpeg -arithmetic -outfile "$gen/arithmetic.jpg" "$gen/good.ppm" &&
    cjpeg -progressive -restart 1 -outfile "$gen/progressive-restart.jpg" "$gen/good.ppm" ||
    problem "generated: convert or cjpeg failed on $good_png"
  rm -f "$gen/good.ppm"
fi
for f in "$gen"/*; do take generated "$f" "$(basename "$f")"; done

total=0
echo "Hostile picture corpus in $out:"
for s in "${sources[@]}"; do
  printf '  %-22s %5d files\n' "$s" "${counts[$s]}"
  total=$((total + counts[$s]))
done
printf '  %-22s %5d files\n' total "$total"
if [ "${#problems[@]}" -gt 0 ]; then
  echo "The corpus is incomplete; these sources could not be had:" >&2
  printf '  %s\n' "${problems[@]}" >&2
  exit 1
fi
echo "Run the test with: LUMORA_HOSTILE_CORPUS=$out"
