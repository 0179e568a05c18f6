#!/usr/bin/env bash
# Every PCX variant of the reference picture (one plane, three planes) must
# give the same BMP through quorvel-cli.
# Usage: tests/e2e/pcx_variants.sh QUORVEL_CLI DATA_DIR
set -euo pipefail
cli=$1
data=$2/pcx
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/variants_common.sh"

shopt -s nullglob
same_picture colour "$data"/*.pcx
exit $failed
