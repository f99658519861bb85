#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan; build-fuzz/) and
# runs one of them for SECONDS, the same way for every target:
#   tools/fuzz.sh TARGET SECONDS [libFuzzer options...]
# TARGET is a fuzz/*_fuzz.cpp name without ".cpp" (e.g. archive_fuzz).
# Seeds: each target's own small inputs, written once to build-fuzz/seeds/TARGET/
# by fuzz/seeds.py, which also gives the target's -max_len (an option given
# on the command line wins) and builds the sample game's archives, every sound
# cut short (build-fuzz/seeds/game/data/), that the stage target plays over. New inputs
# go to build-fuzz/corpus/TARGET/, crash files to build-fuzz/artifacts/TARGET/,
# the log to build-fuzz/logs/TARGET.log. The run is niced; FUZZ_JOBS (default
# 3) bounds the build's parallel jobs. -fork=N works for every target.
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: tools/fuzz.sh TARGET SECONDS [libFuzzer options...]" >&2
  exit 2
fi
target=$1 seconds=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
if [ ! -f "$root/fuzz/$target.cpp" ]; then
  echo "fuzz.sh: no fuzz/$target.cpp" >&2
  exit 2
fi

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVN_FUZZ=ON -DVN_TESTS=OFF -DVN_BENCH=OFF -DVN_WERROR=ON >/dev/null
fi
nice -n 10 cmake --build "$build" -j "${FUZZ_JOBS:-3}" --target "$target"

# One builder of the seeds at a time when several targets start together.
(flock 9; nice -n 10 python3 "$root/fuzz/seeds.py" "$build/seeds" >/dev/null) 9>"$build/seeds.lock"

corpus=$build/corpus/$target artifacts=$build/artifacts/$target
mkdir -p "$corpus" "$artifacts" "$build/logs"
cat "$root/tools/lsan.supp" "$root/fuzz/lsan.supp" >"$build/lsan.supp"

export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
# Scratch folders in memory: the targets that write files (and sync them) do
# not wait for the disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export VN_SAMPLE_DATA=$build/seeds/game/data
# GCC 12's runtime mistakes some thread-local blocks for an old glibc layout
# and its leak checker's thread stopper then crashes now and then at exit;
# intercept_tls_get_addr=0 turns that guess off.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:intercept_tls_get_addr=0
export UBSAN_OPTIONS=print_stacktrace=1
export LSAN_OPTIONS=suppressions=$build/lsan.supp:print_suppressions=0

max_len=$(python3 "$root/fuzz/seeds.py" --max-len "$target")
cd "$build"
set +e
nice -n 10 "$build/$target" -max_total_time="$seconds" -timeout=30 -max_len="$max_len" -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$@" "$corpus" "$build/seeds/$target" \
  2>&1 | tee "$build/logs/$target.log" | grep -E --line-buffered "^#[0-9]+.*(INITED|DONE)|ERROR|SUMMARY|stat::|Done"
status=${PIPESTATUS[0]}
set -e
# The last coverage line and the totals.
grep -E "^#[0-9]+" "$build/logs/$target.log" | tail -1 || true
exit "$status"
