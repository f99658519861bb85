# Sourced by the benchmark scripts: $root (the repository), $build (the
# benchmark build folder, VN_BENCH_BUILD or build-bench, Release), and
# bench_xvfb, which installs xvfb and xauth with apt-get when xvfb-run is
# missing. bench_make TARGET... builds the targets.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VN_BENCH_BUILD:-$root/build-bench}
case "$build" in /*) ;; *) build=$root/$build ;; esac

bench_xvfb() {
    if ! command -v xvfb-run >/dev/null || ! command -v xauth >/dev/null; then
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo=sudo
        $sudo apt-get install -y --no-install-recommends xvfb xauth >/dev/null
    fi
}

bench_make() {
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVN_BENCH=ON -DVN_TESTS=OFF >/dev/null
    fi
    cmake --build "$build" -j 4 --target "$@" >/dev/null
}
