#!/usr/bin/env bash
# The DDS variants of one picture give the same 24-bit BMP bytes through
# quorvel-cli (the colour ones the same as the reference BMP itself), under
# the legacy header and the DX10 one alike; a format that is not read is
# named in the message.
# Usage: dds_variants.sh QUORVEL_CLI TESTS_DATA_DIR
set -uo pipefail
cli=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/variants_common.sh"

same_picture rgb "$data/cli/reference.bmp" \
  "$data"/dds/{argb8888,xrgb8888,abgr8888,rgb888,rgb888_linear,rgb888_mipmaps,dx10_rgba8,dx10_bgra8,dx10_bgrx8,dx10_cube_array}.dds
same_picture dxt1 "$data"/dds/{dxt_expected,dxt1,dx10_bc1}.dds
same_picture "dxt2 to dxt5" "$data"/dds/{dxt_alpha_expected,dxt2,dxt3,dxt4,dxt5,dx10_bc2,dx10_bc3}.dds
same_picture bc4 "$data"/dds/{dx10_bc4_unorm,ati1,bc4u}.dds
same_picture "bc4 signed" "$data"/dds/{dx10_bc4_snorm,bc4s}.dds
same_picture bc5 "$data"/dds/{dx10_bc5_unorm,ati2,bc5u}.dds
same_picture "bc5 signed" "$data"/dds/{dx10_bc5_snorm,bc5s}.dds

refused() {
  local file=$1 kind=$2 message
  message=$("$cli" "$data/dds/$file" "$work/refused.bmp" 2>&1)
  if [ $? -eq 0 ] || [[ $message != *"Failed to load open file: a DDS file of $kind, which quorvel-cli does not read"* ]]; then
    echo "FAIL refused: $file gave: $message"
    failed=1
  fi
}
refused dx10_bc6h_uf16.dds "BC6H_UF16 (DXGI 95)"
refused dx10_r16g16b16a16_float.dds "R16G16B16A16_FLOAT (DXGI 10)"
refused a16b16g16r16f.dds "A16B16G16R16F (D3DFMT 113)"
echo "refused: 3 files named"
exit $failed
