#!/usr/bin/env bash
# The DDS variants of one picture give the same 24-bit BMP bytes through
# quorvel-cli (the colour ones the same as the reference BMP itself).
# Usage: dds_variants.sh QUORVEL_CLI TESTS_DATA_DIR
set -uo pipefail
cli=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/variants_common.sh"

same_picture rgb "$data/cli/reference.bmp" "$data"/dds/{argb8888,xrgb8888,abgr8888,rgb888,rgb888_linear,rgb888_mipmaps}.dds
same_picture dxt1 "$data"/dds/{dxt_expected,dxt1}.dds
same_picture "dxt3 and dxt5" "$data"/dds/{dxt_alpha_expected,dxt3,dxt5}.dds
exit $failed
