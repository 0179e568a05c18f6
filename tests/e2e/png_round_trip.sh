#!/usr/bin/env bash
# PNG, JPEG and Targa through quorvel-cli: every generated PNG and JPEG file
# loads to the pixels its generator computed, saved as PNG, Targa and BMP,
# and each saved file gives the same pixels to ImageMagick and, read back,
# to quorvel-cli itself.
# Usage: png_round_trip.sh QUORVEL_CLI TESTS_DATA_DIR
set -uo pipefail
cli=$1
data=$2/png
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0 count=0

fail() {
  echo "FAIL $1"
  failed=1
}

shopt -s nullglob
for file in "$data"/*_plain.png "$data"/*.jpg "$data"/*.jpeg; do
  name=${file##*/}
  expected=$data/expected/$name.rgb
  for format in bmp png tga; do
    out=$work/$name.$format
    "$cli" "$file" "$out" || { fail "$name: not saved as $format"; continue; }
    # ImageMagick keeps a Targa file's bottom-left origin as an orientation
    # to apply, not in its raw pixel rows.
    convert "$out" -auto-orient -depth 8 "rgb:$work/seen.rgb" || { fail "$name.$format: ImageMagick cannot read it"; continue; }
    cmp -s "$work/seen.rgb" "$expected" || fail "$name.$format: ImageMagick sees other pixels"
    # Read back by our own readers, it gives the BMP saved straight from INPUT.
    if [ "$format" != bmp ]; then
      "$cli" "$out" "$work/back.bmp" || { fail "$name.$format: cannot be read back"; continue; }
      cmp -s "$work/back.bmp" "$work/$name.bmp" || fail "$name.$format: reads back to other pixels"
    fi
  done
  count=$((count + 1))
done
[ "$count" -ge 21 ] || fail "only $count files found"
echo "$count files saved as PNG, Targa and BMP and compared"
exit $failed
