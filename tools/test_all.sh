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

# run_suite DIR "CTEST ARGS" CMAKE ARGS...
run_suite() {
  local dir=$1 select=$2; shift 2
  cmake -S . -B "$dir" -G Ninja -DVN_WERROR=ON -DVN_BENCH=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  # The whole-program tests spend most of their time waiting for the frame
  # clock, not computing: run three times as many tests at once as there are
  # cores. The tests that rasterise many frames count as two (their
  # PROCESSORS property, CMakeLists.txt), so no more of them run at once than
  # one and a half per core. Each test has its own timeout (CMakeLists.txt:
  # unit, program, order).
  # shellcheck disable=SC2086
  ctest --test-dir "$dir" -j "$((jobs * 3))" --output-on-failure $select
}

echo "== normal build"
# The engine is built as a player builds it: GCC's -O3 flow warnings fail
# here. Its unit tests run in the order shards (each test in a shared
# process, in two shuffled orders); the sanitizer build runs them in shards of
# its own (CMakeLists.txt).
run_suite build "-LE ^unit$" -DCMAKE_BUILD_TYPE=Release
echo "== sanitizer build (ASan + UBSan)"
# On a loaded machine GCC 12's leak checker still crashes now and then at the
# exit of a test that passed ("Tracer caught signal 11"): tools/sanitizer_rerun.sh
# runs each test or shard of that build and reruns it for that crash only.
run_suite build-asan "" -DCMAKE_BUILD_TYPE=Debug -DVN_SANITIZE=ON -DVN_BENCH=OFF
