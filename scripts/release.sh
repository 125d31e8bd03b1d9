#!/usr/bin/env bash
# Makes a release of Quillmere.exe and quillmere-check.exe in dist/: built twice from clean,
# in two different folders, and the two builds must agree byte for byte; then, when a
# certificate is given, each signed with Authenticode (SHA-256), the signature verified, and
# checked that removing it gives back the build. Writes <program>.exe.sha256 for each file
# as released and, when signed, <program>.unsigned.exe.sha256 for it without its signature.
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
#     --exe FILE             release this build instead of building (made elsewhere), with
#                            the quillmere-check.exe beside it
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
mkdir "$work/unsigned" "$work/signed"
# The stub and the check beside it, which tells what the stub's next start will do.
programs=(Quillmere quillmere-check)
if [[ -n $exe ]]; then
  cp "$exe" "$work/unsigned/Quillmere.exe"
  check=$(dirname "$exe")/quillmere-check.exe
  readable "(beside --exe)" "$check"
  cp "$check" "$work/unsigned/quillmere-check.exe"
else
  for build in "$work/first" "$work/second/elsewhere"; do
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=MinSizeRel -DQUILLMERE_TESTS=OFF >/dev/null
    cmake --build "$build" --target "${programs[@]}" >/dev/null
  done
  for program in "${programs[@]}"; do
    cmp "$work/first/$program.exe" "$work/second/elsewhere/$program.exe" \
      || fail "two clean builds of $program.exe differ. Nothing was released."
    cp "$work/first/$program.exe" "$work/unsigned/$program.exe"
  done
  echo "Reproducible: two clean builds agree."
fi

for program in "${programs[@]}"; do
  unsigned=$work/unsigned/$program.exe release=$work/signed/$program.exe
  if ((${#signer[@]})); then
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
    osslsigncode remove-signature -in "$release" -out "$work/$program.stripped.exe" >/dev/null
    cmp -s "$work/$program.stripped.exe" "$unsigned" \
      || fail "removing the signature does not give back the build. Nothing was released."
  else
    cp "$unsigned" "$release"
  fi
done

# Into place by rename, so that no half-written file ever stands under the release's name.
mkdir -p "$out"
trap 'rm -rf "$work" "$out"/.*.part' EXIT
for program in "${programs[@]}"; do
  cp "$work/signed/$program.exe" "$out/.$program.exe.part"
done
for program in "${programs[@]}"; do
  mv -f "$out/.$program.exe.part" "$out/$program.exe"
  (cd "$out" && sha256sum "$program.exe" >"$program.exe.sha256")
  plain=$(sha256sum <"$work/unsigned/$program.exe" | cut -c-64)
  if ((${#signer[@]} == 0)); then
    rm -f "$out/$program.unsigned.exe.sha256"
    echo "No certificate given: $out/$program.exe is not signed. SHA-256 $plain"
  else
    echo "$plain  $program.unsigned.exe" >"$out/$program.unsigned.exe.sha256"
    signed=$(sha256sum <"$out/$program.exe" | cut -c-64)
    echo "Signed and verified: $out/$program.exe SHA-256 $signed"
    echo "Without its signature (the reproducible build): SHA-256 $plain"
  fi
done
