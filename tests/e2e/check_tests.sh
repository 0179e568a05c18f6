#!/usr/bin/env bash
# End-to-end checks of quorvel-cli --check and --fix: the lines and JSON
# objects for good, damaged and broken maps, the exit statuses, --detect
# --json, and that a fixed map checks out clean.
# Usage: check_tests.sh QUORVEL_CLI
set -uo pipefail
cli=$1
source "$(dirname "$0")/cli_common.sh"

# Generated maps: a relief of overlapping domes with green up, as a baker
# writes it (24-bit BMP), its damaged copies, and a grey height map.
python3 - "$work" <<'EOF'
import math, struct, sys
out = sys.argv[1]
W = H = 96

def bmp(path, pixel):
    stride = (3 * W + 3) & ~3
    rows = []
    for r in range(H - 1, -1, -1):  # bottom row first
        row = bytearray()
        for c in range(W):
            red, green, blue = pixel(c, r)
            row += bytes((blue, green, red))
        rows.append(bytes(row) + b'\0' * (stride - 3 * W))
    data = b''.join(rows)
    head = struct.pack('<2sIHHI', b'BM', 54 + len(data), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, W, H, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    open(f'{out}/{path}', 'wb').write(head + info + data)

def height(x, y):
    return sum(9 * math.exp(-((x - cx) ** 2 + (y - cy) ** 2) / (2 * s * s))
               for cx, cy, s in ((20, 30, 9), (60, 25, 12), (40, 70, 15), (80, 75, 7), (15, 80, 6)))

def normal(c, r):
    dx = (height(c + 1, r) - height(c - 1, r)) / 2
    dy = (height(c, r + 1) - height(c, r - 1)) / 2
    n = (-dx, dy, 1.0)  # green up: the normal leans towards rising rows
    length = math.sqrt(sum(v * v for v in n))
    return [min(255, max(0, round((v / length + 1) * 127.5))) for v in n]

def srgb_to_linear(v):
    v /= 255
    return round(255 * (v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4))

bmp('good.bmp', normal)
bmp('blue0.bmp', lambda c, r: normal(c, r)[:2] + [0])
bmp('decoded.bmp', lambda c, r: [srgb_to_linear(v) for v in normal(c, r)])
bmp('directx.bmp', lambda c, r: (lambda n: [n[0], 255 - n[1], n[2]])(normal(c, r)))
bmp('height.bmp', lambda c, r: [min(255, round(20 * height(c, r)))] * 3)

# The same map packed as DXT5nm (X in alpha, Y in green, red 255, blue 0)
# in an uncompressed 32-bit DDS file, rows top first.
pixels = b''.join(struct.pack('<I', x << 24 | 255 << 16 | y << 8)
                  for r in range(H) for c in range(W) for x, y, _ in [normal(c, r)])
header = b'DDS ' + struct.pack('<7I', 124, 0x100F, H, W, 4 * W, 0, 0) + bytes(44)
header += struct.pack('<8I', 32, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000)
header += struct.pack('<5I', 0x1000, 0, 0, 0, 0)
open(f'{out}/packed.dds', 'wb').write(header + pixels)
EOF

# Lines, in input order, and the exit statuses: 0 all ok, 5 findings, 1 a
# file could not be loaded (the others still checked), 2 usage.
expect_status 0 "$cli" --check "$work/good.bmp"
grep -Eq "^$work/good.bmp: ok \(opengl [01]\.[0-9]{2}; [0-9.]+% unit length\)$" "$work/stdout" ||
  fail "good map line: $(cat "$work/stdout")"
expect_status 5 "$cli" --check "$work/good.bmp" "$work/blue0.bmp" "$work/decoded.bmp" "$work/height.bmp"
want="good.bmp: ok
blue0.bmp: z-missing
decoded.bmp: srgb-decoded
height.bmp: not-a-normal-map"
got=$(sed -E "s|^$work/||; s/ \(.*//" "$work/stdout")
[ "$got" = "$want" ] || fail "--check lines: $got"
expect_status 5 "$cli" --check --expect directx "$work/good.bmp"
grep -q "good.bmp: wrong-convention (opengl" "$work/stdout" || fail "--expect: $(cat "$work/stdout")"
echo "not a picture" >"$work/broken.bmp"
expect_status 1 "$cli" --check "$work/broken.bmp" "$work/blue0.bmp"
grep -q "broken.bmp: Failed to load open file" "$work/stderr" || fail "no load message for broken.bmp"
grep -q "blue0.bmp: z-missing" "$work/stdout" || fail "the good file after a broken one was not checked"
while IFS='|' read -r text args; do
  eval "set -- $args"
  expect_status 2 "$cli" "$@"
  grep -qF -- "$text" "$work/stderr" || fail "'$args': expected '$text' in: $(head -c 300 "$work/stderr")"
done <<EOF
--expect takes opengl or directx|--check --expect vulkan "$work/good.bmp"
--check only reads|--check --out-dir "$work/o" "$work/good.bmp"
--json goes with --check, --fix or --detect|--json "$work/good.bmp" "$work/o.bmp"
--alpha takes keep or drop|--fix --alpha some "$work/good.bmp" "$work/o.bmp"
give one of them|--check --fix "$work/good.bmp"
no INPUT given|--check
EOF

# DXT5nm needs the alpha samples: found, and unpacked by --fix into the map
# it came from (the alpha dropped, since it was X).
expect_status 5 "$cli" --check --json "$work/packed.dds"
grep -q '"findings":\["dxt5nm"\],"convention":"opengl".*"alpha":true,"container":"DDS","payload":"uncompressed 32-bit"' "$work/stdout" ||
  fail "dxt5nm: $(cat "$work/stdout")"
expect_status 0 "$cli" --fix --alpha drop "$work/packed.dds" "$work/unpacked.png"
grep -q "^1 file: 1 written (1 dxt5nm unpacked), 0 skipped$" "$work/stdout" || fail "dxt5nm fix: $(cat "$work/stdout")"
expect_status 0 "$cli" --check --json "$work/unpacked.png"
grep -q '"findings":\[\],"convention":"opengl".*"alpha":false' "$work/stdout" || fail "unpacked: $(cat "$work/stdout")"

# JSON Lines: one object a file, every key of its type.
expect_status 5 "$cli" --check --json --expect opengl "$work/good.bmp" "$work/blue0.bmp" "$work/directx.bmp"
python3 - "$work/stdout" <<'EOF' || fail "--check --json: $(cat "$work/stdout")"
import json, sys
lines = open(sys.argv[1]).read().splitlines()
objects = [json.loads(line) for line in lines]
assert [o['path'].rsplit('/', 1)[1] for o in objects] == ['good.bmp', 'blue0.bmp', 'directx.bmp'], lines
assert [o['findings'] for o in objects] == [[], ['z-missing'], ['wrong-convention']], lines
assert [o['convention'] for o in objects] == ['opengl', 'opengl', 'directx'], lines
for o in objects:
    assert set(o) == {'path', 'findings', 'convention', 'confidence', 'unit_length_share', 'mean_length',
                      'negative_z_share', 'bit_depth', 'alpha', 'container', 'payload'}, o
    assert o['container'] == 'BMP' and o['payload'] is None, o
    assert 0 <= o['confidence'] <= 1 and 0 <= o['unit_length_share'] <= 1 and 0 <= o['negative_z_share'] <= 1
    assert o['bit_depth'] == 8 and o['alpha'] is False
assert objects[0]['unit_length_share'] > 0.9 and abs(objects[0]['mean_length'] - 1) < 0.02
assert objects[1]['negative_z_share'] > 0.9  # blue 0 reads as Z = -1
EOF
expect_status 0 "$cli" --detect --json "$work/good.bmp" "$work/directx.bmp"
python3 - "$work/stdout" <<'EOF' || fail "--detect --json: $(cat "$work/stdout")"
import json, sys
objects = [json.loads(line) for line in open(sys.argv[1]).read().splitlines()]
assert [o['convention'] for o in objects] == ['opengl', 'directx'], objects
assert all(set(o) == {'path', 'convention', 'confidence'} for o in objects), objects
EOF

# --fix: one file, then a folder; what is written checks out clean, what
# cannot be mended is skipped with exit 5.
expect_status 0 "$cli" --fix "$work/decoded.bmp" "$work/fixed.png"
grep -q "^1 file: 1 written (1 srgb undone), 0 skipped$" "$work/stdout" || fail "one-file summary: $(cat "$work/stdout")"
expect_status 0 "$cli" --check "$work/fixed.png"
mkdir -p "$work/in"
cp "$work/good.bmp" "$work/blue0.bmp" "$work/decoded.bmp" "$work/directx.bmp" "$work/height.bmp" "$work/in/"
expect_status 5 "$cli" --fix --expect opengl -j 2 --out-dir "$work/out" "$work/in"
grep -q "^5 files: 4 written (1 z rebuilt, 1 srgb undone, 1 converted, 1 unchanged), 1 skipped$" "$work/stdout" ||
  fail "folder summary: $(cat "$work/stdout")"
grep -q "height.bmp: not written: not-a-normal-map" "$work/stderr" || fail "the skipped map is not named"
[ ! -e "$work/out/height.bmp" ] || fail "a map that is no normal map was written"
expect_status 0 "$cli" --check --expect opengl "$work/out"
[ "$(wc -l <"$work/stdout")" -eq 4 ] || fail "fixed folder: $(cat "$work/stdout")"
# The other options come after the repairs: --invert-green after a fix of
# an OpenGL map gives a DirectX one.
expect_status 0 "$cli" --fix --invert-green "$work/blue0.bmp" "$work/dx.bmp"
expect_status 0 "$cli" --check --expect directx "$work/dx.bmp"

if [ "$failures" -ne 0 ]; then
  echo "$failures check end-to-end test(s) failed"
  exit 1
fi
echo "all check end-to-end tests passed"
