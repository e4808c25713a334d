#!/usr/bin/env bash
# Renders every SVG under resources/images/src to PNG at 1x, @2x and @3x beside the resource paths the
# QML uses (resources/images/<same sub-path>.png). Needs rsvg-convert (librsvg2-bin); the logo's text
# uses League Spartan from fonts-league-spartan.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
src="$top/resources/images/src"
out="$top/resources/images"
cd "$src"
find . -name '*.svg' | sort | while read -r svg; do
    rel=${svg#./}
    base="$out/${rel%.svg}"
    mkdir -p "$(dirname "$base")"
    rsvg-convert --zoom 1 -o "$base.png" "$svg"
    rsvg-convert --zoom 2 -o "$base@2x.png" "$svg"
    rsvg-convert --zoom 3 -o "$base@3x.png" "$svg"
    echo "$rel"
done
