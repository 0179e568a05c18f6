# Shared by the <format>_variants.sh scripts: converts each file of a group of
# variants of one picture with quorvel-cli and checks that every resulting BMP
# is byte for byte the same. Sourced; expects $cli and $work, sets $failed.
failed=0

same_picture() {
  local group=$1 first="" file out
  shift
  if [ $# -lt 2 ]; then
    echo "FAIL $group: fewer than two variants found"
    failed=1
    return
  fi
  for file in "$@"; do
    out=$work/${file##*/}.bmp
    if ! "$cli" "$file" "$out"; then
      echo "FAIL $group: ${file##*/} did not convert"
      failed=1
    elif [ -z "$first" ]; then
      first=$out
    elif ! cmp -s "$first" "$out"; then
      echo "FAIL $group: ${file##*/} differs from ${first##*/}"
      failed=1
    fi
  done
  echo "$group: $# variants compared"
}
