#!/usr/bin/env bash
# Installs what is needed, builds Lumora.scr (x64 and x86), generates the demo
# pictures and runs the slideshow under Wine. With no X display (or with
# LUMORA_DEMO_HEADLESS=1) it runs in Xvfb, takes a screenshot per picture into
# build/demo/screenshots and ends the slideshow with a key press after
# LUMORA_DEMO_PICTURES pictures (default 6). On a desktop it runs until a key,
# a click or a mouse movement ends it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

tools/setup-debian.sh
for preset in windows-x64 windows-x86; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

demo="$root/build/demo"
rm -rf "$demo/saver" "$demo/screenshots"
mkdir -p "$demo/saver" "$demo/screenshots"
cp build/windows-x64/Lumora.scr "$demo/saver/"
tools/make-demo-pictures.sh "$demo/saver"

size=1280x720
headless=${LUMORA_DEMO_HEADLESS:-}
[ -n "${DISPLAY:-}" ] || headless=1

# The prefix in build/demo/prefix; headless, an Xvfb screen of the desktop's size.
session() { tools/wine-session.sh "$1" "$demo" "${@:2}"; }
trap 'session stop' EXIT
if [ -n "$headless" ]; then session start "$size"; else session prefix; fi

scr="Z:${demo//\//\\}\\saver\\Lumora.scr"
echo "starting the slideshow on $size (one picture every 10 s)"
session exec wine explorer /desktop=shell,$size "$scr" /s </dev/null >/dev/null 2>&1 &
saver=$!

if [ -z "$headless" ]; then
  wait "$saver" || true
  exit 0
fi

pictures=${LUMORA_DEMO_PICTURES:-6}
sleep 3
for i in $(seq 1 "$pictures"); do
  session exec import -window root "$demo/screenshots/$(printf 'picture-%02d.png' "$i")"
  echo "screenshot $i"
  [ "$i" -lt "$pictures" ] && sleep 10
done
# A key press ends the slideshow (the Wine desktop closes with it; the
# end-to-end tests check that the taskbar comes back).
session exec xdotool key space
for _ in $(seq 50); do pgrep -f 'saver.Lumora\.scr' >/dev/null || break; sleep 0.1; done
if pgrep -f 'saver.Lumora\.scr' >/dev/null; then
  echo "the slideshow did not end on a key press" >&2
  exit 1
fi
echo "the slideshow ended on a key press; screenshots in $demo/screenshots"
