#!/usr/bin/env bash
# Renders quorvel_icon.mvg into quorvel.ico: 16, 24, 32 and 48 pixels at 4, 8
# and 32 bits per pixel, and 256 pixels at 32 bits (stored as PNG). Needs
# ImageMagick and Python 3; the .ico is kept in the repository, so the build
# does not run this.
set -euo pipefail
cd "$(dirname "$0")"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -background none -density 96 mvg:quorvel_icon.mvg -resize 256x256 PNG32:"$work/256.png"

frames=()
for size in 16 24 32 48; do
    convert "$work/256.png" -resize "${size}x${size}" PNG32:"$work/$size.png"
    convert "$work/$size.png" -depth 8 RGBA:"$work/$size.rgba"
    # Palette entries: colours reduced without dithering over black (their
    # transparency is the 1-bit mask, taken from the alpha channel).
    for colours in 16 256; do
        convert "$work/$size.png" -background black -alpha remove -alpha off -dither None \
            -colors "$colours" -depth 8 RGB:"$work/$size-$colours.rgb"
    done
    frames+=("4:$size:$work/$size-16.rgb:$work/$size.rgba"
             "8:$size:$work/$size-256.rgb:$work/$size.rgba"
             "32:$size:$work/$size.rgba:$work/$size.rgba")
done
frames+=("png:256:$work/256.png:")

python3 pack_ico.py quorvel.ico "${frames[@]}"
