#!/bin/sh
# make-selfextracting.sh HEADER BUNDLE_DIR OUTPUT: one executable file holding the whole bundle, so that a
# downloaded installer is a single program that can be started as it is.
set -eu
header=$1 bundle=$2 output=$3
tmp="$output.tmp"
cat "$header" > "$tmp"
tar -czf - -C "$bundle" . >> "$tmp"
chmod 755 "$tmp"
mv -f "$tmp" "$output"
