# SPDX-License-Identifier: MIT
# Sourced by the commands that time their steps (test.sh, qemu.sh).
#   step NAME COMMAND...   runs COMMAND and notes how long it took
#   print_steps            one line a step, as "NAME   N s"
step_times=()
step() {
  local name=$1 started=$SECONDS
  shift
  "$@"
  step_times+=("$(printf '%-18s %4d s' "$name" $((SECONDS - started)))")
}
print_steps() {
  printf '  %s\n' "${step_times[@]}"
}
