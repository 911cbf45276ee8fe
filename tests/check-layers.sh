#!/usr/bin/env bash
# Layers point one way: common/ knows none of the parts, the saver never
# decodes (no picture/), the picture helper's work knows nothing of the
# saver; only startup/ knows both. Prints every include that points the
# wrong way and fails on any.
set -uo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2

# folder: the folders its files may not include
rules=(
  "common:saver picture startup settings about"
  "picture:saver startup settings about"
  "saver:picture startup settings about"
  "settings:saver picture startup"
  "about:saver picture startup settings"
)
bad=0
for rule in "${rules[@]}"; do
  folder=${rule%%:*}
  for forbidden in ${rule#*:}; do
    while IFS= read -r hit; do
      echo "wrong way: $hit"
      bad=1
    done < <(grep -HnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]$forbidden/" \
               "$folder"/*.h "$folder"/*.cpp 2>/dev/null)
  done
done
[ "$bad" -eq 0 ] && echo "layers: every include points the right way"
exit "$bad"
