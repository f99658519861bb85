#!/usr/bin/env bash
# Idle CPU benchmark: the engine on the sample game's static first screen with
# the title track playing, under a virtual X server with software GL. Reports
# the share of one core the whole process and each of its threads take over
# the measuring window, once as the program runs and once with VN_FRAME_SKIP=0
# (every frame drawn and presented), and the baseline of an SDL window that
# only pumps its events (bench/idle/idle_window.cpp).
#
#   bench/idle_cpu.sh            # 20 s a run after 3 s of start-up
#   VN_IDLE_SECONDS=10 VN_IDLE_WARMUP=2 VN_BENCH_BUILD=build bench/idle_cpu.sh
#
# Installs xvfb and xauth with apt-get when xvfb-run is missing.
set -euo pipefail
seconds=${VN_IDLE_SECONDS:-20}
warmup=${VN_IDLE_WARMUP:-3}
. "$(dirname "$0")/bench_build.sh"
bench_xvfb
bench_make vn idle_window

work=$(mktemp -d /tmp/vn_idle_XXXXXX)
trap 'rm -rf "$work"' EXIT
python3 "$root/tools/build_sample.py" "$work/run" >/dev/null

# The measurement: starts the program, lets it settle, reads the CPU time of
# the process (/proc/PID/stat) and of each thread (/proc/PID/task/*/schedstat,
# nanoseconds; stat ticks where schedstat is missing) before and after the
# window, then ends the program.
cat >"$work/measure.py" <<'EOF'
import os, signal, subprocess, sys, time

label, warmup, seconds = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
command = sys.argv[4:]
tick = os.sysconf('SC_CLK_TCK')

def stat_ns(path):
    with open(path) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1e9 / tick  # utime + stime

def thread_ns(pid, tid):
    try:
        with open(f'/proc/{pid}/task/{tid}/schedstat') as f:
            return float(f.read().split()[0])
    except OSError:
        return stat_ns(f'/proc/{pid}/task/{tid}/stat')

def snapshot(pid):
    threads = {}
    for tid in os.listdir(f'/proc/{pid}/task'):
        try:
            with open(f'/proc/{pid}/task/{tid}/comm') as f:
                name = f.read().strip()
            threads[tid] = (name, thread_ns(pid, tid))
        except OSError:
            pass  # the thread ended meanwhile
    return time.monotonic(), stat_ns(f'/proc/{pid}/stat'), threads

proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
time.sleep(warmup)
if proc.poll() is not None:
    sys.exit(f'{label}: the program ended early: {proc.stderr.read().decode(errors="replace")}')
t0, p0, th0 = snapshot(proc.pid)
time.sleep(seconds)
t1, p1, th1 = snapshot(proc.pid)
proc.send_signal(signal.SIGTERM)
try:
    proc.wait(timeout=10)
except subprocess.TimeoutExpired:
    proc.kill()
    proc.wait()

wall = (t1 - t0) * 1e9
print(f'{label}: whole process {100 * (p1 - p0) / wall:6.2f}% of one core over {(t1 - t0):.1f} s')
shares = {}
for tid, (name, ns) in th1.items():
    before = th0.get(tid, (name, 0.0))[1]
    shares.setdefault(name, 0.0)
    shares[name] += ns - before
for name, ns in sorted(shares.items(), key=lambda kv: -kv[1]):
    if ns < 1e-4 * wall:
        continue  # below 0.01%
    print(f'    {name:<18} {100 * ns / wall:6.2f}%')
EOF

cd "$work/run"
run() {
    local label=$1
    shift
    xvfb-run -a -s "-screen 0 1920x1080x24" \
        env LIBGL_ALWAYS_SOFTWARE=1 SDL_AUDIODRIVER=dummy "$@" \
        python3 "$work/measure.py" "$label" "$warmup" "$seconds" "${cmd[@]}"
}
echo "idle CPU, share of one core ($(nproc) cores, software GL under Xvfb)"
cmd=("$build/vn")
run "engine, frame skip on " env -u VN_FRAME_SKIP
run "engine, VN_FRAME_SKIP=0" VN_FRAME_SKIP=0
cmd=("$build/idle_window" "$((${seconds%.*} + ${warmup%.*} + 30))")
run "idle SDL window       "
