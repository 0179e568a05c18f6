#!/usr/bin/env bash
# Black-box run of the Linux program on a virtual X server (Qt's xcb
# platform): starts quorvel with the sample normal map, ticks "Invert green
# channel" and saves with Ctrl+S through Qt's own Save dialog; opens the
# Preview; ticks "Re-normalize map", types a scale, presses Apply and saves
# again; opens a height map with Ctrl+Shift+O (File > Open Height Map...),
# types a height scale in the panel, presses Enter and saves the map made;
# turns the Preview's lit view on with Alt+L and moves the mouse over it;
# quits with Ctrl+Q. Each saved file must be byte for byte what quorvel-cli
# makes with the same options, and the exit code 0. Screenshots of the
# window, the Preview, the height-map panel and the lit Preview go to OUT
# (and to docs/ with --update-docs).
# Usage: tests/qt/black_box.sh QUORVEL QUORVEL_CLI [--update-docs]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
source "$repo/scripts/xvfb-env"
program=$1
cli=$2
update_docs=${3:-}
out="$(cd "$(dirname "$program")" && pwd)/black-box"
rm -rf "$out"
mkdir -p "$out"
sample="$repo/samples/sphere_normals.bmp"
caption="Quorvel v1.01 - https://quorvel.example.org"

cleanup() {
  if [ -n "${app_pid:-}" ]; then
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  stop_xvfb
}
trap cleanup EXIT
# A server of its own, whatever display the caller has.
unset DISPLAY
start_xvfb
export QT_QPA_PLATFORM=xcb

fail() { echo "black box: $*" >&2; import -window root "$out/failure.png" 2>/dev/null || true; exit 1; }

# Polls (100 ms apart, N times) until the command succeeds; poll waits 30 s
# at most.
poll_for() {
  local times=$1
  shift
  for _ in $(seq 1 "$times"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
poll() { poll_for 300 "$@"; }
visible_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(visible_window "$1")" ]; }
no_window() { ! has_window "$1"; }
wait_window() { poll has_window "$1" || fail "no window \"$1\""; visible_window "$1"; }
wait_gone() { poll no_window "$1" || fail "window \"$1\" did not close"; }
wait_file() { poll test -s "$1" || fail "no file $1"; }
app_running() { kill -0 "$app_pid" 2>/dev/null; }
app_ended() { ! app_running; }

# The window's controls by their place in the dialog template: the middle
# of the left part (where the text of a check box is) of a control at
# (x, y, w, h) dialog units, in pixels from the top left of the template's
# client area at 96 dpi, which lies `top` pixels down, under the menu bar.
click_control() {
  local x=$1 y=$2 w=$3 h=$4
  local px=$(((x * 6 + 2) / 4 + (w * 6 / 4) / 3)) py=$((top + (y * 13 + 4) / 8 + (h * 13 / 8) / 2))
  xdotool mousemove --window "$main" "$px" "$py" click 1
}

# Screenshots of a window once what it shows no longer changes.
grab() { import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1"; }
steady() {
  grab "$out/previous.png"
  sleep 0.1
  grab "$1"
  cmp -s "$out/previous.png" "$1"
}
# The window's middle is drawn over (not the empty background).
drawn() { [ "$(convert "$1" -format "%[pixel:p{$2,$3}]" info:)" != "$4" ]; }
shoot() {
  local id=$1 file=$2 x=$3 y=$4 empty=$5
  eval "$(xdotool getwindowgeometry --shell "$id")"
  poll eval 'steady "$file" && drawn "$file" "$x" "$y" "$empty"' || fail "$file: the window was never drawn"
}

# Types NAME into the file-name field of the open dialog TITLE and presses
# Return. The field has the focus; whatever it holds is replaced. Under load
# a key can reach the main window before the dialog has taken the focus: if
# the dialog is still open after Return, the name is typed once more (with a
# screenshot of what the dialog showed).
enter_file_name() {
  local title=$1 name=$2 dialog attempt
  dialog=$(wait_window "$title")
  for attempt in 1 2 3; do
    xdotool windowfocus --sync "$dialog"
    xdotool key ctrl+a
    xdotool type --delay 5 "$name"
    xdotool key Return
    poll_for 100 no_window "$title" && return 0
    import -window root "$out/dialog-open-$attempt.png" 2>/dev/null || true
    echo "black box: \"$title\" is still open after Return (attempt $attempt)" >&2
  done
  wait_gone "$title"
}

# Saves as NAME; the file is NAME.bmp (the dialog adds the chosen type's
# extension to a name without one), or FILE when the name has its own.
save_as() {
  xdotool windowfocus --sync "$main"
  xdotool key ctrl+s
  enter_file_name "Save File" "$1"
  wait_file "${2:-$1.bmp}"
}

# The colour at (x, y) of a picture is a grey.
grey_at() {
  local p="p{$2,$3}"
  local rgb
  rgb=$(convert "$1" -format "%[fx:round(255*$p.r)] %[fx:round(255*$p.g)] %[fx:round(255*$p.b)]" info:)
  read -r r g b <<<"$rgb"
  [ "$r" = "$g" ] && [ "$g" = "$b" ]
}

"$program" --qt-file-dialogs "$sample" 2>"$out/stderr.txt" &
app_pid=$!
main=$(wait_window "$caption")
# The template's client area is 450 pixels high at 96 dpi; the menu bar
# takes what the window has beyond it.
eval "$(xdotool getwindowgeometry --shell "$main")"
top=$((HEIGHT - 450))
[ "$top" -ge 0 ] || fail "the window is $HEIGHT pixels high, less than the dialog template"
# The thumbnail box's middle (in the "Preview" group) is button face until
# the map is drawn.
shoot "$main" "$out/window.png" 172 $((top + 183)) "srgb(239,239,239)"

click_control 10 245 85 8  # Invert green channel
save_as "$out/green"

click_control 235 70 50 14  # Preview
preview=$(wait_window "Preview")
shoot "$preview" "$out/preview.png" 128 128 "srgb(0,0,0)"

click_control 130 235 75 8  # Re-normalize map
click_control 155 250 45 12  # the scale field
xdotool windowfocus --sync "$main"
xdotool key ctrl+a
xdotool type --delay 5 "1.5"
click_control 235 250 50 14  # Apply
save_as "$out/renormalized"

# File > Open Height Map...: a field of domes, made at height scale 4.
python3 "$repo/tests/e2e/map_pictures.py" domes 256 "$out/domes.pgm"
xdotool windowfocus --sync "$main"
xdotool key ctrl+shift+o
enter_file_name "Open Height Map" "$out/domes.pgm"
panel=$(wait_window "Height Map - domes.pgm")
xdotool windowfocus --sync "$panel"
xdotool key alt+s ctrl+a
xdotool type --delay 5 "4"
# The thumbnail's middle is button face until the map is drawn.
shoot "$panel" "$out/height-panel.png" 138 138 "srgb(239,239,239)"
xdotool key Return
wait_gone "Height Map - domes.pgm"
save_as "$out/made.png" "$out/made.png"

# The lit view, the light from the top left: the picture turns grey (the
# map's own colours are never grey).
preview=$(wait_window "Preview")
xdotool windowfocus --sync "$preview"
xdotool key alt+l
xdotool mousemove --window "$preview" 30 30
eval "$(xdotool getwindowgeometry --shell "$preview")"
poll eval 'steady "$out/lit.png" && grey_at "$out/lit.png" 128 128' || fail "the Preview was never lit"

xdotool windowfocus --sync "$main"
xdotool key ctrl+q
poll app_ended || fail "the program did not end"
status=0
wait "$app_pid" || status=$?
app_pid=
[ "$status" -eq 0 ] || fail "exit code $status: $(head -c 2000 "$out/stderr.txt")"

"$cli" --invert-green "$sample" "$out/expected-green.bmp"
cmp "$out/green.bmp" "$out/expected-green.bmp" || fail "the first saved file differs from quorvel-cli --invert-green"
"$cli" --invert-green --renormalize --scale 1.5 "$sample" "$out/expected-renormalized.bmp"
cmp "$out/renormalized.bmp" "$out/expected-renormalized.bmp" ||
  fail "the second saved file differs from quorvel-cli --invert-green --renormalize --scale 1.5"
"$cli" --from-height --height-scale 4 "$out/domes.pgm" "$out/expected-made.png"
cmp "$out/made.png" "$out/expected-made.png" || fail "the map made differs from quorvel-cli --from-height --height-scale 4"

if [ "$update_docs" = "--update-docs" ]; then
  cp "$out/window.png" "$repo/docs/screenshot-linux-window.png"
  cp "$out/preview.png" "$repo/docs/screenshot-linux-preview.png"
  cp "$out/height-panel.png" "$repo/docs/screenshot-linux-height-panel.png"
  cp "$out/lit.png" "$repo/docs/screenshot-linux-lit.png"
fi
echo "black box: the three saved files match quorvel-cli, exit code 0"
