# Sourced by the setup scripts. step LABEL COMMAND...: prints LABEL as the step's one progress line
# and runs COMMAND with its output held back; when COMMAND fails, that output is shown and the
# script ends with COMMAND's status. Set no EXIT trap of your own before the last step.
step() {
  local label=$1 output status=0
  shift
  echo "$label"
  output=$(mktemp "${TMPDIR:-/tmp}/vudi-step.XXXXXX")
  trap "rm -f '$output'" EXIT
  "$@" >"$output" 2>&1 </dev/null || status=$?
  if [ "$status" -ne 0 ]; then
    cat "$output" >&2
    echo "$label failed (status $status)" >&2
  fi
  rm -f "$output"
  trap - EXIT
  [ "$status" -eq 0 ] || exit "$status"
}
