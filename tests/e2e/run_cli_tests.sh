#!/usr/bin/env bash
# End-to-end checks of quorvel-cli: adjusted output byte for byte against
# files computed independently, exit codes and messages, thumbnails, and
# that a failed write leaves an earlier file as it was.
# Usage: run_cli_tests.sh QUORVEL_CLI TESTS_DATA_DIR
set -uo pipefail
cli=$1
data=$2/cli
source "$(dirname "$0")/cli_common.sh"

# Adjustments of the reference picture.
# Each line: name|option|...|option| (the closing bar keeps an empty option).
while IFS='|' read -r -a fields; do
  name=${fields[0]}
  args=("${fields[@]:1}")
  expect_status 0 "$cli" "${args[@]}" "$data/reference.bmp" "$work/$name.bmp"
  cmp -s "$work/$name.bmp" "$data/expected_$name.bmp" || fail "$name: output differs from expected_$name.bmp"
done <"$data/cases.txt"

# The broad arithmetic check: many byte combinations at several scales.
while read -r scale; do
  expect_status 0 "$cli" --renormalize --scale "$scale" "$data/spread.bmp" "$work/spread.bmp"
  cmp -s "$work/spread.bmp" "$data/expected_spread_scale_$scale.bmp" || fail "spread at scale $scale differs"
done <"$data/spread_cases.txt"

# Without options the picture comes back as it was stored; a written file
# reads back identical; options may come after the file names.
expect_status 0 "$cli" "$data/reference.bmp" "$work/plain.bmp"
cmp -s "$work/plain.bmp" "$data/reference.bmp" || fail "unadjusted output differs from its input"
expect_status 0 "$cli" "$work/plain.bmp" "$work/again.bmp"
cmp -s "$work/plain.bmp" "$work/again.bmp" || fail "a written file does not read back identical"
expect_status 0 "$cli" "$data/reference.bmp" "$work/late.bmp" --invert-green
cmp -s "$work/late.bmp" "$data/expected_invert_green.bmp" || fail "options after the file names were not applied"

# Thumbnails: the 7 x 5 picture is enlarged to 298 x 212; the sample of
# 256 x 256 to 298 x 298.
thumb_size() { od -An -tu4 -j18 -N8 "$1" | tr -s ' ' | sed 's/^ //'; }
expect_status 0 "$cli" --thumbnail "$work/thumb.bmp" "$data/reference.bmp" "$work/out.bmp"
[ "$(thumb_size "$work/thumb.bmp")" = "298 212" ] || fail "reference thumbnail is $(thumb_size "$work/thumb.bmp")"
[ "$(stat -c %s "$work/thumb.bmp")" -eq $((54 + 896 * 212)) ] || fail "reference thumbnail has the wrong file size"

# Load failures: exit 1, the message and the path on standard error.
for bad in "$work/missing.bmp" "$data/cases.txt" "$work/noextension"; do
  expect_status 1 "$cli" "$bad" "$work/never.bmp"
  grep -q "Failed to load open file." "$work/stderr" || fail "no load message for $bad"
  grep -qF "$bad" "$work/stderr" || fail "the message does not name $bad"
  [ ! -e "$work/never.bmp" ] || fail "a failed load wrote an output file"
done

# Each failure says why, naming the file: STATUS|EXPECTED TEXT|ARGUMENTS...
mkdir -p "$work/folder.bmp"
cp "$data/cases.txt" "$work/damaged.png"
printf '\x13\xab\xa1\x5c\x04\x04' >"$work/short.astc"  # an .astc header cut short
while IFS='|' read -r want text args; do
  eval "set -- $args"
  expect_status "$want" "$cli" "$@"
  grep -qF -- "$text" "$work/stderr" || fail "'$args': expected '$text' in: $(head -c 300 "$work/stderr")"
done <<EOF
1|missing.bmp: Failed to load open file: No such file or directory|"$work/missing.bmp" "$work/o.bmp"
1|does not read .txt files|"$data/cases.txt" "$work/o.bmp"
1|damaged.png: Failed to load open file: not a PNG file|"$work/damaged.png" "$work/o.bmp"
1|folder.bmp: Failed to load open file: not a regular file|"$work/folder.bmp" "$work/o.bmp"
3|o.bmp: There was an error writing the file: No such file or directory|"$data/reference.bmp" "$work/none/o.bmp"
3|o.png: There was an error writing the file: No such file or directory|--thumbnail "$work/t.bmp" "$data/reference.bmp" "$work/none/o.png"
2|OUTPUT must end in .bmp, .png, .tga, .tif, .tiff, .dds, .ktx2 or .astc: |"$data/reference.bmp" "$work/o.jpg"
2|THUMB must end in .bmp, .png, .tga, .tif or .tiff: |--thumbnail "$work/t.gif" "$data/reference.bmp" "$work/o.bmp"
2|--format, --jobs and --recursive go with --out-dir|-j 2 "$data/reference.bmp" "$work/o.bmp"
2|--to takes opengl or directx|--to vulkan "$data/reference.bmp" "$work/o.bmp"
0|note: --scale 'wide' is not a number; the scale is 0|--renormalize --scale wide "$data/reference.bmp" "$work/o.bmp"
0|note: --scale '2x' reads as 2|--renormalize --scale 2x "$data/reference.bmp" "$work/o.bmp"
0|has 16-bit samples; BMP keeps 8 bits|"$2/png/ct2_d16_plain.png" "$work/o.bmp"
0|has an alpha channel, which BMP cannot hold|"$2/png/ct6_d8_plain.png" "$work/o.bmp"
2|--depth takes 8, 16 or float|--depth 12 "$data/reference.bmp" "$work/o.png"
2|--alpha takes keep or drop|--alpha off "$data/reference.bmp" "$work/o.png"
1|cmyk.tif: Failed to load open file: a TIFF file of CMYK colour, which quorvel-cli does not read|"$2/tiff/refused/cmyk.tif" "$work/o.bmp"
1|a TIFF file of Orientation 3 (rows not stored top row first, left to right), which quorvel-cli does not read|"$2/tiff/refused/orientation3.tif" "$work/o.bmp"
2|--format takes bmp, png, tga, tif, dds, ktx2, astc or exr, not 'jpg'|--format jpg --out-dir "$work/x" "$data/reference.bmp"
2|--astc goes with an .astc OUTPUT (KTX2 takes --ktx astc4x4 ...)|--astc 6x6 "$data/reference.bmp" "$work/o.dds"
2|--astc takes 4x4, 5x4, 5x5, 6x5, 6x6, 8x5, 8x6 or 8x8, not '12x12'|--astc 12x12 "$data/reference.bmp" "$work/o.astc"
1|short.astc: Failed to load open file: not an ASTC file that quorvel-cli can read: the file ends inside its 16-byte header|"$work/short.astc" "$work/o.bmp"
EOF
# Upper-case extensions pick the format too, and a written PNG and Targa
# read back as the same picture.
expect_status 0 "$cli" --invert-green "$data/reference.bmp" "$work/UP.PNG"
expect_status 0 "$cli" --invert-green "$data/reference.bmp" "$work/up.Tga"
expect_status 0 "$cli" "$work/UP.PNG" "$work/from_png.bmp"
expect_status 0 "$cli" "$work/up.Tga" "$work/from_tga.bmp"
cmp -s "$work/from_png.bmp" "$data/expected_invert_green.bmp" || fail "PNG output does not read back as written"
cmp -s "$work/from_tga.bmp" "$data/expected_invert_green.bmp" || fail "Targa output does not read back as written"

# Usage: exit 2 with the usage text; --help and --version exit 0.
expect_status 2 "$cli"
expect_status 2 "$cli" "$data/reference.bmp"
expect_status 2 "$cli" --frobnicate "$data/reference.bmp" "$work/x.bmp"
grep -q "unknown option '--frobnicate'" "$work/stderr" || fail "the unknown option is not named"
grep -q "quorvel-cli --help" "$work/stderr" || fail "usage error without a pointer to --help"
expect_status 2 "$cli" "$data/reference.bmp" "$work/x.bmp" "$work/y.bmp"
expect_status 2 "$cli" "$data/reference.bmp" "$work/x.bmp" --scale
expect_status 0 "$cli" --help
grep -q -- "--thumbnail" "$work/stdout" || fail "--help does not list the options"
expect_status 0 "$cli" --version
grep -q "quorvel-cli 1.01" "$work/stdout" || fail "--version prints $(cat "$work/stdout")"

# Write failures: exit 3, the message, and an earlier file left intact.
expect_status 3 "$cli" "$data/reference.bmp" "$work/no/such/dir/out.bmp"
grep -q "There was an error writing the file." "$work/stderr" || fail "no write message"
mkdir "$work/locked"
cp "$data/reference.bmp" "$work/locked/keep.bmp"
chmod a-w "$work/locked"
if [ "$(id -u)" -ne 0 ]; then
  expect_status 3 "$cli" --invert-red "$data/reference.bmp" "$work/locked/keep.bmp"
  cmp -s "$work/locked/keep.bmp" "$data/reference.bmp" || fail "a failed save changed the earlier file"
fi
chmod u+w "$work/locked"
# A target that is a directory cannot be replaced: the directory stays and
# no temporary file is left beside it.
mkdir "$work/target.bmp"
expect_status 3 "$cli" "$data/reference.bmp" "$work/target.bmp"
[ -d "$work/target.bmp" ] || fail "the directory target was replaced"
ls "$work" | grep -q '\.tmp$' && fail "a temporary file was left behind"

# A successful save over an existing file replaces it whole.
cp "$data/reference.bmp" "$work/over.bmp"
expect_status 0 "$cli" --invert-green "$data/reference.bmp" "$work/over.bmp"
cmp -s "$work/over.bmp" "$data/expected_invert_green.bmp" || fail "overwriting did not give the new picture"

if [ "$failures" -ne 0 ]; then
  echo "$failures end-to-end check(s) failed"
  exit 1
fi
echo "all end-to-end checks passed"
