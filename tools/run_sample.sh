#!/usr/bin/env bash
# Builds the engine and the sample game's data, then runs the engine on it in a
# window. Headless: SDL_VIDEODRIVER=offscreen tools/run_sample.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/setup.sh

cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=Release -DVN_TESTS=OFF >/dev/null
cmake --build build-run -j "$(nproc)" --target vn
python3 tools/build_sample.py run
cd run
exec ../build-run/vn
