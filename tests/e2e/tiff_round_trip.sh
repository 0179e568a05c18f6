#!/usr/bin/env bash
# TIFF through quorvel-cli: every generated TIFF file, saved as TIFF with no
# options, gives ImageMagick the samples its generator computed (16 bits and
# alpha kept), reads back to the same BMP as the input does, and a folder
# run keeps TIFF inputs as TIFF and writes .tif for --format tif and tiff.
# Usage: tiff_round_trip.sh QUORVEL_CLI TESTS_DATA_DIR
set -uo pipefail
cli=$1
data=$2/tiff
source "$(dirname "$0")/cli_common.sh"

# The generator's samples of a file, less their 16-byte header, and the
# header's depth and samples a pixel.
header_field() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

count=0
for file in "$data"/*.tif; do
  name=${file##*/}
  expected=$data/expected/$name.samples
  bits=$(header_field "$expected" 8)
  channels=$(header_field "$expected" 12)
  mode=rgb
  [ "$channels" -eq 4 ] && mode=rgba
  expect_status 0 "$cli" "$file" "$work/out.tif"
  convert "$work/out.tif" -depth "$bits" -endian LSB "$mode:$work/seen" 2>/dev/null ||
    { fail "$name: ImageMagick cannot read the TIFF written"; continue; }
  cmp -s "$work/seen" <(tail -c +17 "$expected") || fail "$name: the TIFF written holds other samples"
  expect_status 0 "$cli" "$file" "$work/in.bmp"
  expect_status 0 "$cli" "$work/out.tif" "$work/back.bmp"
  cmp -s "$work/in.bmp" "$work/back.bmp" || fail "$name: the TIFF written reads back to another picture"
  count=$((count + 1))
done
[ "$count" -ge 60 ] || fail "only $count TIFF files found"

# Folder runs: TIFF inputs stay TIFF (.tiff written as .tif), other
# formats follow --format.
in=$work/in
mkdir -p "$in"
cp "$data/rgba16_strips_deflate.tif" "$in/deep.tiff"
cp "$data/rgb8_strips_lzw.tif" "$in/plain.TIF"
cp "$2/cli/reference.bmp" "$in/reference.bmp"
expect_status 0 "$cli" -j 2 --quiet --out-dir "$work/kept" "$in"
for written in deep.tif plain.tif reference.bmp; do
  [ -f "$work/kept/$written" ] || fail "folder run: $written not written"
done
expect_status 0 "$cli" "$in/deep.tiff" "$work/single.tif"
cmp -s "$work/kept/deep.tif" "$work/single.tif" || fail "folder output deep.tif differs from a one-file run"
for format in tif tiff TIF; do
  expect_status 0 "$cli" --format "$format" --quiet --out-dir "$work/as_$format" "$in"
  for written in deep.tif plain.tif reference.tif; do
    [ -f "$work/as_$format/$written" ] || fail "--format $format: $written not written"
  done
done
cmp -s "$work/as_tif/deep.tif" "$work/single.tif" || fail "--format tif: deep.tif differs from a one-file run"
convert "$work/as_tif/reference.tif" -depth 8 rgb:- | cmp -s - <(convert "$2/cli/reference.bmp" -depth 8 rgb:-) ||
  fail "--format tif: reference.tif holds other pixels than reference.bmp"

if [ "$failures" -ne 0 ]; then
  echo "$failures TIFF check(s) failed"
  exit 1
fi
echo "$count TIFF files saved as TIFF and compared; folder runs checked"
