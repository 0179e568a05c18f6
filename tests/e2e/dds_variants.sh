#!/usr/bin/env bash
# The DDS variants of one picture give the same 24-bit BMP bytes through
# quorvel-cli.
# Usage: dds_variants.sh QUORVEL_CLI TESTS_DATA_DIR
set -uo pipefail
cli=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# same_picture GROUP FILE...: every file converts, and every output equals the first.
same_picture() {
  local group=$1 first="" file out
  shift
  for file in "$@"; do
    out=$work/$group-${file##*/}.bmp
    if ! "$cli" "$file" "$out" >/dev/null 2>"$work/stderr"; then
      fail "$file did not convert: $(head -c 300 "$work/stderr")"
    elif [ -z "$first" ]; then
      first=$file
      cp "$out" "$work/$group.bmp"
    elif ! cmp -s "$work/$group.bmp" "$out"; then
      fail "$file gives other bytes than $first"
    fi
  done
}

same_picture rgb "$data/cli/reference.bmp" "$data"/dds/{argb8888,xrgb8888,abgr8888,rgb888,rgb888_linear,rgb888_mipmaps}.dds
same_picture dxt "$data"/dds/{dxt_expected,dxt1,dxt3,dxt5}.dds

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "dds variants: every group gives identical output"
