#!/usr/bin/env bash
# One Wine prefix and one Xvfb display, for a whole ctest run of the
# end-to-end tests, for the benchmark and for the demo. The tests each run
# inside a Wine virtual desktop that has a taskbar ("shell").
#
#   wine-session.sh start  STATE_DIR [WIDTHxHEIGHT]
#       the prefix (made once, then kept) and an Xvfb screen, 2560x1600 unless given
#   wine-session.sh prefix STATE_DIR
#       the prefix alone, for work that needs no display
#   wine-session.sh run    STATE_DIR [--dpi N] WIDTHxHEIGHT PROGRAM.exe [ARGS...]
#   wine-session.sh run    STATE_DIR dual:WxH+WxH PROGRAM.exe [ARGS...]
#       a test driver, in a virtual desktop of its own; exits with its result
#   wine-session.sh exec   STATE_DIR COMMAND [ARGS...]
#       any command (wine, import, xdotool) in the session's prefix and on its
#       display, or on the caller's display when the session has none
#   wine-session.sh stop   STATE_DIR
#
# --dpi runs at that system DPI (LogPixels) instead of 96.
#
# "dual" runs on two monitors side by side instead of a virtual desktop (which
# Wine gives one monitor only): a nested X server with two Xinerama heads and
# without RandR, so that Wine takes its monitors from Xinerama.
#
# LUMORA_E2E_STATE in the environment overrides STATE_DIR, so that two
# developers' runs on one machine keep to prefixes and displays of their own.
set -euo pipefail

cmd=$1 state=${LUMORA_E2E_STATE:-$2}
shift 2
mkdir -p "$state"
state=$(cd "$state" && pwd)

# LUMORA_DLL_OVERRIDES adds overrides for one run (a DLL disabled, say), for
# every process the run starts: Wine takes them from the Unix environment.
export WINEPREFIX="$state/prefix" WINEARCH=win64 WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml=${LUMORA_DLL_OVERRIDES:+;$LUMORA_DLL_OVERRIDES}"

# The DPI Wine gives every program started afterwards.
set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}

winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

stop_session() {
  if [ -f "$state/display" ]; then
    DISPLAY=":$(cat "$state/display")" wineserver -k 2>/dev/null || true
  fi
  wineserver -k 2>/dev/null || true
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    rm -f "$state/xvfb.pid"
  fi
  rm -f "$state/display"
}

make_prefix() {
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
  # Without a window manager, destroying a full-screen window stalls 2 s.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  # Japanese glyphs need a CJK font linked behind the dialog fonts.
  local font
  for font in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Microsoft Sans Serif" "MS UI Gothic" \
              "Segoe UI" "Yu Gothic UI" "Meiryo UI" "ＭＳ Ｐゴシック" "MS PGothic"; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v "$font" /t REG_MULTI_SZ /d 'NotoSansCJK-Regular.ttc,Noto Sans CJK JP' /f >/dev/null 2>&1
  done
  wineserver -w
  touch "$WINEPREFIX/.lumora-ready"
}

case "$cmd" in
prefix)
  stop_session
  [ -f "$WINEPREFIX/.lumora-ready" ] || make_prefix
  ;;
start)
  stop_session
  [ -f "$WINEPREFIX/.lumora-ready" ] || make_prefix
  # Xvfb picks a free display and reports it on fd 3.
  exec 3>"$state/display"
  Xvfb -displayfd 3 -screen 0 "${1:-2560x1600}x24" -nolisten tcp >/dev/null 2>&1 &
  echo $! >"$state/xvfb.pid"
  exec 3>&-
  for _ in $(seq 100); do [ -s "$state/display" ] && break; sleep 0.1; done
  [ -s "$state/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  echo "Wine prefix $WINEPREFIX on display :$(cat "$state/display")"
  ;;
run)
  dpi=96
  if [ "$1" = --dpi ]; then dpi=$2; shift 2; fi
  desktop=$1 program=$2
  shift 2
  [ -s "$state/display" ] || { echo "no Wine session: run the e2e.setup test first" >&2; exit 1; }
  export DISPLAY=":$(cat "$state/display")"
  # The prefix is shared by all tests: a run at another DPI leaves a mark until
  # it has put 96 back, so a run that was killed half-way is mended by the next.
  if [ "$dpi" != 96 ] || [ -f "$state/dpi-changed" ]; then
    touch "$state/dpi-changed"
    set_dpi "$dpi"
  fi
  out="$state/out" work="$state/work"
  mkdir -p "$out" "$work"
  result="$state/result.$$"
  rm -f "$result"
  export LUMORA_SCR LUMORA_E2E_OUT LUMORA_E2E_WORK LUMORA_E2E_RESULT
  LUMORA_SCR=$(winpath "$LUMORA_SCR_UNIX")
  LUMORA_E2E_OUT=$(winpath "$out")
  LUMORA_E2E_WORK=$(winpath "$work")
  LUMORA_E2E_RESULT=$(winpath "$result")
  # The hostile-pictures corpus (tools/hostile-corpus.sh), when given, as a Windows path.
  case "${LUMORA_HOSTILE_CORPUS:-}" in /*) export LUMORA_HOSTILE_CORPUS=$(winpath "$LUMORA_HOSTILE_CORPUS") ;; esac
  case "${LUMORA_COLOUR_PICTURES:-}" in /*) export LUMORA_COLOUR_PICTURES=$(winpath "$LUMORA_COLOUR_PICTURES") ;; esac
  if [[ $desktop == dual:* ]]; then
    heads=${desktop#dual:}
    command -v Xephyr >/dev/null ||
      { echo "Xephyr is not installed (package xserver-xephyr; tools/setup-debian.sh installs it)" >&2; exit 1; }
    rm -f "$state/dual-display"
    exec 4>"$state/dual-display"
    Xephyr -displayfd 4 +xinerama -extension RANDR -screen "${heads%%+*}" -screen "${heads#*+}" \
      -nolisten tcp >"$state/xephyr.log" 2>&1 &
    nested=$!
    exec 4>&-
    for _ in $(seq 100); do
      [ -s "$state/dual-display" ] || ! kill -0 "$nested" 2>/dev/null && break
      sleep 0.1
    done
    # Without it the driver would run on a display that is not there.
    if [ ! -s "$state/dual-display" ] || ! kill -0 "$nested" 2>/dev/null; then
      echo "Xephyr did not start a two-monitor display ($heads):" >&2
      tail -n 5 "$state/xephyr.log" >&2
      kill "$nested" 2>/dev/null || true
      exit 1
    fi
    DISPLAY=":$(cat "$state/dual-display")" wine "$(winpath "$program")" "$@" </dev/null || true
    wineserver -k 2>/dev/null || true
    kill "$nested" 2>/dev/null || true
  else
    # A fresh desktop per test: the last one must be gone before the next starts.
    wine explorer /desktop=shell,"$desktop" "$(winpath "$program")" "$@" </dev/null || true
  fi
  # Whatever the test left running in this prefix goes, desktop included, so
  # the next test starts on a fresh one.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if [ -f "$state/dpi-changed" ]; then
    set_dpi 96
    # Waiting for the server to end writes the registry to disk.
    wineserver -w 2>/dev/null || true
    rm -f "$state/dpi-changed"
  fi
  if [ ! -f "$result" ]; then
    echo "the test driver ended without reporting a result" >&2
    exit 1
  fi
  code=$(tr -dc '0-9' <"$result")
  rm -f "$result"
  exit "${code:-1}"
  ;;
exec)
  [ -s "$state/display" ] && export DISPLAY=":$(cat "$state/display")"
  exec "$@"
  ;;
stop)
  stop_session
  # Wine keeps a server directory per prefix, named after the prefix's device and inode.
  if [ -d "$WINEPREFIX" ]; then
    rm -rf "/tmp/.wine-$(id -u)/$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))" 2>/dev/null || true
  fi
  ;;
*)
  echo "usage: $0 start|prefix|run|exec|stop STATE_DIR ..." >&2
  exit 2
  ;;
esac
