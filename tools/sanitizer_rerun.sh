#!/usr/bin/env bash
# Runs one test command of the sanitizer build and passes its output and code
# on. GCC 12's leak checker crashes now and then at the exit of a process
# whose test passed ("Tracer caught signal 11"; the runtime then says
# "LeakSanitizer has encountered a fatal error"): only then is the command
# run once more, and the log keeps both runs. A failed check, a sanitizer
# report or a leak report fails at once.
#   sanitizer_rerun.sh COMMAND [ARGS...]
set -uo pipefail
out=$(mktemp /tmp/vn_sanrun_XXXXXX)
trap 'rm -f "$out"' EXIT

run() {
  "$@" >"$out" 2>&1
  local code=$?
  cat "$out"
  return $code
}

run "$@"
code=$?
[ "$code" -eq 0 ] && exit 0

# The leak checker's own crash, after a run whose tests all passed and which
# reported nothing else.
if grep -qE "Tracer caught signal|LeakSanitizer has encountered a fatal error" "$out" &&
   grep -q "^\[  PASSED  \]" "$out" &&
   ! grep -qE "^\[  FAILED  \]|ERROR: (AddressSanitizer|LeakSanitizer: detected)|runtime error:" "$out"; then
  echo "sanitizer_rerun: the leak checker crashed at the exit of a passed run; running it once more"
  run "$@"
  exit $?
fi
exit "$code"
