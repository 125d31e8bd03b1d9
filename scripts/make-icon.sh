#!/usr/bin/env bash
# Regenerates src/startup/resources/Quillmere.ico from icon.svg beside it.
# The .ico is kept in the repository so that building the stub needs no image tools;
# run this only after changing the drawing, and commit both files together.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
res="$root/src/startup/resources"
sizes=(16 24 32 48 64 72 96 128 256)

need=()
command -v rsvg-convert >/dev/null || need+=(librsvg2-bin)
command -v icotool >/dev/null || need+=(icoutils)
if ((${#need[@]})); then
  # A fresh machine may not have package lists yet; fetch them only when the install needs them.
  apt-get install -y --no-install-recommends "${need[@]}" \
    || { apt-get update && apt-get install -y --no-install-recommends "${need[@]}"; }
fi

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

args=()
for s in "${sizes[@]}"; do
  rsvg-convert --width "$s" --height "$s" --format png -o "$tmp/$s.png" "$res/icon.svg"
  # Windows reads 256-pixel icons as PNG; the smaller ones stay DIBs, which every
  # version of the shell draws, with their alpha channel (32 bits per pixel).
  if ((s == 256)); then args+=(--raw="$tmp/$s.png"); else args+=("$tmp/$s.png"); fi
done

icotool --create --bit-depth=32 -o "$tmp/Quillmere.ico" "${args[@]}"
mv "$tmp/Quillmere.ico" "$res/Quillmere.ico"
icotool --list "$res/Quillmere.ico"
