#!/usr/bin/env bash
# The release command end to end: two unsigned runs give the same zip, byte
# for byte; a run signed with a throw-away self-signed certificate carries an
# Authenticode SHA-256 signature in both builds; each zip holds what a user
# needs, and its checksums match its files.
set -euo pipefail
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# The version the About box shows: 1.0 with revision 0.
zip=Lumora-1.0.0-windows.zip
fail() { echo "FAILED: $*" >&2; exit 1; }

# 0x14c is an i386 executable, 0x8664 an x86-64 one.
machine() { printf '%x' "$(od -An -tu2 -j $(( $(od -An -tu4 -j60 -N4 "$1") + 4 )) -N2 "$1")"; }

# Unpacks a release into folder $2 and checks what every release holds.
unpack() {
  python3 -m zipfile -e "$1" "$2"
  local entries
  entries=$(python3 -m zipfile -l "$1" | awk 'NR > 1 {print $1}' | sort | tr '\n' ' ')
  [ "$entries" = "Lumora.scr README-en.txt README-ja.txt SHA256SUMS.txt x86/Lumora.scr " ] ||
    fail "entries: $entries"
  [ "$(machine "$2/Lumora.scr")" = 8664 ] || fail "the top Lumora.scr is not the 64-bit build"
  [ "$(machine "$2/x86/Lumora.scr")" = 14c ] || fail "x86/Lumora.scr is not the 32-bit build"
  local text
  for text in "$2"/README-*.txt; do
    [ "$(head -c3 "$text" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "$text has no byte-order mark"
    ! grep -qv $'\r$' "$text" || fail "$text has a line without CRLF"
    for word in KORVA001.DAT KORVA050.DAT 'x86\Lumora.scr' 'C:\Windows\System32' /S /C /P /A; do
      grep -qF "$word" "$text" || fail "$text does not mention $word"
    done
  done
  (cd "$2" && sha256sum --quiet -c SHA256SUMS.txt) || fail "checksums of $1"
  [ "$(wc -l <"$2/SHA256SUMS.txt")" = 4 ] || fail "SHA256SUMS.txt does not cover the four other files"
}

"$root/tools/release.sh" "$work/first" >first.log
grep -q '^unsigned' first.log || fail "an unsigned release does not say so"
"$root/tools/release.sh" "$work/second" >/dev/null
cmp "first/$zip" "second/$zip" || fail "two unsigned runs give different zips"
unpack "first/$zip" unsigned

openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Lumora throw-away signer" -days 2 \
  -addext extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -passout pass:throw-away -out signer.pfx
LUMORA_SIGN_PFX=$work/signer.pfx LUMORA_SIGN_PASSWORD=throw-away "$root/tools/release.sh" "$work/signed" >signed.log
grep -q '^signed' signed.log || fail "a signed release does not say so"
unpack "signed/$zip" signed
for scr in Lumora.scr x86/Lumora.scr; do
  # The chain ends in a root nobody trusts: read, digest checked, but failed.
  if osslsigncode verify -in "signed/$scr" >verify.log 2>&1; then fail "signed/$scr verified without its root"; fi
  grep -q 'SHA256' verify.log && grep -q 'Lumora throw-away signer' verify.log ||
    { cat verify.log; fail "no SHA-256 signature by the throw-away signer in signed/$scr"; }
  # Trusting the throw-away root, the whole signature verifies.
  osslsigncode verify -CAfile cert.pem -in "signed/$scr" >verify.log 2>&1 ||
    { cat verify.log; fail "the signature of signed/$scr does not verify against its own root"; }
done
echo "release: identical unsigned zips; both builds signed; checksums match"
