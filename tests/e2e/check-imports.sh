#!/usr/bin/env bash
# Fails when an executable imports a DLL that Windows does not ship itself.
set -euo pipefail
objdump=$1 exe=$2
allowed='^(KERNEL32|USER32|GDI32|IMM32|ADVAPI32|SHELL32|SHLWAPI|OLE32|OLEAUT32|WINDOWSCODECS|VERSION|COMCTL32|MSVCRT|UXTHEME|DWMAPI|MSCMS)\.DLL$'
mapfile -t dlls < <("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '[:lower:]' '[:upper:]')
[ "${#dlls[@]}" -gt 0 ] || { echo "no imports found in $exe" >&2; exit 1; }
bad=0
for dll in "${dlls[@]}"; do
  if [[ ! $dll =~ $allowed ]]; then
    echo "unexpected import: $dll" >&2
    bad=1
  fi
done
echo "imports: ${dlls[*]}"
exit $bad
