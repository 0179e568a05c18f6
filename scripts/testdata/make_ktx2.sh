#!/usr/bin/env bash
# Writes small KTX2 files of every payload, stored, zstd- and
# zlib-supercompressed, into tests/data/ktx2/ with quorvel-cli itself, from
# a generated 13 x 9 normal map (a bump in the middle): seeds for
# tests/fuzz/fuzz_ktx2.cpp and samples for the reader.
# Usage: scripts/testdata/make_ktx2.sh QUORVEL_CLI
set -euo pipefail
cli=$1
out=$(dirname "$0")/../../tests/data/ktx2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/map.ppm" <<'PY'
import math, sys
w, h = 13, 9
rows = []
for y in range(h):
    for x in range(w):
        dx, dy = (x - w / 2) / w, (y - h / 2) / h
        nx, ny = -dx * 1.5, -dy * 1.5
        nz = math.sqrt(max(0.0, 1 - nx * nx - ny * ny))
        rows += [int(v * 127 + 128) for v in (nx, ny, nz)]
with open(sys.argv[1], 'wb') as f:
    f.write(b'P6\n%d %d\n255\n' % (w, h) + bytes(rows))
PY
mkdir -p "$out"
for payload in bc5 bc1 bc3 bc4 rg8 rgba8 rg16 rgba16 bc7 astc4x4 astc5x4 astc5x5 astc6x5 astc6x6 astc8x5 astc8x6 astc8x8; do
  "$cli" -q --ktx "$payload" --ktx-zstd 0 "$work/map.ppm" "$out/${payload}.ktx2"
  "$cli" -q --ktx "$payload" --ktx-zstd 3 --mips 2 "$work/map.ppm" "$out/${payload}_zstd.ktx2"
  "$cli" -q --ktx "$payload" --ktx-zlib 6 --mips 2 "$work/map.ppm" "$out/${payload}_zlib.ktx2"
done
