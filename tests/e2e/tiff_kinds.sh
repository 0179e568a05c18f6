#!/usr/bin/env bash
# TIFF files as libtiff's own tools write them, through quorvel-cli: the
# generated files (tests/data/tiff) copied by tiffcp into the compressions
# that only libtiff writes here (LZMA, Zstandard, WebP, JPEG in YCbCr and in
# RGB), into BigTIFF, the other bit order, tiles, planes and one-row strips,
# and white-is-zero grey written by raw2tiff. Each is saved as TIFF with no
# options and read back with ImageMagick: a lossless copy must hold the
# generator's samples, a lossy one (JPEG, WebP) Pillow's reading of the
# same file (libtiff and libjpeg or libwebp decode it for both), and YCbCr
# stored as it is libtiff's own conversion (tiff2rgba).
# Usage: tiff_kinds.sh QUORVEL_CLI TESTS_DATA_DIR
set -uo pipefail
cli=$1
data=$2/tiff
source "$(dirname "$0")/cli_common.sh"

header_field() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

# The samples quorvel-cli's TIFF of FILE holds: BITS a sample, rgb or rgba.
written_samples() { convert "$1" -depth "$2" -endian LSB "$3:-" 2>/dev/null; }

# Pillow's 8-bit samples of FILE in MODE (RGB or RGBA).
pillow_samples() {
  /usr/bin/python3 -c 'import sys; from PIL import Image
sys.stdout.buffer.write(Image.open(sys.argv[1]).convert(sys.argv[2]).tobytes())' "$1" "$2"
}

# check NAME FILE BITS MODE EXPECTED: FILE through quorvel-cli gives the
# samples in EXPECTED.
check() {
  local name=$1 file=$2 bits=$3 mode=$4 expected=$5
  if ! "$cli" "$file" "$work/out.tif" >"$work/stdout" 2>"$work/stderr"; then
    fail "$name: not read ($(cat "$work/stderr"))"
    return
  fi
  cmp -s <(written_samples "$work/out.tif" "$bits" "$mode") "$expected" ||
    fail "$name: other samples than expected"
  count=$((count + 1))
}

# Lossless copies: SOURCE (a generated file) | tiffcp options.
lossless=(
  "rgba16_strips_deflate.tif|-c lzma:2"
  "rgb8_strips_none.tif|-c zstd:2"
  "grey4_strips_none.tif|-c zstd"
  "rgb16_strips_none.tif|-8 -c zip:2"
  "rgba8_strips_none.tif|-8 -t -w 16 -l 16 -c lzw"
  "rgb8_strips_none.tif|-f lsb2msb -c lzw"
  "grey4_strips_none.tif|-f lsb2msb -c packbits"
  "grey12_strips_none.tif|-t -w 16 -l 16 -c lzw"
  "rgba8_strips_none.tif|-p separate -c packbits"
  "grey1_strips_none.tif|-r 1 -c none"
  "float32_strips_none.tif|-c zip:3"
  "float32_strips_none.tif|-t -w 16 -l 16 -c lzw:3"
  "whiteiszero8_strips_none.tif|-B -c lzma"
  "palette4_strips_packbits.tif|-c zstd"
)
count=0
for entry in "${lossless[@]}"; do
  source=${entry%%|*} options=${entry#*|}
  name="$source ($options)"
  expected=$data/expected/$source.samples
  # shellcheck disable=SC2086  # the options are words
  tiffcp $options "$data/$source" "$work/in.tif" 2>/dev/null || { fail "$name: tiffcp failed"; continue; }
  mode=rgb
  [ "$(header_field "$expected" 12)" -eq 4 ] && mode=rgba
  check "$name" "$work/in.tif" "$(header_field "$expected" 8)" "$mode" <(tail -c +17 "$expected")
done

# Lossy copies of 8-bit RGB and grey: Pillow's samples.
# (JPEG strips hold a multiple of 16 rows.)
lossy=(
  "rgb8_strips_none.tif|-r 16 -c jpeg"
  "rgb8_strips_none.tif|-r 16 -c jpeg:r"
  "grey8_strips_none.tif|-r 16 -c jpeg"
  "rgb8_strips_none.tif|-t -w 16 -l 16 -c jpeg"
  "rgb8_strips_none.tif|-c webp"
  "rgba8_strips_none.tif|-c webp"
)
for entry in "${lossy[@]}"; do
  source=${entry%%|*} options=${entry#*|}
  # shellcheck disable=SC2086
  tiffcp $options "$data/$source" "$work/lossy.tif" 2>/dev/null || { fail "$source ($options): tiffcp failed"; continue; }
  mode=rgb
  [ "${source#rgba}" != "$source" ] && mode=rgba
  pillow_samples "$work/lossy.tif" "${mode^^}" >"$work/pillow.rgb"
  check "$source ($options)" "$work/lossy.tif" 8 $mode "$work/pillow.rgb"
done

# White-is-zero grey from raw2tiff: the 8-bit grey levels turned round.
od -An -v -tu1 -w3 -j 16 "$data/expected/grey8_strips_none.tif.samples" | awk '{ printf "%c", $1 }' \
  >"$work/grey.raw"
width=$(header_field "$data/expected/grey8_strips_none.tif.samples" 0)
height=$(header_field "$data/expected/grey8_strips_none.tif.samples" 4)
raw2tiff -w "$width" -l "$height" -p miniswhite "$work/grey.raw" "$work/white.tif" 2>/dev/null
check "raw2tiff miniswhite" "$work/white.tif" 8 rgb \
  <(od -An -v -tu1 -w1 "$work/grey.raw" | awk '{ v = 255 - $1; printf "%c%c%c", v, v, v }')

# YCbCr stored as it is (ImageMagick writes it): libtiff's conversion.
convert "$data/rgb8_strips_none.tif" -colorspace YCbCr "$work/ycbcr.tif" 2>/dev/null
tiff2rgba -c none "$work/ycbcr.tif" "$work/rgba.tif" 2>/dev/null
check "YCbCr, uncompressed" "$work/ycbcr.tif" 8 rgb <(convert "$work/rgba.tif" -depth 8 rgb:-)

if [ "$failures" -ne 0 ]; then
  echo "$failures TIFF kind check(s) failed"
  exit 1
fi
echo "$count TIFF files written by libtiff's tools read as expected"
