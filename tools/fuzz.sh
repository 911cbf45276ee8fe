#!/usr/bin/env bash
# Fuzzes the portable core with libFuzzer (clang, address and undefined
# behaviour sanitizers): every target fuzz_<name> that tests/fuzz/CMakeLists.txt
# lists.
#
#   tools/fuzz.sh --short           about 30 s per target: the test command's run
#   tools/fuzz.sh [SECONDS]         a longer run, 600 s per target by default
#   tools/fuzz.sh --only NAME ...   one target, fuzz_NAME
#
# Each target starts from its seeds in tests/fuzz/corpus/<name>/ and keeps
# what it finds in build/fuzz/corpus/<name>/, so longer runs build on earlier
# ones. A broken invariant, a crash, a leak or undefined behaviour leaves the
# input in build/fuzz/artifacts/<name>/ and makes the script fail; replay it
# with build/fuzz/tests/fuzz/fuzz_<name> FILE. Runs on 1 worker so the machine
# stays usable.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=600
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
  --short) seconds=30 ;;
  --only) targets=("$2"); shift ;;
  [0-9]*) seconds=$1 ;;
  *) echo "usage: $0 [--short | SECONDS] [--only NAME]" >&2; exit 2 ;;
  esac
  shift
done

command -v clang++ >/dev/null || { echo "clang++ is missing: apt-get install clang libclang-rt-14-dev" >&2; exit 2; }
cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

build="$root/build/fuzz"
# Every target the build defines, each with its seed check fuzz.<name>.seeds.
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(ctest --test-dir "$build" -N | sed -n 's/.*: fuzz\.\(.*\)\.seeds$/\1/p')
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets in $build" >&2; exit 2; }
failed=0
printf '%-15s %6s %10s %8s %6s %8s %s\n' target seconds runs execs/s cov features result
for name in "${targets[@]}"; do
  exe="$build/tests/fuzz/fuzz_$name"
  corpus="$build/corpus/$name" artifacts="$build/artifacts/$name"
  log="$build/logs/$name.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  status=0
  seeds=("$root/tests/fuzz/corpus/$name")
  # Real JPEGs with broken EXIF blocks, when tools/hostile-corpus.sh has fetched them.
  exif="$root/build/hostile-cache/root/usr/share/gocode/src/github.com/rwcarlsen/goexif"
  [ "$name" = exif_orientation ] && [ -d "$exif" ] && seeds+=("$exif")
  "$exe" -max_total_time="$seconds" -print_final_stats=1 -timeout=5 -rss_limit_mb=2048 \
    -max_len=4096 -artifact_prefix="$artifacts/" "$corpus" "${seeds[@]}" \
    >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | tr -dc 0-9)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n1 | tr -dc 0-9)
  result=ok
  if [ "$status" -ne 0 ]; then
    result="FAILED (see $log)"
    failed=1
    grep -E 'invariant broken|ERROR: |runtime error|SUMMARY' "$log" | head -n5 >&2 || true
  fi
  printf '%-15s %6s %10s %8s %6s %8s %s\n' "$name" "$seconds" "${runs:-?}" "${speed:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
exit "$failed"
