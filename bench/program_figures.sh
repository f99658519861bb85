#!/usr/bin/env bash
# The whole program's figures (bench/program_figures_bench.cpp) under a virtual
# X server with software GL, as a player's machine without a GPU runs it:
# the story page's CPU per frame and its idle share of a core, the start to
# the title and to the story, a save's longest frame, one auto-play loop's
# peak RSS, and the waits from a key to the next screen. Each benchmark runs
# alone, in a process of its own, so that each peak RSS and start-up is its own.
#
#   bench/program_figures.sh
#   VN_BENCH_BUILD=build bench/program_figures.sh BM_StoryPageIdleCpu   # one of them
#
# Installs xvfb and xauth with apt-get when xvfb-run is missing.
set -euo pipefail
. "$(dirname "$0")/bench_build.sh"
bench_xvfb
bench_make engine_bench
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(BM_StoryPageFrameCpu BM_StoryPageIdleCpu BM_StartToTitleAndStory BM_SaveFrameShare BM_AutoPlayRss BM_ScreenWaits)
cd "$(mktemp -d /tmp/vn_figures_XXXXXX)"
trap 'rm -rf "$PWD"' EXIT
for name in "${names[@]}"; do
    xvfb-run -a -s "-screen 0 1920x1080x24" \
        env LIBGL_ALWAYS_SOFTWARE=1 SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy \
        "$build/engine_bench" --benchmark_filter="^$name\$|^$name/" 2>&1 | grep -E "^BM_|^loop|rror"
done
