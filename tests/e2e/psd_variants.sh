#!/usr/bin/env bash
# The PSD variants of one picture give the same 24-bit BMP bytes through
# quorvel-cli (the colour ones the same as the reference BMP itself).
# Usage: psd_variants.sh QUORVEL_CLI TESTS_DATA_DIR
set -uo pipefail
cli=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/variants_common.sh"

same_picture rgb "$data/cli/reference.bmp" "$data"/psd/{rgb,rgba,indexed}_{raw,packbits}.psd
same_picture grey "$data"/psd/{grey,cmyk}_{raw,packbits}.psd
exit $failed
