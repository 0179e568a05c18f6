# Sourced by the timing scripts: medians and their spread, so that no figure
# is one lucky run.
# median V...   the median of the values
# spread V...   "MEDIAN (LOWEST-HIGHEST)" of the values
# run_ms TIMEFILE COMMAND...   runs COMMAND and prints "WALL CPU" in
#                milliseconds: wall time from the clock's nanoseconds (the
#                10 ms steps of /usr/bin/time are too coarse for runs of a
#                tenth of a second), processor time (user + system) from it
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
spread() {
  local sorted
  sorted=$(printf '%s\n' "$@" | sort -n)
  printf '%s (%s-%s)' "$(median "$@")" "$(head -1 <<<"$sorted")" "$(tail -1 <<<"$sorted")"
}
run_ms() {
  local timefile=$1 t0 t1
  shift
  t0=$(date +%s%N)
  /usr/bin/time -f '%U %S' -o "$timefile" "$@" || return
  t1=$(date +%s%N)
  awk -v ns=$((t1 - t0)) '{ printf "%d %d\n", ns / 1000000, ($1 + $2) * 1000 }' "$timefile"
}
