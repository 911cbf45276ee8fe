#!/usr/bin/env bash
# Installs what is needed, builds every preset and runs every test:
# unit tests (native), the import-table check (x86 and x64), the end-to-end
# tests under Wine (x64) and a short fuzzing run. Ends with one summary line.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

tools/setup-debian.sh || exit 1

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}
for preset in native windows-x64 windows-x86; do
  build "$preset" || { echo "build of $preset failed"; exit 1; }
done

passed=0 failed=0

tally() {  # reads ctest's closing line
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
  local total fail
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  fail=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - fail))
  failed=$((failed + fail))
}

# Broken and extreme pictures from public test suites, for the robustness test.
if tools/hostile-corpus.sh build/hostile-corpus >build/hostile-corpus.log 2>&1; then
  export LUMORA_HOSTILE_CORPUS="$PWD/build/hostile-corpus"
else
  echo "gathering the hostile-picture corpus failed:"; tail -n 20 build/hostile-corpus.log
  failed=$((failed + 1))
  # Not a caller's old corpus either: the robustness test fails without one.
  unset LUMORA_HOSTILE_CORPUS
fi

log=$(mktemp)
# Each entry runs once: a test that fails now and then is a fault to find.
for preset in native windows-x86 windows-x64; do
  echo "== ctest --preset $preset"
  ctest --preset "$preset" 2>&1 | tee "$log"
  tally "$log"
done

echo "== fuzzing (short)"
if [ ! -x tools/fuzz.sh ]; then
  echo "tools/fuzz.sh is missing or not executable: the fuzzing run cannot run"
  failed=$((failed + 1))
elif tools/fuzz.sh --short; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi
rm -f "$log"

echo
echo "all: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
