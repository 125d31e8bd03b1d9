#!/usr/bin/env bash
# Makes a release of Quillmere.exe in dist/: built twice from clean, in two different
# folders, and the two files must agree byte for byte; then, when a certificate is given,
# signed with Authenticode (SHA-256), the signature verified, and checked that removing
# it gives back the build. Writes Quillmere.exe.sha256 for the file as released and, when
# signed, Quillmere.unsigned.exe.sha256 for the file without its signature.
#
#   scripts/release.sh [options]
#     --pkcs12 FILE          certificate and private key in a PKCS#12 file
#     --password-file FILE   its password, or the token's PIN: the whole file, a final
#                            line break aside
#     --pkcs11-module FILE   a PKCS#11 module, for a hardware token or a cloud signing service
#     --key URI              the private key in the token (a pkcs11: URI)
#     --cert FILE|URI        the signing certificate, as a file or a pkcs11: URI in the token
#     --timestamp URL        an RFC 3161 time-stamp server to counter-sign (needs the network)
#     --ca FILE              the roots to verify against (default: the system's)
#     --exe FILE             release this build instead of building (made elsewhere)
#     --out DIR              where the release goes (default: dist)
#
# Nothing is written to the output folder unless every step succeeded.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$root/dist pkcs12= password= module= key= cert= timestamp= ca= exe=

fail() {
  echo "release: $*" >&2
  exit 1
}
readable() {
  [[ -f $2 && -r $2 ]] || fail "$1 $2: no such file, or it cannot be read. Nothing was released."
}

while (($#)); do
  (($# >= 2)) || fail "$1 needs a value"
  case $1 in
    --pkcs12) pkcs12=$2 ;;
    --password-file) password=$2 ;;
    --pkcs11-module) module=$2 ;;
    --key) key=$2 ;;
    --cert) cert=$2 ;;
    --timestamp) timestamp=$2 ;;
    --ca) ca=$2 ;;
    --exe) exe=$2 ;;
    --out) out=$2 ;;
    *) fail "unknown option $1 (see the top of scripts/release.sh)" ;;
  esac
  shift 2
done

# Every input is checked before the build, which takes minutes.
signer=()
if [[ -n $pkcs12 ]]; then
  [[ -z $module$key$cert ]] || fail "give either --pkcs12 or --pkcs11-module, --key and --cert"
  [[ -n $password ]] || fail "--pkcs12 needs --password-file (never a password on the command line)"
  readable --pkcs12 "$pkcs12"
  signer=(-pkcs12 "$pkcs12")
elif [[ -n $module$key$cert ]]; then
  [[ -n $module && -n $key && -n $cert ]] || fail "a token needs --pkcs11-module, --key and --cert"
  readable --pkcs11-module "$module"
  signer=(-pkcs11module "$module" -key "$key")
  if [[ $cert == pkcs11:* ]]; then
    signer+=(-pkcs11cert "$cert")
  else
    readable --cert "$cert"
    signer+=(-certs "$cert")
  fi
fi
if [[ -n $password ]]; then
  ((${#signer[@]})) || fail "--password-file without a certificate"
  readable --password-file "$password"
  # osslsigncode would take a password with -pass, where every user of the machine sees it.
  signer+=(-readpass "$password")
fi
[[ -z $ca ]] || readable --ca "$ca"
[[ -z $exe ]] || readable --exe "$exe"
"$root/scripts/install-deps.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unsigned=$work/Quillmere.exe
if [[ -n $exe ]]; then
  cp "$exe" "$unsigned"
else
  for build in "$work/first" "$work/second/elsewhere"; do
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=MinSizeRel -DQUILLMERE_TESTS=OFF >/dev/null
    cmake --build "$build" --target Quillmere >/dev/null
  done
  cmp "$work/first/Quillmere.exe" "$work/second/elsewhere/Quillmere.exe" \
    || fail "two clean builds of Quillmere.exe differ. Nothing was released."
  cp "$work/first/Quillmere.exe" "$unsigned"
  echo "Reproducible: two clean builds agree."
fi
plain=$(sha256sum "$unsigned" | cut -d' ' -f1)
release=$unsigned

if ((${#signer[@]})); then
  release=$work/signed/Quillmere.exe
  mkdir "$work/signed"
  stamp=()
  [[ -z $timestamp ]] || stamp=(-ts "$timestamp")
  osslsigncode sign "${signer[@]}" -h sha256 -n Quillmere "${stamp[@]}" \
    -in "$unsigned" -out "$release" >/dev/null \
    || fail "signing failed (a wrong password, a certificate or key that cannot be read, or" \
      "a time-stamp server out of reach). Nothing was released."
  verify=(osslsigncode verify -in "$release")
  [[ -z $ca ]] || verify+=(-CAfile "$ca")
  "${verify[@]}" >"$work/verify.txt" 2>&1 || {
    cat "$work/verify.txt" >&2
    fail "the signature just made does not verify. Nothing was released."
  }
  osslsigncode remove-signature -in "$release" -out "$work/stripped.exe" >/dev/null
  cmp -s "$work/stripped.exe" "$unsigned" \
    || fail "removing the signature does not give back the build. Nothing was released."
fi

# Into place by rename, so that no half-written file ever stands under the release's name.
mkdir -p "$out"
trap 'rm -rf "$work" "$out/.Quillmere.exe.part"' EXIT
cp "$release" "$out/.Quillmere.exe.part"
mv -f "$out/.Quillmere.exe.part" "$out/Quillmere.exe"
(cd "$out" && sha256sum Quillmere.exe >Quillmere.exe.sha256)
if [[ $release == "$unsigned" ]]; then
  rm -f "$out/Quillmere.unsigned.exe.sha256"
  echo "No certificate given: $out/Quillmere.exe is not signed. SHA-256 $plain"
else
  echo "$plain  Quillmere.unsigned.exe" >"$out/Quillmere.unsigned.exe.sha256"
  signed=$(sha256sum <"$out/Quillmere.exe" | cut -c-64)
  echo "Signed and verified: $out/Quillmere.exe SHA-256 $signed"
  echo "Without its signature (the reproducible build): SHA-256 $plain"
fi
