# Shared by the quorvel-cli scripts: a scratch folder removed at the end,
# failures counted, and commands run for their exit status. Sourced.
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect_status STATUS COMMAND...: runs the command, keeps its output in
# $work/stdout and $work/stderr.
expect_status() {
  local want=$1; shift
  "$@" >"$work/stdout" 2>"$work/stderr"
  local got=$?
  [ "$got" -eq "$want" ] || fail "$* exited $got, expected $want: $(head -c 300 "$work/stderr")"
}
