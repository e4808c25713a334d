#!/usr/bin/env bash
# Renders the installer's SVG sources to the PNGs its QML loads, at 1x, 2x and 3x (Qt picks @2x/@3x on
# high-density screens). Needs rsvg-convert (librsvg2-bin); the badges' text uses League Spartan
# (fonts-league-spartan).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
for svg in "$here"/src/*.svg; do
    base="$here/images/$(basename "$svg" .svg)"
    rsvg-convert --zoom 1 -o "$base.png" "$svg"
    rsvg-convert --zoom 2 -o "$base@2x.png" "$svg"
    rsvg-convert --zoom 3 -o "$base@3x.png" "$svg"
done
