# Sourced by the timing scripts: medians and their spread, so that no figure
# is one lucky run.
# median V...   the median of the values
# spread V...   "MEDIAN (LOWEST-HIGHEST)" of the values
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
spread() {
  local sorted
  sorted=$(printf '%s\n' "$@" | sort -n)
  printf '%s (%s-%s)' "$(median "$@")" "$(head -1 <<<"$sorted")" "$(tail -1 <<<"$sorted")"
}
