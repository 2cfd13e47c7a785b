# Phases of a long run, sourced by the scripts: `phase TEXT` prints the
# "== TEXT" heading that starts one. When FIRSTLOAD_PHASES names a file (as
# .ci/run sets it), the heading's time is kept there too, and phase_table
# prints how long each phase took, up to the next heading or the end.
phase() {
  echo "== $*"
  if [ -n "${FIRSTLOAD_PHASES:-}" ]; then
    printf '%s\t%s\n' "$EPOCHREALTIME" "$*" >> "$FIRSTLOAD_PHASES"
  fi
}

# After a phase of its own (an install), the one it interrupted goes on.
phase_continue() {
  [ -s "${FIRSTLOAD_PHASES:-}" ] || return 0
  local interrupted
  interrupted=$(tail -n 2 "$FIRSTLOAD_PHASES" | head -n 1 | cut -f 2)
  printf '%s\t%s\n' "$EPOCHREALTIME" "${interrupted% (continued)} (continued)" >> "$FIRSTLOAD_PHASES"
}

phase_table() {
  [ -s "${FIRSTLOAD_PHASES:-}" ] || return 0
  awk -F '\t' -v end="$EPOCHREALTIME" '
    function clock(s) { s = int(s + 0.5); return sprintf("%d:%02d", int(s / 60), s % 60) }
    { start[NR] = $1; name[NR] = $2 }
    END {
      print ""
      print "== phase times"
      for (i = 1; i <= NR; i++) {
        took = (i < NR ? start[i + 1] : end) - start[i]
        if (took >= 0.5 || name[i] !~ / \(continued\)$/) printf "%8s  %s\n", clock(took), name[i]
      }
      printf "%8s  in all\n", clock(end - start[1])
    }' "$FIRSTLOAD_PHASES"
}
