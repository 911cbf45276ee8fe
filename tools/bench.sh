#!/usr/bin/env bash
# Benchmark, under Wine, all fitted to 1920x1080:
#  - the slideshow's preparation of one picture against a bare WIC
#    decode-and-scale (the platform's floor), side by side with vipsthumbnail
#    (libvips: shrink-on-load plus high-quality downscale) on the same files,
#    and the two oversized pictures of gdk-pixbuf's tests, which are refused;
#  - the running slideshow in a virtual desktop: from a tick to its picture on
#    screen, from a key to the end (and its picture helper's) while a large
#    picture is prepared, and the saver's and the helper's peak memory;
#  - the display off: the CPU of a show of 24 MP photos over 60 s with the
#    display on and over 60 s with it off (after one interval in the dark),
#    the helper's memory going back, and from the display back on to the
#    next picture on screen at the next tick;
#  - the hostile corpus through the slideshow: how soon the window answers and
#    the picture after each file shows;
#  - the cost of photos' own colours: the CPU of preparing a 24 MP photo
#    carrying a wide-gamut profile against the same photo without it;
# With --idle it also reports the saver's CPU time over 60 s of an idle
# slideshow. Prints figures only; it is not a test.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
idle=
[ "${1:-}" = "--idle" ] && idle=1

tools/setup-debian.sh
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 >/dev/null

work="$root/build/bench"
pics="$work/pictures"
mkdir -p "$pics"
# The session's prefix and, for the running slideshow, its display.
session() { tools/wine-session.sh "$1" "$work" "${@:2}"; }
trap 'session stop' EXIT
session prefix

# Photo-like content: plasma with fine noise, enlarged by libvips, which
# streams (ImageMagick's default limits stop short of 100 MP).
make_picture() {  # name width height
  [ -f "$pics/$1" ] && return
  echo "making $1 ($2x$3)"
  [ -f "$pics/base.png" ] || convert -size 1224x816 plasma:fractal -attenuate 0.4 +noise Gaussian "$pics/base.png"
  local suffix=
  [[ $1 == *.jpg ]] && suffix='[Q=90]'
  vips resize "$pics/base.png" "$pics/$1$suffix" "$(awk -v a="$2" 'BEGIN{print a / 1224}')" \
    --vscale "$(awk -v a="$3" 'BEGIN{print a / 816}')"
}
make_picture photo-1mp.jpg 1224 816
make_picture photo-24mp.jpg 6000 4000
make_picture photo-100mp.jpg 12240 8160
make_picture photo-24mp.png 6000 4000
# The same 24 MP photo carrying a wide-gamut profile in an APP2 segment.
if [ ! -f "$pics/photo-24mp-tagged.jpg" ]; then
  python3 - "$pics/photo-24mp.jpg" /usr/share/color/icc/colord/WideGamutRGB.icc "$pics/photo-24mp-tagged.jpg" <<'PY'
import sys
jpeg, icc = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read()
body = b'ICC_PROFILE\0\1\1' + icc
open(sys.argv[3], 'wb').write(jpeg[:2] + b'\xff\xe2' + (len(body) + 2).to_bytes(2, 'big') + body + jpeg[2:])
PY
fi

# Far over the 250-megapixel budget (22500 x 33300 and 25200 x 33300).
if [ ! -f "$pics/large.jpg" ]; then
  (cd "$work" && apt-get download gdk-pixbuf-tests >/dev/null)
  dpkg-deb -x "$(ls "$work"/gdk-pixbuf-tests_*.deb | head -n 1)" "$work/gdk-pixbuf-tests"
  cp "$work"/gdk-pixbuf-tests/usr/libexec/installed-tests/gdk-pixbuf/large.{jpg,png} "$pics/"
fi

files=(photo-1mp.jpg photo-24mp.jpg photo-100mp.jpg photo-24mp.png large.jpg large.png photo-24mp-tagged.jpg)
winfiles=()
for f in "${files[@]}"; do winfiles+=("Z:${pics//\//\\}\\$f"); done

echo
echo "== Lumora's preparation of a picture vs bare WIC decode-and-scale (Wine $(wine --version))"
session exec wine build/windows-x64/bench/LumoraBench.exe 1920 1080 "${winfiles[@]}" | tr -d '\r' | tee "$work/lumora.txt"

echo
echo "== vipsthumbnail ($(vips --version)) on the same files, best of 3"
printf '%-22s %10s %12s %14s %14s\n' file "vips ms" "peak MiB" "prepare/vips" "bare/vips"
for f in "${files[@]}"; do
  [[ $f == large.* || $f == *-tagged.* ]] && continue  # refused, or the same photo again
  best=
  peak=
  for _ in 1 2 3; do
    out=$( { /usr/bin/time -f '%e %M' vipsthumbnail "$pics/$f" --size 1920x1080 -o "$work/thumb-%s.png" >/dev/null; } 2>&1 | tail -n 1)
    t=$(awk '{print $1 * 1000}' <<<"$out")
    m=$(awk '{printf "%.1f", $2 / 1024}' <<<"$out")
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; peak=$m; fi
  done
  tick=$(awk -v f="$f" '$1 == f {print $2}' "$work/lumora.txt")
  bare=$(awk -v f="$f" '$1 == f {print $3}' "$work/lumora.txt")
  printf '%-22s %10.1f %12s %14s %14s\n' "$f" "$best" "$peak" \
    "$(awk -v a="$tick" -v b="$best" 'BEGIN{printf "%.2f", (b > 0 ? a / b : 0)}')" \
    "$(awk -v a="$bare" -v b="$best" 'BEGIN{printf "%.2f", (b > 0 ? a / b : 0)}')"
done

echo
awk '
  $1 == "photo-1mp.jpg"  { t1 = $5; b1 = $6 }
  $1 == "photo-24mp.jpg" { t24 = $5; b24 = $6 }
  END {
    if (b24 - b1 > 0)
      printf "extra peak working set, 24 MP over 1 MP JPEG: prepare %.1f MiB, bare %.1f MiB, ratio %.2f (target <= 1.10)\n",
             t24 - t1, b24 - b1, (t24 - t1) / (b24 - b1)
  }' "$work/lumora.txt"

echo
echo "== a photo's own colours: the 24 MP JPEG with a wide-gamut profile and without"
session exec wine build/windows-x64/bench/LumoraBench.exe --colour 1920 1080 "${winfiles[1]}" "${winfiles[6]}" | tr -d '\r'

echo
echo "== the running slideshow (a virtual desktop in Xvfb)"
session start 1920x1080 >/dev/null
mkdir -p "$work/saver"
session exec wine explorer /desktop=bench,1920x1080 build/windows-x64/bench/LumoraBench.exe \
  --saver "Z:${root//\//\\}\\build\\windows-x64\\Lumora.scr" "Z:${work//\//\\}\\saver" \
  "${winfiles[1]}" "${winfiles[2]}" </dev/null | tr -d '\r'
session stop

echo
echo "== the hostile corpus through the slideshow, each file after a marker picture (the Hostile end-to-end run)"
corpus="$root/build/hostile-corpus"
if [ -z "$(ls -A "$corpus" 2>/dev/null)" ]; then
  tools/hostile-corpus.sh "$corpus" >"$work/hostile-corpus.log" 2>&1 ||
    { echo "the corpus could not be gathered (see $work/hostile-corpus.log)"; corpus=; }
fi
if [ -n "$corpus" ]; then
  session start >/dev/null
  # Every process of Lumora's (saver and helpers) looked at every 2 ms: its
  # peak resident set so far (VmHWM, which only grows), kept per process, so
  # that a helper ended at its budget leaves its peak behind.
  python3 - "$work/peak-memory.txt" <<'PY' &
import os, signal, sys, time
peaks, stop = {}, False
def end(*_):
    global stop
    stop = True
signal.signal(signal.SIGTERM, end)
while not stop:
    for pid in os.listdir('/proc'):
        if not pid.isdigit():
            continue
        try:
            if b'Lumora.scr' not in open(f'/proc/{pid}/cmdline', 'rb').read():
                continue
            for line in open(f'/proc/{pid}/status'):
                if line.startswith('VmHWM:'):
                    peaks[pid] = max(peaks.get(pid, 0), int(line.split()[1]))
        except OSError:
            pass
    time.sleep(0.002)
top = max(peaks.values(), default=0)
open(sys.argv[1], 'w').write(f'{len(peaks)} {top}\n')
PY
  sampler=$!
  LUMORA_SCR_UNIX="$root/build/windows-x64/Lumora.scr" LUMORA_HOSTILE_CORPUS="$corpus" \
    session run 1024x768 build/windows-x64/tests/e2e/LumoraDriver.exe \
    --gtest_filter='Hostile.CorpusCycles*' 2>&1 | tr -d '\r' | grep -E '^\[ FIGURES|^hostile corpus:|^  ' || true
  kill -TERM "$sampler"; wait "$sampler" || true
  read -r processes peak <"$work/peak-memory.txt"
  awk -v n="$processes" -v p="$peak" 'BEGIN{printf "peak resident memory of any of %d Lumora processes over the corpus: %.0f MiB (target at most 1280)\n", n, p / 1024}'
  session stop
fi

if [ -n "$idle" ]; then
  echo
  echo "== idle: CPU seconds of a running slideshow over 60 s (no forced ticks)"
  saver="$work/idle"
  rm -rf "$saver"; mkdir -p "$saver"
  cp build/windows-x64/Lumora.scr "$saver/"
  # One small picture and 49 missing ones: what is left is the idle cost.
  cp "$pics/photo-1mp.jpg" "$saver/KORVA001.DAT"
  session start 1920x1080 >/dev/null
  session exec wine "Z:${saver//\//\\}\\Lumora.scr" /s </dev/null >/dev/null 2>&1 &
  sleep 5
  # The saver and its picture helper together.
  ticks() { for pid in $(pgrep -f 'idle.Lumora\.scr'); do cat "/proc/$pid/stat"; done | awk '{n += $14 + $15} END {print n}'; }
  before=$(ticks)
  sleep 60
  after=$(ticks)
  hz=$(getconf CLK_TCK)
  awk -v a="$before" -v b="$after" -v hz="$hz" 'BEGIN{printf "CPU over 60 s: %.2f s (6 ticks included, one 1 MP picture)\n", (b - a) / hz}'
fi
