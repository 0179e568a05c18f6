#!/usr/bin/env bash
# Every TGA variant of the reference picture must give the same BMP through
# quorvel-cli as every other variant of the same picture: the 24 and 32-bit
# colours, the 15 and 16-bit colours (5 bits a channel), and the greyscale.
# Usage: tests/e2e/tga_variants.sh QUORVEL_CLI DATA_DIR
set -euo pipefail
cli=$1
data=$2/tga
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/variants_common.sh"

shopt -s nullglob
colour=() fiveBits=() grey=()
for file in "$data"/*.tga; do
  case ${file##*/} in
    type3_*) grey+=("$file") ;;
    *_16.tga | *_map15.tga | *_map16.tga) fiveBits+=("$file") ;;
    *) colour+=("$file") ;;
  esac
done
same_picture colour "${colour[@]}"
same_picture "5-bit colour" "${fiveBits[@]}"
same_picture grey "${grey[@]}"
exit $failed
