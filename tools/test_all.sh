#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a normal build, whose program
# is built as tools/run_sample.sh builds it (Release), and an AddressSanitizer
# + UndefinedBehaviorSanitizer build. Warnings are errors in both.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/setup.sh

jobs=$(nproc)
export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
# GCC 12's runtime mistakes some thread-local blocks for an old glibc layout
# and its leak checker's thread stopper then crashes now and then at exit;
# intercept_tls_get_addr=0 turns that guess off.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:intercept_tls_get_addr=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tools/lsan.supp:print_suppressions=0

# configure DIR CMAKE ARGS...
configure() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DVN_WERROR=ON -DVN_BENCH=ON "$@" >/dev/null
}

# run_tests DIR CTEST ARGS...
run_tests() {
  local dir=$1; shift
  # The whole-program tests spend most of their time waiting for the frame
  # clock, not computing: run three times as many tests at once as there are
  # cores. The tests that rasterise many frames count as two (their
  # PROCESSORS property, CMakeLists.txt), so no more of them run at once than
  # one and a half per core. Each test has its own timeout (CMakeLists.txt:
  # unit, program, order).
  ctest --test-dir "$dir" -j "$((jobs * 3))" --output-on-failure "$@"
}

echo "== normal build"
# The engine is built as a player builds it: GCC's -O3 flow warnings fail
# here. Its unit tests run in the order shards (each test in a shared
# process, in two shuffled orders); the sanitizer build runs them in shards of
# its own (CMakeLists.txt).
configure build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
# The sanitizer build is compiled while the normal build's tests run, at the
# lowest priority: those tests leave a core in three idle while they wait for
# the frame clock, and take it back at once when they need it. It runs in a
# process group of its own, so that all of it can be stopped. Its output is
# shown when the tests are done.
configure build-asan -DCMAKE_BUILD_TYPE=Debug -DVN_SANITIZE=ON -DVN_BENCH=OFF
asan_log=$(mktemp /tmp/vn_asan_build_XXXXXX)
setsid nice -n 19 cmake --build build-asan -j "$jobs" >"$asan_log" 2>&1 &
asan_build=$!
stop_asan_build() {
  kill -- "-$asan_build" 2>/dev/null || true
  wait "$asan_build" 2>/dev/null || true
}
trap 'stop_asan_build; rm -f "$asan_log"' EXIT
tests_code=0
run_tests build -LE '^unit$' || tests_code=$?
# What is left of it is built at the script's own priority: on a busy
# machine the lowest one would wait behind every other process. A compile
# stopped half-way is done again (ninja keeps no record of it).
stop_asan_build
build_code=0
cmake --build build-asan -j "$jobs" >>"$asan_log" 2>&1 || build_code=$?
echo "== sanitizer build (ASan + UBSan)"
cat "$asan_log"
if [ "$tests_code" -ne 0 ]; then
  echo "test_all: the normal build's tests failed" >&2
  exit "$tests_code"
fi
[ "$build_code" -eq 0 ] || exit "$build_code"
# On a loaded machine GCC 12's leak checker still crashes now and then at the
# exit of a test that passed ("Tracer caught signal 11"): tools/sanitizer_rerun.sh
# runs each test or shard of that build and reruns it for that crash only.
run_tests build-asan
