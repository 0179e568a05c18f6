#!/usr/bin/env bash
# PNG, JPEG and Targa through quorvel-cli: every generated PNG and JPEG file
# loads to the samples its generator computed, saved as PNG (keeping 16 bits
# and alpha), Targa (keeping alpha, in 8 bits) and BMP (8-bit colour), and
# each saved file gives the expected samples to ImageMagick and, read back,
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

# The generator's samples (16-bit little-endian words when WORDS is 1) in 8
# bits, by the rule (v x 255 + 32767) / 65535, with or without the alpha of
# CHANNELS-sample pixels: reduce IN OUT WORDS CHANNELS KEEP_ALPHA
reduce() {
  /usr/bin/python3 - "$@" <<'PY'
import struct, sys
data, out, words, channels, keep = open(sys.argv[1], 'rb').read(), sys.argv[2], sys.argv[3] == '1', int(sys.argv[4]), sys.argv[5] == '1'
values = struct.unpack(f'<{len(data) // 2}H', data) if words else data
values = [(v * 255 + 32767) // 65535 for v in values] if words else list(values)
keep_count = channels if keep else 3
open(out, 'wb').write(bytes(v for i, v in enumerate(values) if i % channels < keep_count))
PY
}

shopt -s nullglob
for file in "$data"/*_plain.png "$data"/*.jpg "$data"/*.jpeg; do
  name=${file##*/}
  expected=$data/expected/$name.pixels
  words=0 channels=3 depth=8 kind=rgb
  case $name in *_d16_*) words=1 depth=16 ;; esac
  case $name in ct4_* | ct6_*) channels=4 kind=rgba ;; esac
  reduce "$expected" "$work/rgb8" "$words" "$channels" 0
  reduce "$expected" "$work/kept8" "$words" "$channels" 1
  for format in bmp png tga; do
    out=$work/$name.$format
    "$cli" -q "$file" "$out" || { fail "$name: not saved as $format"; continue; }
    # ImageMagick keeps a Targa file's bottom-left origin as an orientation
    # to apply, not in its raw pixel rows.
    case $format in
      png) want=$expected seen_depth=$depth seen_kind=$kind ;;
      tga) want=$work/kept8 seen_depth=8 seen_kind=$kind ;;
      bmp) want=$work/rgb8 seen_depth=8 seen_kind=rgb ;;
    esac
    convert "$out" -auto-orient -endian LSB -depth "$seen_depth" "$seen_kind:$work/seen" ||
      { fail "$name.$format: ImageMagick cannot read it"; continue; }
    cmp -s "$work/seen" "$want" || fail "$name.$format: ImageMagick sees other samples"
    # Read back by our own readers, it gives the BMP saved straight from INPUT.
    if [ "$format" != bmp ]; then
      "$cli" -q "$out" "$work/back.bmp" || { fail "$name.$format: cannot be read back"; continue; }
      cmp -s "$work/back.bmp" "$work/$name.bmp" || fail "$name.$format: reads back to other pixels"
    fi
  done
  count=$((count + 1))
done
[ "$count" -ge 21 ] || fail "only $count files found"
echo "$count files saved as PNG, Targa and BMP and compared"
exit $failed
