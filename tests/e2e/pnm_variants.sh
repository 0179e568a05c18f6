#!/usr/bin/env bash
# Every Netpbm variant of the reference picture must give the same BMP through
# quorvel-cli as every other variant of the same picture: the pixmaps, the
# greymaps and the bitmaps, plain and raw, whatever their maxval.
# Usage: tests/e2e/pnm_variants.sh QUORVEL_CLI DATA_DIR
set -euo pipefail
cli=$1
data=$2/pnm
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/variants_common.sh"

shopt -s nullglob
same_picture colour "$data"/*.ppm
same_picture grey "$data"/*.pgm
same_picture "two-level" "$data"/*.pbm
exit $failed
