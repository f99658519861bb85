#!/usr/bin/env bash
# Runs a sanitizer build of vn headless on the sample game for a short while,
# ends it with SIGTERM (an orderly close: system.ini is written on the way
# out) and fails on any sanitizer report, a leak report included.
#   leak_run.sh VN_BINARY [SECONDS]
set -uo pipefail
vn=$(realpath "$1")
seconds=${2:-2}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/vn_leakrun_XXXXXX)
trap 'rm -rf "$work"' EXIT
python3 "$root/tools/build_sample.py" "$work" >/dev/null || { echo "leak_run: the sample data could not be built"; exit 1; }
cd "$work"

export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
# GCC 12's runtime mistakes some thread-local blocks for an old glibc layout
# and its leak checker's thread stopper then crashes now and then at exit;
# intercept_tls_get_addr=0 turns that guess off.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:intercept_tls_get_addr=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tools/lsan.supp:print_suppressions=0
"$vn" 2>"$work/stderr.txt" &
pid=$!

# Running once system.ini is there (the window is made right after it).
for _ in $(seq 600); do
  compgen -G "user/*/system.ini" >/dev/null && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
ini=$(compgen -G "user/*/system.ini" | head -n 1)
if [ -z "$ini" ]; then
  kill -KILL "$pid" 2>/dev/null; wait "$pid"
  echo "leak_run: vn did not start"; cat "$work/stderr.txt"; exit 1
fi
sleep "$seconds"
rm -f "$ini"
kill -TERM "$pid"
for _ in $(seq 600); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
if kill -0 "$pid" 2>/dev/null; then
  kill -KILL "$pid"; wait "$pid"
  echo "leak_run: vn did not end within 30 s of SIGTERM"; cat "$work/stderr.txt"; exit 1
fi
wait "$pid"
code=$?

status=0
if grep -qE "Sanitizer|runtime error" "$work/stderr.txt"; then
  echo "leak_run: sanitizer report"; status=1
fi
if [ "$code" -ne 0 ]; then
  echo "leak_run: vn exited with $code"; status=1
fi
if [ ! -f "$ini" ] || [ "$(stat -c %s "$ini")" -ne 64 ]; then
  echo "leak_run: SIGTERM did not close in order ($ini not written)"; status=1
fi
[ "$status" -eq 0 ] || cat "$work/stderr.txt"
exit "$status"
