#!/usr/bin/env bash
# Installs the build tree into a scratch folder as the Debian package does
# (prefix /usr) and checks what it holds: the files, the manual page stamped
# with the version and naming every option quorvel-cli --help names, icons of
# the size their folder says and equal to what scripts/make-icon draws, and a
# desktop entry whose program and icon are installed with it.
# Usage: [CMAKE=cmake] install_tree.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build=$1 src=$2 version=$3
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" "${CMAKE:-cmake}" --install "$build" --prefix /usr >/dev/null
usr=$stage/usr
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Installed path | the source file it must equal ("-" when made by the build)
while IFS='|' read -r path source; do
  if [ ! -f "$usr/$path" ]; then fail "$path is not installed"; continue; fi
  [ "$source" = - ] || cmp -s "$usr/$path" "$src/$source" || fail "$path differs from $source"
done <<'ROWS'
bin/quorvel-cli|-
share/doc/quorvel/README.md|README.md
share/doc/quorvel/LICENSE|LICENSE
share/man/man1/quorvel-cli.1.gz|-
ROWS
[ -x "$usr/bin/quorvel-cli" ] || fail "bin/quorvel-cli is not executable"

man=$(gzip -dc "$usr/share/man/man1/quorvel-cli.1.gz" | sed 's/\\-/-/g')
[ "$(head -1 <<<"$man")" = ".TH QUORVEL-CLI 1 \"2026\" \"Quorvel $version\" \"User Commands\"" ] ||
  fail "the manual page's title line is $(head -1 <<<"$man")"
for option in $("$usr/bin/quorvel-cli" --help | grep -oE '(^|[[:space:][])--?[a-z][a-z-]*' | grep -oE -- '-.*' | sort -u); do
  grep -qE -- "(^|[^a-z-])$option([^a-z-]|\$)" <<<"$man" || fail "the manual page does not name $option"
done

drawn=$stage/drawn
python3 "$src/scripts/make-icon" "$drawn"
cmp -s "$drawn/resources/quorvel.ico" "$src/resources/quorvel.ico" || fail "resources/quorvel.ico is not what scripts/make-icon draws"
for committed in "$src"/packaging/icons/hicolor/*/apps/quorvel.png; do
  rel=${committed#"$src"/}
  cmp -s "$drawn/$rel" "$committed" || fail "$rel is not what scripts/make-icon draws"
done

if [ -f "$usr/bin/quorvel" ]; then
  entry=$usr/share/applications/quorvel.desktop
  [ -f "$entry" ] || fail "no desktop entry beside bin/quorvel"
  exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  [ -x "$usr/bin/$exec_name" ] || fail "the desktop entry starts $exec_name, which is not installed"
  icon=$(sed -n 's/^Icon=//p' "$entry")
  for size in 16 32 48 64 128 256; do
    png=$usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
    if [ ! -f "$png" ]; then fail "no $size-pixel icon $icon.png"; continue; fi
    # IHDR: width and height as big-endian words at bytes 16 and 20.
    read -r w h < <(python3 -c 'import struct,sys; print(*struct.unpack(">II", open(sys.argv[1],"rb").read()[16:24]))' "$png")
    [ "$w $h" = "$size $size" ] || fail "the ${size}x${size} icon is ${w}x${h}"
  done
fi

[ "$failures" -eq 0 ] || exit 1
echo "install tree: all checks passed"
