#!/usr/bin/env bash
# End-to-end checks of quorvel-cli's folder runs, detection and conversion:
# every folder output equals the one-file run of the same input, broken files
# fail on their own lines, clashes are refused before any work, the progress
# line shows only on a terminal, --detect tells real maps and their green
# flips apart and says why an unknown map is unknown, and --to inverts green
# exactly where the detected convention differs. Also that the streaming road (24-bit BMP in,
# BMP or Targa out) writes the bytes of the whole-picture road.
# Usage: batch_tests.sh QUORVEL_CLI TESTS_DATA_DIR SAMPLE.bmp
set -uo pipefail
cli=$1
data=$2
sample=$3
source "$(dirname "$0")/cli_common.sh"

# A 24-bit BMP stored top row first, made from a bottom-up one: the height's
# sign flipped and the rows put in the other order.
top_down_copy() {
  python3 - "$1" "$2" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read()
offset, = struct.unpack_from('<I', data, 10)
width, height = struct.unpack_from('<ii', data, 18)
stride = (3 * width + 3) & ~3
rows = [data[offset + r * stride: offset + (r + 1) * stride] for r in range(height)]
head = bytearray(data[:offset])
struct.pack_into('<i', head, 22, -height)
open(sys.argv[2], 'wb').write(bytes(head) + b''.join(reversed(rows)))
EOF
}

# A 24-bit BMP of noise, WIDTH x HEIGHT, rows padded: large enough for the
# streaming road to cut it into several bands shared among threads.
noise_bmp() {
  python3 - "$1" "$2" "$3" <<'EOF'
import random, struct, sys
width, height = int(sys.argv[2]), int(sys.argv[3])
stride = (3 * width + 3) & ~3
pixels = bytearray(random.Random(width).randbytes(stride * height))
for row in range(height):
    pixels[row * stride + 3 * width:(row + 1) * stride] = bytes(stride - 3 * width)
head = b'BM' + struct.pack('<IHHI', 54 + len(pixels), 0, 0, 54)
head += struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0)
open(sys.argv[1], 'wb').write(head + bytes(pixels))
EOF
}

# A Targa file with its rows in the other order, the descriptor saying so.
top_down_targa() {
  python3 - "$1" "$2" <<'EOF'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
width, height = struct.unpack_from('<HH', data, 12)
start = 18 + data[0]
rows = [data[start + r * 3 * width:start + (r + 1) * 3 * width] for r in range(height)]
data[17] ^= 0x20
open(sys.argv[2], 'wb').write(bytes(data[:start]) + b''.join(reversed(rows)))
EOF
}

# The streaming road against the whole-picture road (which --thumbnail
# takes), for odd and even widths, both row orders, BMP and Targa inputs
# (with an image ID and an unused colour map too), one band and many.
top_down_copy "$data/cli/reference.bmp" "$work/reference_top_down.bmp"
noise_bmp "$work/noise.bmp" 1001 1200
top_down_copy "$work/noise.bmp" "$work/noise_top_down.bmp"
expect_status 0 "$cli" "$work/noise.bmp" "$work/noise.tga"
top_down_targa "$work/noise.tga" "$work/noise_top_down.tga"
for input in "$data/cli/reference.bmp" "$work/reference_top_down.bmp" "$data/bmp/rgb24.bmp" "$sample" \
  "$work/noise.bmp" "$work/noise_top_down.bmp" "$work/noise.tga" "$work/noise_top_down.tga" \
  "$data/tga/type2_bottom_up_24.tga" "$data/tga/type2_top_down_24.tga" "$data/tga/type2_unused_colour_map_24.tga"; do
  for ext in bmp tga; do
    name=${input##*/}
    expect_status 0 "$cli" --invert-green --renormalize --scale 1.5 "$input" "$work/streamed.$ext"
    expect_status 0 "$cli" --invert-green --renormalize --scale 1.5 --thumbnail "$work/thumb.bmp" \
      "$input" "$work/whole.$ext"
    cmp -s "$work/streamed.$ext" "$work/whole.$ext" || fail "$name: streamed .$ext differs from the whole-picture road"
  done
done

# The PNG road (8-bit colour PNG in, PNG out) against the whole-picture
# road: every PNG of the test set (those it does not take go the whole road
# both times) and large noise at 8 and 16 bits, opaque and with alpha, that
# fills many encoder chunks and was filtered by ImageMagick's choice of
# filters.
convert "$work/noise.bmp" "PNG24:$work/noise.png"
convert "$work/noise.bmp" \( +clone -channel R -separate \) -compose CopyOpacity -composite "PNG32:$work/noise_alpha.png"
convert -size 700x900 xc:gray -seed 3 +noise Random -depth 16 "PNG48:$work/noise16.png"
convert "$work/noise16.png" \( +clone -channel G -separate \) -compose CopyOpacity -composite "PNG64:$work/noise16_alpha.png"
for input in "$data"/png/*.png "$work"/noise*.png; do
  name=${input##*/}
  expect_status 0 "$cli" --invert-red --renormalize --scale 0.75 "$input" "$work/streamed.png"
  expect_status 0 "$cli" --invert-red --renormalize --scale 0.75 --thumbnail "$work/thumb.bmp" "$input" "$work/whole.png"
  cmp -s "$work/streamed.png" "$work/whole.png" || fail "$name: streamed .png differs from the whole-picture road"
done
# Unadjusted, the streamed noise (several encoder chunks, 8 and 16 bits)
# reads back in ImageMagick as the pixels it came from.
for input in "$work"/noise*.png; do
  expect_status 0 "$cli" -q "$input" "$work/copy.png"
  convert "$input" -depth 16 rgba:"$work/want.rgba"
  convert "$work/copy.png" -depth 16 rgba:"$work/seen.rgba"
  cmp -s "$work/want.rgba" "$work/seen.rgba" || fail "${input##*/}: ImageMagick reads other pixels from the streamed copy"
done

# A folder of good and broken files, one of them in a sub-folder.
in=$work/in
mkdir -p "$in/sub"
cp "$data/cli/reference.bmp" "$in/reference.bmp"
cp "$data/tga/type2_bottom_up_24.tga" "$in/targa.tga"
cp "$data/pcx/three_planes.pcx" "$in/planes.pcx"
cp "$sample" "$in/sub/sphere.bmp"
echo "not a picture" >"$in/broken.bmp"
: >"$in/empty.tga"
echo "ignored: no reader takes it" >"$in/notes.txt"

expect_status 1 "$cli" --invert-green -j 2 --out-dir "$work/out" "$in"
grep -q "^5 files: 3 written, 2 failed$" "$work/stdout" || fail "summary: $(cat "$work/stdout")"
for bad in broken.bmp empty.tga; do
  [ "$(grep -c "$bad" "$work/stderr")" -eq 1 ] || fail "no single error line for $bad"
done
[ ! -e "$work/out/broken.bmp" ] && [ ! -e "$work/out/sub" ] || fail "a failed or non-recursive input was written"
[ -z "$(find "$work/out" -name '*.tmp')" ] || fail "temporary files were left behind"
# Each output is what the one-file run writes.
for pair in reference.bmp:reference.bmp targa.tga:targa.tga planes.pcx:planes.png; do
  source=${pair%%:*} written=${pair##*:}
  expect_status 0 "$cli" --invert-green "$in/$source" "$work/single.${written##*.}"
  cmp -s "$work/out/$written" "$work/single.${written##*.}" || fail "folder output $written differs from a one-file run"
done

# --recursive keeps the sub-folder; --format picks one format for all.
expect_status 1 "$cli" -r --format tga -j1 --quiet --out-dir "$work/deep" "$in"
[ -f "$work/deep/sub/sphere.tga" ] && [ -f "$work/deep/planes.tga" ] || fail "recursive run: $(cd "$work/deep" && find .)"
grep -q "^6 files: 4 written, 2 failed$" "$work/stdout" || fail "recursive summary: $(cat "$work/stdout")"

# Refused before any work: clashes, an output onto its input, no input.
cp "$data/cli/reference.bmp" "$in/sub/targa.bmp"
expect_status 2 "$cli" --format png --out-dir "$work/clash" "$in/targa.tga" "$in/sub/targa.bmp"
grep -q "targa.png: written by more than one input" "$work/stderr" || fail "clash not named: $(cat "$work/stderr")"
[ ! -e "$work/clash" ] || fail "a refused run made its folder"
expect_status 2 "$cli" --out-dir "$in" "$in/reference.bmp"
grep -q "reference.bmp: would be overwritten by its own output" "$work/stderr" || fail "self-overwrite not refused"
mkdir "$work/nothing"
expect_status 2 "$cli" --out-dir "$work/out2" "$work/nothing" "$work/missing.bmp"
grep -q "nothing: no file in it" "$work/stderr" && grep -q "missing.bmp: no such file" "$work/stderr" ||
  fail "empty folder and missing file not both listed: $(cat "$work/stderr")"

# An output that cannot be written: exit 3, the file named, no leftovers.
mkdir -p "$work/blocked/reference.bmp"
expect_status 3 "$cli" --out-dir "$work/blocked" "$in/reference.bmp" "$in/targa.tga"
grep -q "blocked/reference.bmp: There was an error writing the file" "$work/stderr" || fail "write failure not named"
[ -f "$work/blocked/targa.tga" ] || fail "the good file was not written beside the failed one"
[ -z "$(find "$work/blocked" -name '*.tmp')" ] || fail "a failed write left a temporary file"

# --update skips an input whose output exists and is not older than it, and
# only then: a missing output and one older than its input are written. The
# inputs of skipped files are not even read (a damaged one passes unnoticed),
# and different options do not make an output out of date.
up=$work/update_in
mkdir "$up"
cp "$data/cli/reference.bmp" "$up/a.bmp"
cp "$data/tga/type2_bottom_up_24.tga" "$up/b.tga"
cp "$data/pcx/three_planes.pcx" "$up/c.pcx"
cp "$data/cli/reference.bmp" "$up/d.bmp"
touch -d '2020-01-01 12:00' "$up"/*
expect_status 0 "$cli" --invert-green -u --out-dir "$work/updated" "$up"
grep -q "^4 files: 4 written, 0 up to date$" "$work/stdout" || fail "first --update run: $(cat "$work/stdout")"
for f in a.bmp b.tga c.png d.bmp; do cp "$work/updated/$f" "$work/first_$f"; done
touch -d '2021-01-01 12:00' "$work/updated"/*
touch -d '2022-01-01 12:00' "$up/b.tga"       # the input changed after its output: written again
rm "$work/updated/c.png"                       # no output: written
echo "damaged" >"$up/d.bmp"                    # older than its output: skipped, never read
touch -d '2020-01-01 12:00' "$up/d.bmp"
expect_status 0 "$cli" --invert-red -u --out-dir "$work/updated" "$up"
grep -q "^4 files: 2 written, 2 up to date$" "$work/stdout" || fail "--update summary: $(cat "$work/stdout")"
[ ! -s "$work/stderr" ] || fail "--update read a skipped input: $(cat "$work/stderr")"
cmp -s "$work/updated/a.bmp" "$work/first_a.bmp" || fail "--update rewrote an up-to-date output"
cmp -s "$work/updated/d.bmp" "$work/first_d.bmp" || fail "--update rewrote the output of a skipped input"
expect_status 0 "$cli" --invert-red "$up/b.tga" "$work/red_b.tga"
cmp -s "$work/updated/b.tga" "$work/red_b.tga" || fail "--update did not rewrite an output older than its input"
[ -f "$work/updated/c.png" ] || fail "--update did not write a missing output"
# An output as new as its input counts as up to date, as with cp -u.
touch -r "$up/b.tga" "$work/updated/b.tga"
expect_status 0 "$cli" -u -q --out-dir "$work/updated" "$up/a.bmp" "$up/b.tga"
grep -q "^2 files: 0 written, 2 up to date$" "$work/stdout" || fail "equal times: $(cat "$work/stdout")"
# Failures are counted beside the skipped files; without -u nothing is skipped.
expect_status 1 "$cli" -u --out-dir "$work/updated" "$up/a.bmp" "$in/broken.bmp"
grep -q "^2 files: 0 written, 1 up to date, 1 failed$" "$work/stdout" || fail "failed beside skipped: $(cat "$work/stdout")"
expect_status 0 "$cli" --out-dir "$work/updated" "$up/a.bmp"
grep -q "^1 file: 1 written, 0 failed$" "$work/stdout" || fail "a run without -u skipped: $(cat "$work/stdout")"
expect_status 2 "$cli" -u "$up/a.bmp" "$work/one.bmp"
grep -q "update goes with --out-dir" "$work/stderr" || fail "--update without --out-dir not refused"

# The progress line: on a terminal only.
expect_status 1 "$cli" --out-dir "$work/quiet" "$in"
grep -q "MB/s" "$work/stderr" && fail "a progress line was drawn into a pipe"
if command -v script >/dev/null; then
  script -qec "'$cli' --out-dir '$work/tty' '$in'" /dev/null >"$work/tty.log" 2>&1
  grep -q "files .* MB/s .* left" "$work/tty.log" || fail "no progress line on a terminal: $(head -c 300 "$work/tty.log")"
  grep -q "5 files: 3 written, 2 failed" "$work/tty.log" || fail "no summary on a terminal"
fi

# Detection: one line per file in order, exit 1 when one fails; a map and
# the same map with green inverted read as opposite conventions.
expect_status 0 "$cli" --invert-green "$sample" "$work/flipped.bmp"
expect_status 1 "$cli" --detect "$sample" "$work/flipped.bmp" "$in/broken.bmp"
first=$(sed -n 1p "$work/stdout") second=$(sed -n 2p "$work/stdout")
[[ $first =~ ^$sample:\ (opengl|directx)\ (0\.[5-9][0-9]|1\.00)$ ]] || fail "sample detected as '$first'"
[[ $second =~ ^$work/flipped.bmp:\ (opengl|directx)\ [01]\.[0-9][0-9]$ ]] || fail "flipped detected as '$second'"
[ "$(echo "$first" | cut -d' ' -f2)" != "$(echo "$second" | cut -d' ' -f2)" ] || fail "a map and its flip agree: $first / $second"
grep -q "broken.bmp" "$work/stderr" || fail "detection failure not named"
native=$(echo "$first" | cut -d' ' -f2)
other=$([ "$native" = opengl ] && echo directx || echo opengl)

# Real maps by other people (tests/data/normals, see its README), each named
# after its convention: told so, and as the other convention once green is
# inverted.
for map in "$data"/normals/*.png; do
  want=${map##*_}; want=${want%.png}
  flip=$([ "$want" = opengl ] && echo directx || echo opengl)
  expect_status 0 "$cli" --invert-green "$map" "$work/real_flipped.png"
  expect_status 0 "$cli" --detect "$map" "$work/real_flipped.png"
  [[ $(sed -n 1p "$work/stdout") =~ ^"$map":\ $want\ [01]\.[0-9][0-9]$ ]] ||
    fail "${map##*/} detected as '$(sed -n 1p "$work/stdout")'"
  [[ $(sed -n 2p "$work/stdout") =~ ^"$work/real_flipped.png":\ $flip\ [01]\.[0-9][0-9]$ ]] ||
    fail "${map##*/} with green inverted detected as '$(sed -n 2p "$work/stdout")'"
done

# Conversion: the map stays as it is for its own convention and has green
# inverted for the other; the flipped map the other way round. A flat map
# is written unchanged with a warning.
for to in "$native" "$other"; do
  expect_status 0 "$cli" --to "$to" "$sample" "$work/to_$to.bmp"
done
cmp -s <(tail -c +55 "$work/to_$native.bmp") <(tail -c +55 "$sample") || fail "--to $native changed a $native map"
cmp -s "$work/to_$other.bmp" "$work/flipped.bmp" || fail "--to $other did not invert green"
python3 -c "
import struct,sys
w=h=64; stride=w*3
sys.stdout.buffer.write(b'BM'+struct.pack('<IHHI',54+stride*h,0,0,54)+struct.pack('<IiiHHIIiiII',40,w,h,1,24,0,stride*h,0,0,0,0)+bytes([255,128,128])*(w*h))
" >"$work/flat.bmp"
# A picture that is not a normal map: a grey height ramp.
python3 -c "
import struct,sys
w=h=64; stride=w*3
sys.stdout.buffer.write(b'BM'+struct.pack('<IHHI',54+stride*h,0,0,54)+struct.pack('<IiiHHIIiiII',40,w,h,1,24,0,stride*h,0,0,0,0)+b''.join(bytes([(r*4+c)//2]*3) for r in range(h) for c in range(w)))
" >"$work/height.bmp"
# Unknown answers say why, on the same line.
expect_status 0 "$cli" --detect "$work/flat.bmp" "$work/height.bmp"
grep -qx "$work/flat.bmp: unknown 0.00 (flat)" "$work/stdout" || fail "flat map: $(sed -n 1p "$work/stdout")"
grep -qx "$work/height.bmp: unknown 0.00 (not a normal map: 0% unit-length normals)" "$work/stdout" ||
  fail "height map: $(sed -n 2p "$work/stdout")"
mkdir "$work/mixed"
cp "$sample" "$work/mixed/a.bmp"; cp "$work/flipped.bmp" "$work/mixed/b.bmp"; cp "$work/flat.bmp" "$work/mixed/c.bmp"
expect_status 0 "$cli" --to "$native" --out-dir "$work/converted" "$work/mixed"
grep -q "3 files: 3 written, 0 failed; 1 converted to $native, 1 unchanged, 1 undecided" "$work/stdout" ||
  fail "conversion summary: $(cat "$work/stdout")"
grep -q "c.bmp: green convention unclear: flat (0.00); written unconverted" "$work/stderr" ||
  fail "undecided map not named with its reason: $(cat "$work/stderr")"
cmp -s "$work/converted/b.bmp" "$work/to_$native.bmp" || fail "the flipped map was not converted back"
cmp -s <(tail -c +55 "$work/converted/c.bmp") <(tail -c +55 "$work/flat.bmp") || fail "the undecided map was changed"

if [ "$failures" -ne 0 ]; then
  echo "$failures folder-run check(s) failed"
  exit 1
fi
echo "all folder-run checks passed"
