# Sourced by the Windows build and check scripts: timed phases, and steps whose output goes to
# a log that is shown (its end) only when the step fails.

started=$SECONDS
phase_started=$SECONDS

phase() {
  echo "== $1 (at $((SECONDS - started)) s)"
  phase_started=$SECONDS
}

phase_done() {
  echo "   done in $((SECONDS - phase_started)) s"
}

# run_logged LOG COMMAND [ARGS...]: a failed step shows the end of its log rather than pages of
# output, and ends the script.
run_logged() {
  local log="$1"
  shift
  if ! "$@" >"$log" 2>&1; then
    echo "FAILED: $*" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
}
