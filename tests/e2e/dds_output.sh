#!/usr/bin/env bash
# DDS textures written by quorvel-cli: every format and header, full and
# shortened mip chains and an odd-sized picture, read back level by level
# (dds_readback.py, with Pillow and nvdecompress where they are installed);
# the DDS options' usage errors; --format dds in folder runs.
# Usage: dds_output.sh QUORVEL_CLI
set -uo pipefail
cli=$1
source "$(dirname "$0")/cli_common.sh"
here=$(dirname "$0")

# A Python with Pillow when there is one (the checks without it are the
# header's and the levels').
python=python3
for candidate in python3 /usr/bin/python3; do
  if command -v "$candidate" >/dev/null && "$candidate" -c "import PIL" 2>/dev/null; then python=$candidate; break; fi
done

# A 37 x 21 map of unit normals: slopes along both axes.
"$python" - "$work/map.ppm" <<'PY'
import math, sys
w, h = 37, 21
rows = bytearray()
for y in range(h):
    for x in range(w):
        nx, ny = 0.55 * math.sin(x / 4.0), 0.45 * math.cos(y / 3.0 + x / 9.0)
        nz = math.sqrt(1 - nx * nx - ny * ny)
        rows += bytes(int(c * 127 + 128) for c in (nx, ny, nz))
open(sys.argv[1], "wb").write(b"P6\n%d %d\n255\n" % (w, h) + rows)
PY

for format in bc5 bc1 bc3 bgra8; do
  for dx10 in 0 1; do
    for mips in 0 1 3; do
      options=(--dds "$format")
      [ "$dx10" = 1 ] && options+=(--dds-dx10)
      [ "$mips" != 0 ] && options+=(--mips "$mips")
      out=$work/$format-$dx10-$mips.dds
      expect_status 0 "$cli" "${options[@]}" "$work/map.ppm" "$out"
      levels=$([ "$mips" = 0 ] && echo 6 || echo "$mips")  # 37 x 21 down to 1 x 1: 6 levels
      "$python" "$here/dds_readback.py" "$work/map.ppm" "$out" "$format" "$dx10" "$levels" || fail "$out read back wrong"
    done
  done
done

# The default is BC5 with every level; the extension's case does not matter.
expect_status 0 "$cli" "$work/map.ppm" "$work/DEFAULT.DDS"
cmp -s "$work/DEFAULT.DDS" "$work/bc5-0-0.dds" || fail "the default DDS is not BC5 with every level"

# Usage errors: the DDS options only go with DDS output, and take known values.
expect_status 2 "$cli" --dds bc1 "$work/map.ppm" "$work/x.png"
expect_status 2 "$cli" --mips 2 "$work/map.ppm" "$work/x.bmp"
expect_status 2 "$cli" --dds bc6 "$work/map.ppm" "$work/x.dds"
expect_status 2 "$cli" --bc7-fast "$work/map.ppm" "$work/x.png"
expect_status 2 "$cli" --mips 0 "$work/map.ppm" "$work/x.dds"
expect_status 2 "$cli" --mip-keep-length --out-dir "$work/folder" "$work/map.ppm"
[ ! -e "$work/x.dds" ] || fail "a usage error wrote a file"

# BC7 has the DX10 header (DXGI format 98 at byte 128) with or without --dds-dx10.
for fast in "" --bc7-fast; do
  expect_status 0 "$cli" -q --dds bc7 $fast "$work/map.ppm" "$work/bc7.dds"
  [ "$(od -An -tu4 -j128 -N4 "$work/bc7.dds" | tr -d ' ')" = 98 ] || fail "BC7 DDS$fast without DXGI format 98"
  [ "$(head -c 88 "$work/bc7.dds" | tail -c 4)" = DX10 ] || fail "BC7 DDS$fast without the DX10 FourCC"
done

# Folder runs write DDS only when asked, with the DDS options.
expect_status 0 "$cli" -q --format dds --dds bc1 --mips 2 --out-dir "$work/folder" "$work/map.ppm"
"$python" "$here/dds_readback.py" "$work/map.ppm" "$work/folder/map.dds" bc1 0 2 || fail "folder run's DDS read back wrong"
cp "$work/bgra8-0-0.dds" "$work/texture.dds"
expect_status 0 "$cli" -q --out-dir "$work/folder2" "$work/texture.dds"
[ -f "$work/folder2/texture.png" ] || fail "a DDS input is not written as PNG by default"

[ "$failures" -eq 0 ] && echo "dds_output: all passed"
exit $((failures > 0))
