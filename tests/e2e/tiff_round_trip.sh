#!/usr/bin/env bash
# TIFF through quorvel-cli: every generated TIFF file, saved as TIFF with no
# options, gives ImageMagick the samples its generator computed (16 bits and
# alpha kept) and reads back to the same BMP as the input does; the
# adjustment, --depth and --alpha give ImageMagick's samples for the same
# operation; a folder run keeps TIFF inputs as TIFF and writes .tif for
# --format tif and tiff.
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

# Options: the adjustment at 16 bits, --depth and --alpha, and 16-bit PNG in.
deep=$data/rgba16_strips_deflate.tif
samples16() { convert "$1" -depth 16 -endian LSB "$2:-"; }
expect_status 0 "$cli" --invert-green "$deep" "$work/inverted.tif"
cmp -s <(samples16 "$work/inverted.tif" rgba) <(convert "$deep" -channel G -negate +channel -depth 16 -endian LSB rgba:-) ||
  fail "--invert-green: the 16-bit TIFF written is not the input with green inverted"
expect_status 0 "$cli" --depth 8 "$deep" "$work/eight.tif"
[ "$(convert "$work/eight.tif" -format %z info:)" = 8 ] || fail "--depth 8: the TIFF written is not 8-bit"
# (ImageMagick's own reduction to 8 bits truncates: the rounding is done here.)
rounded() { python3 -c 'import sys, struct; d = sys.stdin.buffer.read()
sys.stdout.buffer.write(bytes((v * 255 + 32767) // 65535 for v in struct.unpack("<%dH" % (len(d) // 2), d)))'; }
cmp -s <(convert "$work/eight.tif" -depth 8 rgba:-) <(samples16 "$deep" rgba | rounded) ||
  fail "--depth 8: the TIFF written is not the input rounded to 8 bits"
expect_status 0 "$cli" --alpha drop "$deep" "$work/opaque.tif"
cmp -s <(samples16 "$work/opaque.tif" rgb) <(samples16 "$deep" rgb) ||
  fail "--alpha drop: the TIFF written is not the input's colour"
[ "$(convert "$work/opaque.tif" -format %A info:)" = False ] || fail "--alpha drop: the TIFF written has alpha"
expect_status 0 "$cli" --depth 16 "$data/rgb8_strips_none.tif" "$work/wide.tif"
cmp -s <(samples16 "$work/wide.tif" rgb) <(samples16 "$data/rgb8_strips_none.tif" rgb) ||
  fail "--depth 16: the TIFF written is not the input widened"
expect_status 0 "$cli" "$2/png/ct6_d16_plain.png" "$work/from_png.tif"
cmp -s <(samples16 "$work/from_png.tif" rgba) <(samples16 "$2/png/ct6_d16_plain.png" rgba) ||
  fail "a 16-bit PNG with alpha does not come out as the same 16-bit TIFF"

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
