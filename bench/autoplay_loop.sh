#!/usr/bin/env bash
# Memory over a long auto-play: the whole program on the sample game, headless,
# plays the story in auto mode (choices taken by the loop's number, questions
# answered), returns to the title, starts a new game, and so on for MINUTES.
# Prints the RSS and the peak RSS at the end of every loop, where the loop
# stands every 30 s, and at the end the benchmark's counters (peak RSS of
# the first loop, RSS after the first and the last loop, growth between them).
#
#   bench/autoplay_loop.sh          # 30 minutes
#   bench/autoplay_loop.sh 5        # 5 minutes
#   VN_BENCH_BUILD=build bench/autoplay_loop.sh 30 2>&1 | tee loop.log
set -euo pipefail
minutes=${1:-30}
. "$(dirname "$0")/bench_build.sh"
bench_make engine_bench
cd "$(mktemp -d /tmp/vn_autoplay_XXXXXX)"
trap 'rm -rf "$PWD"' EXIT
SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy VN_AUTOPLAY_MINUTES=$minutes \
    "$build/engine_bench" --benchmark_filter='^BM_AutoPlayRss'
