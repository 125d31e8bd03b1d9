#!/usr/bin/env bash
# The release command on the built exe (and the check beside it) with a throwaway
# certificate: the signed file verifies, passes exe_check.sh and gives back the build without its signature; a wrong
# password or a missing certificate ends with a message and releases nothing.
set -uo pipefail
exe=$(realpath "$1")
tests=$(realpath "$(dirname "$0")")
failed=0
cd "$(mktemp -d)" || exit 1
trap 'rm -rf "$PWD"' EXIT
fail() {
  echo "FAIL: $*"
  failed=1
}
release() {
  "$tests/../scripts/release.sh" --exe "$exe" --ca cert.pem "$@" 2>&1
}
# Self-signed: the certificate is its own root.
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 1 -subj /CN=Us \
  -addext extendedKeyUsage=codeSigning 2>/dev/null
echo secret >password
echo wrong >wrong
openssl pkcs12 -export -inkey key.pem -in cert.pem -passout file:password -out cert.p12

release --pkcs12 cert.p12 --password-file password --out signed || fail "not signed"
verified=$(osslsigncode verify -CAfile cert.pem -in signed/Quillmere.exe) || fail "not valid"
grep -qE 'Message digest algorithm +: SHA256' <<<"$verified" || fail "not signed with SHA-256"
"$tests/exe_check.sh" signed/Quillmere.exe || fail "the signed exe fails exe_check.sh"
osslsigncode remove-signature -in signed/Quillmere.exe -out signed/Quillmere.unsigned.exe >/dev/null
(cd signed && sha256sum --quiet -c Quillmere.unsigned.exe.sha256) || fail "no unsigned hash"
# The check beside it, signed with the same certificate, with hashes of its own.
osslsigncode verify -CAfile cert.pem -in signed/quillmere-check.exe >/dev/null || fail "check"
(cd signed && sha256sum --quiet -c quillmere-check.exe.sha256) || fail "no hash of the check"

refused() {
  message=$(release --out refused --password-file "$2" --pkcs12 "$3") && fail "released: $1"
  grep -qF "$1" <<<"$message" || fail "no message \"$1\" in: $message"
  [[ ! -e refused ]] || fail "$1, yet released $(ls -A refused)"
}
refused "signing failed" wrong cert.p12
refused "lost.p12: no such file" password lost.p12
exit $failed
