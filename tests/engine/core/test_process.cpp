// What every test process sets up before its first test.
#include <malloc.h>

#include <cstdlib>
#include <string>

namespace {
// The tests run the project's Python tools through the shell as `python3`.
// On a machine where `python3` on the PATH is a launcher in front of the
// interpreter (a version manager's shim, a shell script that finds the
// version to run), each call pays the launcher's own start: a second or two
// of processor time, more than most tools take. The interpreter the build
// found comes first on the test program's PATH, for every test and every
// program a test starts.
const bool kInterpreterFirst = [] {
    std::string path = VN_PYTHON_DIR;
    if (path.empty()) return false;
    if (const char* rest = std::getenv("PATH"); rest && *rest) path += std::string(":") + rest;
    return ::setenv("PATH", path.c_str(), 1) == 0;
}();

// The software renderer the tests draw with allocates and frees a large
// block for each draw call. The C library gives the top of its heap back to
// the system at each free and takes it again at the next call: every draw
// then pays page faults, most of a screen test's time on a busy machine. The
// test process keeps up to 256 MiB of freed heap instead.
const bool kHeapKept = [] { return ::mallopt(M_TRIM_THRESHOLD, 256 << 20) == 1; }();
}  // namespace
