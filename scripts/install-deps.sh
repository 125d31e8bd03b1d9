#!/usr/bin/env bash
# Installs the build and test tools that are missing (Debian 12, as root).
set -euo pipefail

packages=(
  cmake ninja-build                                     # the build
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64  # the Windows cross compiler
  wine64 wine                                           # runs the Windows programs and tests
  icoutils binutils                                     # read the built exe's resources and DLL names
  clang libclang-rt-14-dev                              # the sanitizers and libFuzzer
  python3 procps                                        # the test drivers; pkill ends strays
  clang-format black                                    # formatting, checked by the tests
  osslsigncode libengine-pkcs11-openssl openssl         # signing a release, with a file or a token
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
