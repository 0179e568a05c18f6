#!/usr/bin/env bash
# Black-box run of quorvel.exe under wine64: opens a normal map stored as a
# 16-bit PNG through the real Open dialog, ticks "Invert green channel",
# opens the Preview, saves through the real Save dialog three times (BMP,
# PNG, Targa) and quits with Escape. The BMP must be byte for byte what
# quorvel-cli.exe makes with --invert-green, the PNG and the Targa file must
# hold its pixels as ImageMagick reads them, and the exit code must be 0.
# Screenshots of the dialog and the Preview go to OUT (and to docs/ with
# --update-docs).
# Usage: tests/win32/black_box.sh BUILD_DIR [--update-docs]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine-env"
build=$(cd "$1" && pwd)
update_docs=${2:-}
out="$build/black-box"
rm -rf "$out"
mkdir -p "$out"

program="$build/app/win32/quorvel.exe"
cli="$build/quorvel-cli.exe"
winpath() { echo "Z:${1//\//\\}"; }

# The sample normal map: the repository's, or a sphere drawn here.
sample="$repo/samples/sphere_normals.bmp"
if [ ! -f "$sample" ]; then
  sample="$out/sphere_normals.bmp"
  sphere='xx=(i-127.5)/120; yy=(127.5-j)/120; dd=xx*xx+yy*yy'
  convert -size 256x256 xc:black \
    -channel R -fx "$sphere; dd>1 ? 0.5 : xx*0.5+0.5" \
    -channel G -fx "$sphere; dd>1 ? 0.5 : yy*0.5+0.5" \
    -channel B -fx "$sphere; dd>1 ? 1 : sqrt(1-dd)*0.5+0.5" \
    +channel -alpha off -type TrueColor "BMP3:$sample"
fi

# The picture the program opens: the sample as a 16-bit PNG, so that the
# Windows Imaging Component's own layout of such frames is on the path.
picture="$out/sphere_normals.png"
convert "$sample" -depth 16 "PNG48:$picture"

started_xvfb=
cleanup() {
  [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null || true
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  [ -n "$started_xvfb" ] && stop_xvfb
  return 0
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  start_xvfb
  # The picture the program opens: the sample as a 16-bit PNG, so that the
# Windows Imaging Component's own layout of such frames is on the path.
picture="$out/sphere_normals.png"
convert "$sample" -depth 16 "PNG48:$picture"

started_xvfb=1
fi
wine_prefix_ready

fail() { echo "black box: $*" >&2; import -window root "$out/failure.png" 2>/dev/null || true; exit 1; }

# Polls for a window whose name matches exactly; prints its id.
wait_window() {
  local name=$1 id
  for _ in $(seq 1 300); do
    id=$(xdotool search --onlyvisible --name "^$name\$" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  fail "no window \"$name\""
}
wait_gone() {
  for _ in $(seq 1 300); do
    xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  fail "window \"$1\" did not close"
}
wait_file() {
  for _ in $(seq 1 300); do
    [ -s "$1" ] && return 0
    sleep 0.1
  done
  fail "no file $1"
}
# Lets the program handle everything sent so far: a window appears only
# once the commands before it have run.
keys() { xdotool key --delay 50 "$@"; }
shoot() {
  local id=$1 file=$2 geometry
  geometry=$(xdotool getwindowgeometry --shell "$id")
  eval "$geometry"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$file"
}

"$WINE64" "$program" &
app_pid=$!
dialog=$(wait_window "Quorvel v1.01 - https://quorvel.example.org")
xdotool windowfocus --sync "$dialog"

# Open: the focus starts on "Open...".
keys space
open_dialog=$(wait_window "Open File")
xdotool windowfocus --sync "$open_dialog"
xdotool type --delay 10 "$(winpath "$picture")"
keys Return
wait_gone "Open File"
xdotool windowfocus --sync "$dialog"
sleep 0.5  # let the dialog repaint before the screenshot
shoot "$dialog" "$out/dialog.png"

# Tab order from "Open...": Save, Quit, Preview, red, green.
keys Tab Tab Tab Tab Tab space
# Back to "Preview" and press it.
keys shift+Tab shift+Tab space
preview=$(wait_window "Preview")
sleep 0.5
shoot "$preview" "$out/preview.png"

# Save: a click on the caption brings the dialog back to the front with the
# focus on "Preview"; from there back to "Save...".
activate() { xdotool mousemove --window "$1" 120 8 click 1; sleep 0.3; }
# Each Save leaves the focus on "Save..." for the next.
save_as() {
  local name=$1 saved=$2
  keys space
  save_dialog=$(wait_window "Save File")
  xdotool windowfocus --sync "$save_dialog"
  xdotool type --delay 10 "$(winpath "$out/$name")"
  keys Return
  wait_gone "Save File"
  wait_file "$out/$saved"
  xdotool windowfocus --sync "$dialog"
}
activate "$dialog"
keys shift+Tab shift+Tab
save_as saved saved.bmp
save_as saved.png saved.png
save_as saved.tga saved.tga

activate "$dialog"
keys Escape
status=0
wait "$app_pid" || status=$?
app_pid=
[ "$status" -eq 0 ] || fail "exit code $status"

"$WINE64" "$cli" --invert-green "$(winpath "$picture")" "$(winpath "$out/expected.bmp")"
"$WINE64" "$cli" --invert-green "$(winpath "$picture")" "$(winpath "$out/expected.png")"
cmp "$out/saved.bmp" "$out/expected.bmp" || fail "the saved file differs from quorvel-cli --invert-green"
# The other two formats, read back by another program: the PNG keeps the
# picture's 16 bits, the Targa holds 8.
convert "$out/expected.bmp" "rgb:$out/expected.rgb"
convert "$out/expected.png" -depth 16 "rgb:$out/expected16.rgb"
convert "$out/saved.png" -depth 16 "rgb:$out/saved.png.rgb"
cmp "$out/saved.png.rgb" "$out/expected16.rgb" || fail "saved.png does not hold the samples of quorvel-cli --invert-green"
# ImageMagick keeps a Targa file's bottom-up rows as stored unless asked to turn them.
convert "$out/saved.tga" -auto-orient "rgb:$out/saved.tga.rgb"
cmp "$out/saved.tga.rgb" "$out/expected.rgb" || fail "saved.tga does not hold the pixels of quorvel-cli --invert-green"
[ "$(identify -format '%m %[channels] %z' "$out/saved.png")" = "PNG srgb 16" ] || fail "saved.png is not 16-bit RGB"

if [ "$update_docs" = "--update-docs" ]; then
  mkdir -p "$repo/docs"
  cp "$out/dialog.png" "$repo/docs/screenshot-dialog.png"
  cp "$out/preview.png" "$repo/docs/screenshot-preview.png"
fi
echo "black box: the BMP, PNG and Targa files match, exit code 0"
