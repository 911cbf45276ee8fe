#!/usr/bin/env bash
# Fails when an executable's PE header lacks what its build needs: the 32-bit
# build large-address-aware, the 64-bit build with high-entropy ASLR; both
# with ASLR (and the relocations it needs) and DEP.
set -euo pipefail
objdump=$1 exe=$2
header=$("$objdump" -p "$exe")
format=$(sed -n 's/.*file format //p' <<<"$header")
characteristics=$(( $(sed -n 's/^Characteristics\s\+\(0x[0-9a-f]\+\).*/\1/p' <<<"$header") ))
dll=$(( 0x$(sed -n 's/^DllCharacteristics\s\+\([0-9a-f]\+\).*/\1/p' <<<"$header") ))

# IMAGE_FILE_* and IMAGE_DLLCHARACTERISTICS_* values of the PE format.
checks=(
  "large address aware:$characteristics:0x0020:1"
  "relocations stripped:$characteristics:0x0001:0"
  "ASLR (dynamic base):$dll:0x0040:1"
  "DEP (NX compatible):$dll:0x0100:1"
)
case $format in
  pei-i386) ;;
  pei-x86-64) checks+=("high-entropy ASLR:$dll:0x0020:1") ;;
  *) echo "$exe: not a Windows executable ($format)" >&2; exit 1 ;;
esac
bad=0
for check in "${checks[@]}"; do
  IFS=: read -r name value flag wanted <<<"$check"
  has=$(( (value & flag) != 0 ))
  if [ "$has" != "$wanted" ]; then
    echo "$exe ($format): $name is $([ "$has" = 1 ] && echo set || echo missing)" >&2
    bad=1
  fi
done
printf '%s: %s, characteristics 0x%04x, DLL characteristics 0x%04x\n' "$exe" "$format" "$characteristics" "$dll"
exit $bad
