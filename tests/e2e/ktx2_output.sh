#!/usr/bin/env bash
# KTX2 textures through quorvel-cli: every payload written and read back
# (as the same picture written to DDS or PNG reads back), --check and a
# folder run reading them, the refusals' messages naming the file and the
# kind, the engine presets, and the usage errors.
# Usage: ktx2_output.sh QUORVEL_CLI
set -uo pipefail
cli=$1
source "$(dirname "$0")/cli_common.sh"

# A 19 x 11 map of unit normals.
python3 - "$work/map.ppm" <<'PY'
import math, sys
w, h = 19, 11
rows = bytearray()
for y in range(h):
    for x in range(w):
        nx, ny = 0.5 * math.sin(x / 3.0), 0.4 * math.cos(y / 2.0 + x / 7.0)
        rows += bytes(int(c * 127 + 128) for c in (nx, ny, math.sqrt(1 - nx * nx - ny * ny)))
open(sys.argv[1], "wb").write(b"P6\n%d %d\n255\n" % (w, h) + rows)
PY

# The DDS writer's formats read back from KTX2 as from DDS.
for format in bc5 bc1 bc3 bc7; do
  expect_status 0 "$cli" --dds "$format" "$work/map.ppm" "$work/$format.dds"
  expect_status 0 "$cli" --ktx "$format" "$work/map.ppm" "$work/$format.ktx2"
  expect_status 0 "$cli" "$work/$format.dds" "$work/$format-dds.png"
  expect_status 0 "$cli" "$work/$format.ktx2" "$work/$format-ktx2.png"
  cmp -s "$work/$format-dds.png" "$work/$format-ktx2.png" || fail "$format: the KTX2 file reads back unlike the DDS file"
done
# ASTC reads back from KTX2 as from an .astc file of the same block size.
expect_status 0 "$cli" --astc 6x6 "$work/map.ppm" "$work/map.astc"
expect_status 0 "$cli" --ktx astc6x6 --mips 1 "$work/map.ppm" "$work/astc6x6.ktx2"
expect_status 0 "$cli" "$work/map.astc" "$work/astc-file.png"
expect_status 0 "$cli" "$work/astc6x6.ktx2" "$work/astc-ktx2.png"
cmp -s "$work/astc-file.png" "$work/astc-ktx2.png" || fail "astc6x6: the KTX2 file reads back unlike the .astc file"
# The plain payloads keep the picture's samples exactly.
expect_status 0 "$cli" "$work/map.ppm" "$work/map.png"
for format in rgba8 rgba16; do
  for pack in "--ktx-zstd 0" "--ktx-zstd 5" "--ktx-zlib 7"; do
    expect_status 0 "$cli" --ktx "$format" $pack --depth 8 "$work/map.ppm" "$work/$format.ktx2"
    expect_status 0 "$cli" --depth 8 --alpha drop "$work/$format.ktx2" "$work/$format.png"
    cmp -s "$work/map.png" "$work/$format.png" || fail "$format $pack: the pixels changed"
  done
done

# --check and folder runs read KTX2.
expect_status 0 "$cli" --check "$work/bc5.ktx2"
grep -q "bc5.ktx2: ok" "$work/stdout" || fail "--check did not read the KTX2 file: $(cat "$work/stdout")"
# --check --json names the container and the payload.
for file in bc5.ktx2:KTX2:BC5_UNORM_BLOCK bc7.ktx2:KTX2:BC7_UNORM_BLOCK astc6x6.ktx2:KTX2:ASTC_6x6_UNORM_BLOCK \
            bc7.dds:DDS:BC7_UNORM bc1.dds:DDS:DXT1 map.astc:ASTC:ASTC_6x6 map.png:PNG:; do
  IFS=: read -r name container payload <<<"$file"
  "$cli" --check --json "$work/$name" >"$work/stdout" 2>"$work/stderr"  # findings or none
  if [ -n "$payload" ]; then
    grep -q "\"container\":\"$container\",\"payload\":\"$payload\"" "$work/stdout" || fail "--check --json $name: $(cat "$work/stdout")"
  else
    grep -q "\"container\":\"$container\",\"payload\":null" "$work/stdout" || fail "--check --json $name: $(cat "$work/stdout")"
  fi
done
expect_status 0 "$cli" -q --out-dir "$work/folder" --format ktx2 --ktx rg8 --mips 2 "$work/map.ppm" "$work/bc1.ktx2"
[ -f "$work/folder/map.ktx2" ] && [ -f "$work/folder/bc1.ktx2" ] || fail "--format ktx2 wrote no KTX2 files"

# A refused kind is named with the file.
python3 - "$work/bc5.ktx2" "$work/astc.ktx2" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[12:16] = (183).to_bytes(4, "little")
open(sys.argv[2], "wb").write(data)
PY
expect_status 1 "$cli" "$work/astc.ktx2" "$work/astc.png"
grep -q "astc.ktx2.*ASTC_12x12_UNORM_BLOCK (VkFormat 183)" "$work/stderr" || fail "the ASTC refusal: $(cat "$work/stderr")"

# Each engine preset writes what its options written out write.
while IFS='|' read -r engine output options; do
  expect_status 0 "$cli" -q --for "$engine" "$work/map.ppm" "$work/for-$engine.$output"
  expect_status 0 "$cli" -q $options "$work/map.ppm" "$work/opts-$engine.$output"
  cmp -s "$work/for-$engine.$output" "$work/opts-$engine.$output" || fail "--for $engine differs from $options"
done <<EOF
unreal|dds|--to directx --dds bc5
unity|png|--to opengl
bevy|ktx2|--to opengl --ktx bc5
threejs|ktx2|--to opengl --ktx rgba8
blender|png|--to opengl --depth 16
EOF

# Usage errors write nothing.
expect_status 2 "$cli" --ktx bc6h "$work/map.ppm" "$work/x.ktx2"
expect_status 2 "$cli" --astc 6x6 "$work/map.ppm" "$work/x.ktx2"
expect_status 2 "$cli" --for bevy --ktx rgba8 "$work/map.ppm" "$work/x.ktx2"
expect_status 2 "$cli" --for unreal "$work/map.ppm" "$work/x.ktx2"
expect_status 2 "$cli" --ktx bc4 "$work/map.ppm" "$work/x.dds"
expect_status 2 "$cli" --ktx-zstd 3 --ktx-zlib 3 "$work/map.ppm" "$work/x.ktx2"
expect_status 2 "$cli" --dds bc1 "$work/map.ppm" "$work/x.ktx2"
[ ! -e "$work/x.ktx2" ] && [ ! -e "$work/x.dds" ] || fail "a usage error wrote a file"

[ "$failures" -eq 0 ] && echo "ktx2_output: all passed"
exit $((failures > 0))
