#!/usr/bin/env bash
# Layers point one way: common/ knows none of the parts, the saver never
# decodes (no picture/), the picture helper's work knows nothing of the
# saver; only startup/ knows both. Fails on, and names, any include that
# points the wrong way.
cd "${1:-$(dirname "$0")/..}" || exit 2
bad=$(
  grep -HnE '^\s*#\s*include\s*["<](saver|picture|startup|settings|about)/' common/*.[ch]*
  grep -HnE '^\s*#\s*include\s*["<](saver|startup|settings|about)/' picture/*.[ch]*
  grep -HnE '^\s*#\s*include\s*["<](picture|startup|settings|about)/' saver/*.[ch]*
  grep -HnE '^\s*#\s*include\s*["<](saver|picture|startup)/' settings/*.[ch]*
  grep -HnE '^\s*#\s*include\s*["<](saver|picture|startup|settings)/' about/*.[ch]*
)
[ -z "$bad" ] && { echo "layers: every include points the right way"; exit 0; }
echo "wrong way:"; echo "$bad"; exit 1
