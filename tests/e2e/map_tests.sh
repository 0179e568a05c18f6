#!/usr/bin/env bash
# End-to-end checks of quorvel-cli's map making: --from-height against the
# normals a ramp must give, the conventions, depths, filters and alpha;
# --to-height giving back the height a map was made from; --blend with
# details whose results are known; the folder run keeping names; and the
# usage errors and failures that write nothing.
# Usage: map_tests.sh QUORVEL_CLI
set -uo pipefail
cli=$(realpath "$1")
pictures="python3 $(realpath "$(dirname "$0")")/map_pictures.py"
source "$(dirname "$0")/cli_common.sh"
cd "$work" || exit 1

# Inputs: ramps rising 8 levels a texel to the right and down the picture, a
# tiling 16-bit wave, flat and tilted normal maps.
$pictures ramp 16 8 x 8 ramp-x.pgm
$pictures ramp 8 16 y 8 ramp-y.pgm
$pictures wave 32 wave.pgm
$pictures normal 4 4 128 128 255 flat.bmp
$pictures normal 4 4 200 128 230 tilted.bmp
$pictures normal 16 8 128 128 255 flat-16x8.bmp
# Float heights rising 0.5 a texel to the right; the same with a NaN and an
# infinity.
$pictures exr-ramp 16 8 0.5 ramp.exr
$pictures exr-ramp 16 8 0.5 bad.exr 3,2,nan 5,6,inf
mkdir heights && cp ramp-x.pgm heights/first.pgm && cp ramp-y.pgm heights/second.pgm

# The red sample a ramp rising 8/255 a texel gives at height scale 4 and 16
# bits: the unit vector of (-4 x 8/255, 0, 1), written as re-normalisation
# writes it.
ramp_red16=$(python3 -c 'import math; s = -4 * 8 / 255; print(int(s / math.sqrt(1 + s * s) * 32767 + 32768))')

# One row a command: its exit status, its arguments, then the picture and
# pixel to read and a condition on the samples s (and the depth d) there.
# "-" in place of a picture: the check is that OUTPUT was not written.
# The ramp of floats at height scale 2 rises 1 a texel: red is the unit
# vector of (-1, 0, 1).
ramp_red_float=$(python3 -c 'import math; print(int(-1 / math.sqrt(2) * 32767 + 32768))')
cases=(
  "0|--from-height --clamp --height-scale 2 ramp.exr o.png|o.png 5 3|s[0] == $ramp_red_float and s[1] == 32768 and d == 16"
  "0|--from-height --clamp --height-scale 2 --height-channel luma ramp.exr o.png|o.png 5 3|s[0] == $ramp_red_float"
  "1|--from-height --height-channel a ramp.exr o.png|-|"
  "1|--from-height bad.exr o.png|-|"
  "0|--from-height --clamp --height-scale 4 ramp-x.pgm o.png|o.png 5 3|abs(s[0] - $ramp_red16) <= 1 and s[1] == 32768 and d == 16"
  "0|--from-height --clamp ramp-x.pgm o.png|o.png 5 3|s[0] < 32768 and s[1] == 32768"
  "0|--from-height --clamp ramp-x.pgm o.bmp|o.bmp 5 3|s[0] < 128 and s[1] == 128 and d == 8"
  "0|--from-height --clamp --depth 8 ramp-x.pgm o.png|o.png 5 3|s[0] < 128 and d == 8"
  "0|--from-height --clamp --filter central --height-scale 4 ramp-x.pgm o.png|o.png 5 3|abs(s[0] - $ramp_red16) <= 1"
  "0|--from-height --clamp --filter sobel5 --height-scale 4 ramp-x.pgm o.png|o.png 7 3|abs(s[0] - $ramp_red16) <= 1"
  "0|--from-height --clamp --height-scale -4 ramp-x.pgm o.png|o.png 5 3|s[0] > 32768"
  "0|--from-height --clamp --height-scale 0 ramp-x.pgm o.png|o.png 5 3|s[:3] == [32768, 32768, 65535]"
  "0|--from-height --clamp ramp-y.pgm o.png|o.png 3 5|s[0] == 32768 and s[1] > 32768"
  "0|--from-height --clamp --convention directx ramp-y.pgm o.png|o.png 3 5|s[0] == 32768 and s[1] < 32768"
  "0|--from-height --clamp --invert-green ramp-y.pgm o.png|o.png 3 5|s[1] < 32768"
  "0|--from-height --clamp --height-to-alpha ramp-x.pgm o.png|o.png 5 3|len(s) == 4 and s[3] == 40 * 257"
  "0|--from-height --wrap ramp-x.pgm o.png|o.png 0 3|s[0] > 32768"
  "0|--from-height --clamp --blend tilted.bmp --blend-mode udn ramp-x.pgm o.png|o.png 5 3|s[0] > 32768"
  "0|--blend flat.bmp tilted.bmp o.bmp|o.bmp 1 1|abs(s[0] - 200) <= 1 and abs(s[2] - 230) <= 1"
  "0|--blend tilted.bmp flat.bmp o.bmp|o.bmp 1 1|abs(s[0] - 200) <= 1 and abs(s[2] - 230) <= 1"
  "0|--blend tilted.bmp --blend-strength 0 flat.bmp o.bmp|o.bmp 1 1|s == [128, 128, 255]"
  "0|--blend tilted.bmp --blend-mode linear flat.bmp o.bmp|o.bmp 1 1|128 < s[0] < 200"
  "0|--blend tilted.bmp --invert-red flat.bmp o.bmp|o.bmp 1 1|abs(s[0] - 55) <= 1"
  "0|--blend tilted.bmp flat-16x8.bmp o.bmp|o.bmp 13 6|abs(s[0] - 200) <= 1"
  "0|--to-height --convention opengl --clamp wave.pgm o.png|o.png 0 0|d == 16 and len(s) == 1"
  "1|--blend missing.png flat.bmp o.bmp|-|"
  "1|--from-height --height-channel a ramp-x.pgm o.png|-|"
  "1|--from-height missing.pgm o.png|-|"
  "2|--from-height --to-height ramp-x.pgm o.png|-|"
  "2|--blend flat.bmp --check flat.bmp|-|"
  "2|--blend flat.bmp --detect flat.bmp|-|"
  "2|--blend flat.bmp --to-height flat.bmp o.png|-|"
  "2|--from-height --check ramp-x.pgm|-|"
  "2|--to-height --detect flat.bmp|-|"
  "2|--from-height --fix ramp-x.pgm o.png|-|"
  "2|--to-height --fix flat.bmp o.png|-|"
  "2|--blend-mode udn flat.bmp o.png|-|"
  "2|--height-scale 2 flat.bmp o.png|-|"
  "2|--to-height --convention opengl flat.bmp o.bmp|-|"
  "2|--from-height --filter blur ramp-x.pgm o.png|-|"
  "2|--to-height flat.bmp o.png|-|"
)
for case in "${cases[@]}"; do
  IFS='|' read -r status args probe condition <<<"$case"
  rm -f o.png o.bmp
  # shellcheck disable=SC2086
  expect_status "$status" "$cli" $args
  if [ "$probe" = - ]; then
    [ ! -e o.png ] && [ ! -e o.bmp ] || fail "$args: wrote an output"
    [ "$status" = 0 ] || [ -s "$work/stderr" ] || fail "$args: no message"
    continue
  fi
  # shellcheck disable=SC2086
  read -r -a found <<<"$($pictures pixel $probe)"
  depth=${found[-1]}
  samples=$(IFS=,; echo "${found[*]:0:${#found[@]}-1}")
  python3 -c "s = [$samples]; d = $depth; import sys; sys.exit(0 if ($condition) else 1)" ||
    fail "$args: samples $samples (depth $depth) at $probe fail: $condition"
done

# The unclear convention is a usage error that asks for --convention.
expect_status 2 "$cli" --to-height flat.bmp o.png
grep -q -- "give --convention" "$work/stderr" || fail "--to-height on a flat map: $(cat "$work/stderr")"

# --to-height gives back the height a map was made from, and its range in
# texels: the wave spans 60000/65535 of white, at height scale 8.
expect_status 0 "$cli" --from-height --filter sobel --height-scale 8 wave.pgm wave-n.png
expect_status 0 "$cli" --to-height --filter sobel wave-n.png wave-h.png
grep -qx "height range 7.3 texels" "$work/stdout" || fail "--to-height printed $(cat "$work/stdout")"
difference=$($pictures compare wave-h.png wave.pgm)
python3 -c "import sys; sys.exit(0 if $difference < 0.01 else 1)" || fail "the height came back off by $difference"
expect_status 0 "$cli" --to-height --json --convention opengl --filter sobel wave-n.png wave-h.tif
grep -q '"height_range":7.32' "$work/stdout" || fail "--to-height --json printed $(cat "$work/stdout")"
# With --height-scale, one step of white a height-scale of texels: 8 texels
# span 7.32 / 8 of the range.
expect_status 0 "$cli" --to-height --convention opengl --filter sobel --height-scale 8 wave-n.png wave-s.png
read -r -a top <<<"$($pictures pixel wave-s.png 8 0)"  # sin = 1, cos = 1: the highest point
python3 -c "import sys; sys.exit(0 if abs(${top[0]} - 65535 * 60000 / 65535) < 200 else 1)" ||
  fail "--height-scale 8: the top is ${top[0]}"

# A detail of the other convention is laid over in the base's, with a note:
# the same map as the detail made in the base's convention, within a level.
expect_status 0 "$cli" --from-height --height-scale 4 --depth 8 wave.pgm wave-gl.bmp
expect_status 0 "$cli" --from-height --height-scale 4 --convention directx wave.pgm wave-dx.bmp
expect_status 0 "$cli" --blend wave-gl.bmp wave-gl.bmp same.bmp
expect_status 0 "$cli" --blend wave-dx.bmp wave-gl.bmp other.bmp
grep -q "its green is inverted to match" "$work/stderr" || fail "--blend of a directx detail: $(cat "$work/stderr")"
[ "$($pictures largest same.bmp other.bmp)" -le 1 ] || fail "the directx detail was not laid over as an opengl one"

# A DETAIL that cannot be read fails a folder run before anything is made.
expect_status 1 "$cli" --blend missing.png --out-dir blended heights
[ ! -e blended ] || fail "--blend missing.png made the output folder"
grep -q "missing.png" "$work/stderr" || fail "--blend missing.png: $(cat "$work/stderr")"

# The folder run keeps the names, and writes what the one-file run writes.
expect_status 0 "$cli" --from-height --clamp -j 2 --out-dir made heights
grep -qx "2 files: 2 written, 0 failed" "$work/stdout" || fail "folder --from-height printed $(cat "$work/stdout")"
for name in first second; do
  expect_status 0 "$cli" --from-height --clamp "heights/$name.pgm" "$name.png"
  cmp -s "made/$name.png" "$name.png" || fail "made/$name.png differs from the one-file run"
done

# NaN and the infinities are refused, counted, the first placed.
expect_status 1 "$cli" --from-height bad.exr o.png
grep -qx "quorvel-cli: bad.exr: 2 samples are not finite numbers (the first at x 3, y 2); heights must be finite" \
  "$work/stderr" || fail "--from-height bad.exr: $(cat "$work/stderr")"

# --to-height writes one grey 16-bit sample a pixel in PNG and TIFF, and
# float heights in texel widths above the lowest in TIFF (--depth float)
# and OpenEXR: the floats span the range printed, and the grey is the
# float over that range.
python=python3
for candidate in python3 /usr/bin/python3; do
  if command -v "$candidate" >/dev/null && "$candidate" -c "import PIL" 2>/dev/null; then python=$candidate; break; fi
done
# A height in a float TIFF is read as the same height in OpenEXR is, and a
# 16-bit grey TIFF as the same grey in PNG.
"$python" -c "from PIL import Image; im = Image.new('F', (16, 8)); im.putdata([0.5 * (i % 16) for i in range(128)]); im.save('ramp.tif')"
expect_status 0 "$cli" --from-height --clamp --height-scale 2 ramp.tif from-tif.png
expect_status 0 "$cli" --from-height --clamp --height-scale 2 ramp.exr from-exr.png
cmp -s from-tif.png from-exr.png || fail "the float TIFF height differs from the OpenEXR one"
expect_status 0 "$cli" --to-height --convention opengl --filter sobel wave-n.png grey.tif
expect_status 0 "$cli" --to-height --convention opengl --filter sobel wave-n.png grey.png
expect_status 0 "$cli" --from-height grey.tif from-tif.png
expect_status 0 "$cli" --from-height grey.png from-png.png
cmp -s from-tif.png from-png.png || fail "the grey TIFF height differs from the grey PNG one"

options=(--to-height --convention opengl --filter sobel)
expect_status 0 "$cli" "${options[@]}" --json wave-n.png wave-h.png
span=$(sed 's/.*"height_range":\([0-9.]*\).*/\1/' "$work/stdout")
expect_status 0 "$cli" "${options[@]}" wave-n.png wave-h.tif
expect_status 0 "$cli" "${options[@]}" --depth float wave-n.png wave-f.tif
expect_status 0 "$cli" "${options[@]}" --height-scale 2 --depth float wave-n.png wave-f2.tif
if "$python" -c "import PIL" 2>/dev/null; then
  "$python" - "$span" <<'PY' || fail "--to-height's grey and float pictures disagree"
import sys
from PIL import Image
span = float(sys.argv[1])
png, tif = Image.open('wave-h.png'), Image.open('wave-h.tif')
floats, halves = Image.open('wave-f.tif'), Image.open('wave-f2.tif')
# (Pillow opens a 16-bit grey PNG as 32-bit integers, mode I.)
assert png.mode in ('I', 'I;16') and tif.mode == 'I;16', (png.mode, tif.mode)
assert floats.mode == 'F', floats.mode
assert list(png.getdata()) == list(tif.getdata())
f = list(floats.getdata())
assert min(f) == 0 and abs(max(f) - span) < 0.0006, (min(f), max(f), span)
assert [v / 2 for v in f] == list(halves.getdata()), 'height scale 2 halves every height'
worst = max(abs(g - round(v / max(f) * 65535)) for g, v in zip(png.getdata(), f))
assert worst <= 1, worst
PY
else
  echo "note: Pillow is not installed: the grey and float pictures are not read back"
fi
expect_status 0 "$cli" "${options[@]}" wave-n.png wave-h.exr
exrheader wave-h.exr >"$work/header" 2>&1
grep -q "Y, 32-bit floating-point, sampling 1 1" "$work/header" && grep -q "zip, multi-scanline" "$work/header" &&
  [ "$(grep -c "sampling" "$work/header")" -eq 1 ] || fail "wave-h.exr: $(cat "$work/header")"
# OpenEXR heights at height scale 2 are half as high: read back at 2 they
# make exactly the map of those at 1, and nearly the map of the 16-bit
# grey at the height scale of its range.
expect_status 0 "$cli" "${options[@]}" --height-scale 2 wave-n.png wave-h2.exr
expect_status 0 "$cli" --from-height --filter sobel wave-h.exr from-exr.png
expect_status 0 "$cli" --from-height --filter sobel --height-scale 2 wave-h2.exr from-exr2.png
cmp -s from-exr.png from-exr2.png || fail "--height-scale 2 OpenEXR heights give another map"
expect_status 0 "$cli" --from-height --filter sobel --height-scale "$span" wave-h.png from-grey.png
difference=$($pictures compare from-exr.png from-grey.png)
python3 -c "import sys; sys.exit(0 if $difference < 0.002 else 1)" || fail "OpenEXR and grey heights differ by $difference"

# Folders: --to-height keeps the names, writes what the one-file run
# writes, prints each range, and fails (only) the map whose convention is
# unclear; --format picks the kind; -u skips what is written.
mkdir maps && cp wave-n.png maps/a.png && cp wave-n.png maps/b.png && cp flat.bmp maps/flat.bmp
expect_status 1 "$cli" --to-height --filter sobel -j 2 --out-dir heights-out maps
grep -qx "3 files: 2 written, 1 failed" "$work/stdout" || fail "folder --to-height printed $(cat "$work/stdout")"
grep -qx "maps/a.png: height range 7.3 texels" "$work/stdout" || fail "folder --to-height printed $(cat "$work/stdout")"
grep -q "maps/flat.bmp: its green convention is unclear" "$work/stderr" || fail "the flat map: $(cat "$work/stderr")"
cmp -s heights-out/a.png wave-h.png || fail "heights-out/a.png differs from the one-file run"
[ ! -e heights-out/flat.png ] || fail "the flat map's height was written"
expect_status 1 "$cli" --to-height --filter sobel -u --out-dir heights-out maps
grep -qx "3 files: 0 written, 2 up to date, 1 failed" "$work/stdout" || fail "-u printed $(cat "$work/stdout")"
expect_status 0 "$cli" --to-height --convention opengl --filter sobel --format exr --json --out-dir heights-exr maps/a.png
cmp -s heights-exr/a.exr wave-h.exr || fail "heights-exr/a.exr differs from the one-file run"
[ "$(wc -l <"$work/stdout")" -eq 1 ] && grep -q '"output":"heights-exr/a.exr"' "$work/stdout" ||
  fail "folder --to-height --json printed $(cat "$work/stdout")"
# --from-height takes the OpenEXR files of a folder beside its pictures.
mkdir float-heights && cp ramp.exr ramp-x.pgm float-heights/
expect_status 0 "$cli" --from-height --clamp --height-scale 2 --out-dir float-normals float-heights
grep -qx "2 files: 2 written, 0 failed" "$work/stdout" || fail "folder --from-height printed $(cat "$work/stdout")"
expect_status 0 "$cli" --from-height --clamp --height-scale 2 ramp.exr one.png
cmp -s float-normals/ramp.png one.png || fail "float-normals/ramp.png differs from the one-file run"

[ "$failures" -eq 0 ] && echo "all map-making checks passed"
exit $((failures > 0))
