#!/usr/bin/env bash
# Idle CPU benchmark: what a screen that only waits costs, under a virtual X
# server with Mesa's software GL (llvmpipe with two threads), the process
# pinned to three cores. Side by side, in rounds (the machine may be shared,
# so each round measures every case once, in turn):
#   (a) the title's menu waiting, its current item pulsing;
#   (b) a story page waiting for a click, its key-wait icon blinking;
#   (c) the same page with VN_FRAME_SKIP=0 (every frame drawn whole);
#   (d) a bare SDL GL window that presents nothing (bench/idle/idle_window.cpp),
#       the floor.
# (a)-(c) run the whole program on the sample inside engine_bench
# (BM_TitleIdleCpu, BM_StoryPageIdleCpu): the whole process's share of one
# core over the window, the presents a second and the window pixels a
# present covers.
#
#   bench/idle_cpu.sh                  # 20 s a case, 3 rounds
#   VN_IDLE_SECONDS=10 VN_IDLE_ROUNDS=1 VN_BENCH_BUILD=build bench/idle_cpu.sh
#
# Installs xvfb and xauth with apt-get when xvfb-run is missing.
set -euo pipefail
seconds=${VN_IDLE_SECONDS:-20}
rounds=${VN_IDLE_ROUNDS:-3}
cores=${VN_IDLE_CORES:-0-2}
. "$(dirname "$0")/bench_build.sh"
bench_xvfb
bench_make engine_bench idle_window

work=$(mktemp -d /tmp/vn_idle_XXXXXX)
trap 'rm -rf "$work"' EXIT

# The floor: the process's CPU time (/proc/PID/stat) over the window.
cat >"$work/measure.py" <<'PY'
import os, signal, subprocess, sys, time
warmup, seconds = float(sys.argv[1]), float(sys.argv[2])
tick = os.sysconf('SC_CLK_TCK')
def cpu(pid):
    with open(f'/proc/{pid}/stat') as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick
proc = subprocess.Popen(sys.argv[3:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
time.sleep(warmup)
t0, c0 = time.monotonic(), cpu(proc.pid)
time.sleep(seconds)
t1, c1 = time.monotonic(), cpu(proc.pid)
proc.send_signal(signal.SIGTERM)
proc.wait()
print(f'process_core_share={(c1 - c0) / (t1 - t0):.5f}')
PY

run() {  # label, then the command
    local label=$1
    shift
    xvfb-run -a -s "-screen 0 1920x1080x24" \
        env LIBGL_ALWAYS_SOFTWARE=1 LP_NUM_THREADS=2 SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy \
        VN_IDLE_SECONDS="$seconds" taskset -c "$cores" "$@" >"$work/out" 2>&1 || true
    python3 - "$label" "$work/out" <<'PY'
import re, sys
label, text = sys.argv[1], open(sys.argv[2]).read()
def get(name):
    m = re.search(name + r'=([0-9.e+-]+)([kMmu]?)', text)
    if not m:
        return None
    return float(m.group(1)) * {'': 1, 'k': 1e3, 'M': 1e6, 'm': 1e-3, 'u': 1e-6}[m.group(2)]
share = get('process_core_share')
if share is None:
    print(f'{label}: no figure ({text.strip().splitlines()[-1:] })')
    sys.exit(0)
line = f'{label}: {100 * share:7.2f}% of a core'
presents, pixels = get('presents_per_s'), get('pixels_per_present')
if presents is not None:
    line += f', {presents:5.1f} presents/s, {pixels:9.0f} pixels/present'
print(line)
PY
}

echo "idle CPU, share of one core: $(nproc) cores, pinned to $cores, llvmpipe with 2 threads under Xvfb"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq 1 "$rounds"); do
    echo "round $round"
    run "  (a) title menu idle        " "$build/engine_bench" --benchmark_filter='^BM_TitleIdleCpu/0/'
    run "  (b) story page, icon       " "$build/engine_bench" --benchmark_filter='^BM_StoryPageIdleCpu/0/'
    run "  (c) story page, skip off   " "$build/engine_bench" --benchmark_filter='^BM_StoryPageIdleCpu/1/'
    run "  (d) bare SDL window (floor)" python3 "$work/measure.py" 3 "$seconds" "$build/idle_window" "$((seconds + 30))"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
