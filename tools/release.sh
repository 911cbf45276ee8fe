#!/usr/bin/env bash
# Builds both Windows presets and packs them for download:
#
#   tools/release.sh [OUTPUT_DIR]     (default build/release)
#
# writes OUTPUT_DIR/Lumora-<version>-windows.zip: the 64-bit Lumora.scr at the
# top, the 32-bit one in x86/, the install texts in Japanese and English and
# SHA256SUMS.txt. The version is the one the About box shows, read from the
# built executable's version record (resources/Lumora.rc is its one source).
#
# With LUMORA_SIGN_PFX (and LUMORA_SIGN_PASSWORD, when the file has one) set,
# both builds are signed with Authenticode, SHA-256, by osslsigncode; with
# LUMORA_SIGN_TIMESTAMP_URL set too, the signature gets a timestamp from that
# RFC 3161 server. Without them the release is unsigned, and says so.
#
# The same sources give the same zip, byte for byte: every entry carries the
# time of the last commit (or SOURCE_DATE_EPOCH), in a fixed order. A signed
# release differs by its signing time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/release}
mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$root"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

for preset in windows-x64 windows-x86; do
  echo "building $preset"
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" --target Lumora; } >"$stage/build.log" 2>&1; then
    cat "$stage/build.log" >&2
    exit 1
  fi
done

# What the About box shows: major.minor.revision of the fixed file version
# (the revision is its last field).
version_of() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
at = data.find(struct.pack('<I', 0xFEEF04BD))  # VS_FIXEDFILEINFO's signature
if at < 0:
    sys.exit(f'{sys.argv[1]}: no version record')
ms, ls = struct.unpack_from('<II', data, at + 8)
print(f'{ms >> 16}.{ms & 0xFFFF}.{ls & 0xFFFF}')
PY
}
version=$(version_of build/windows-x64/Lumora.scr)
[ "$(version_of build/windows-x86/Lumora.scr)" = "$version" ] ||
  { echo "the two builds carry different versions" >&2; exit 1; }

mkdir "$stage/pack" "$stage/pack/x86"
cp build/windows-x64/Lumora.scr "$stage/pack/Lumora.scr"
cp build/windows-x86/Lumora.scr "$stage/pack/x86/Lumora.scr"
builds=(Lumora.scr x86/Lumora.scr)

if [ -n "${LUMORA_SIGN_PFX:-}" ]; then
  command -v osslsigncode >/dev/null ||
    { echo "osslsigncode is not installed (tools/setup-debian.sh installs it)" >&2; exit 1; }
  sign=(sign -pkcs12 "$LUMORA_SIGN_PFX" -h sha256 -n Lumora)
  if [ -n "${LUMORA_SIGN_PASSWORD:-}" ]; then
    # From a file of the owner's alone, never on a command line others can read.
    (umask 077 && printf '%s' "$LUMORA_SIGN_PASSWORD" >"$stage/password")
    sign+=(-readpass "$stage/password")
  fi
  [ -n "${LUMORA_SIGN_TIMESTAMP_URL:-}" ] && sign+=(-ts "$LUMORA_SIGN_TIMESTAMP_URL")
  for f in "${builds[@]}"; do
    osslsigncode "${sign[@]}" -in "$stage/pack/$f" -out "$stage/pack/$f.signed" >"$stage/sign.log" 2>&1 ||
      { cat "$stage/sign.log" >&2; echo "signing $f failed" >&2; exit 1; }
    mv "$stage/pack/$f.signed" "$stage/pack/$f"
  done
  rm -f "$stage/password"
  echo "signed with $LUMORA_SIGN_PFX${LUMORA_SIGN_TIMESTAMP_URL:+, timestamped by $LUMORA_SIGN_TIMESTAMP_URL}"
else
  echo "unsigned: LUMORA_SIGN_PFX is not set (see the README on signing)"
fi

epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
zip="$out/Lumora-$version-windows.zip"
python3 - "$stage/pack" "$zip.part" "$version" "$epoch" <<'PY'
import hashlib, sys, time, zipfile
pack, zip_path, version, epoch = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])

def text(name):
    # Notepad on every Windows reads UTF-8 with a byte-order mark and CRLF.
    body = open(f'docs/install/{name}.txt', encoding='utf-8').read().replace('@VERSION@', version)
    return '\ufeff'.encode() + body.replace('\r\n', '\n').replace('\n', '\r\n').encode('utf-8')

files = {
    'Lumora.scr': open(f'{pack}/Lumora.scr', 'rb').read(),
    'x86/Lumora.scr': open(f'{pack}/x86/Lumora.scr', 'rb').read(),
    'README-ja.txt': text('ja'),
    'README-en.txt': text('en'),
}
files['SHA256SUMS.txt'] = ''.join(
    f'{hashlib.sha256(data).hexdigest()}  {name}\r\n' for name, data in files.items()).encode()

# Zip times are local times without a zone: the commit's time in UTC.
stamp = time.gmtime(max(epoch, 315532800))[:6]  # zip times start in 1980
with zipfile.ZipFile(zip_path, 'w') as z:
    for name, data in files.items():
        info = zipfile.ZipInfo(name, stamp)
        info.create_system = 0  # MS-DOS attributes, whatever system packs it
        info.external_attr = 0x20  # archive
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, data, compresslevel=9)
        print(f'{len(data):>9}  {name}')
PY
mv "$zip.part" "$zip"
echo "$zip"
