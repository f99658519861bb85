// The author's packer (tools/pack.py) as one process for the whole test run:
// a container or an archive costs its packing, not a Python start.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace script_packer {

// Runs tools/pack.py with `args` in folder `cwd`; false when it fails.
inline bool Run(const std::string& cwd, const std::vector<std::string>& args) {
    // process-wide: the packer's sockets, opened at the first use, closed with
    // the process (the packer then ends)
    static int to = -1, from = -1;
    if (to < 0) {
        int in[2], back[2];
        // Sockets, so that a packer that is gone fails a send instead of
        // raising SIGPIPE.
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0 ||
            ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, back) != 0)
            return false;
        static const std::string code =
            "import os, sys\n"
            "os.chdir('/')\n"  // the test's folder it starts in goes with its test
            "sys.path.insert(0, '" VN_SOURCE_DIR "/tools')\n"
            "import pack\n"
            "for line in sys.stdin:\n"
            "    cwd, *args = line.rstrip('\\n').split('\\t')\n"
            "    try:\n"
            "        os.chdir(cwd)\n"
            "        r = pack.main(args)\n"
            "    except SystemExit as e:\n"
            "        r = e.code\n"
            "    except Exception:\n"
            "        r = 1\n"
            "    os.chdir('/')\n"
            "    os.write(3, b'1\\n' if r else b'0\\n')\n";
        posix_spawn_file_actions_t acts;
        posix_spawn_file_actions_init(&acts);
        posix_spawn_file_actions_adddup2(&acts, in[0], 0);
        posix_spawn_file_actions_adddup2(&acts, back[1], 3);
        posix_spawn_file_actions_addopen(&acts, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&acts, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclose(&acts, in[1]);
        posix_spawn_file_actions_addclose(&acts, back[0]);
        char* argv[] = {const_cast<char*>("python3"), const_cast<char*>("-c"), const_cast<char*>(code.c_str()),
                        nullptr};
        pid_t pid = 0;
        const int spawned = posix_spawnp(&pid, "python3", &acts, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&acts);
        ::close(in[0]);
        ::close(back[1]);
        if (spawned != 0) {
            ::close(in[1]);
            ::close(back[0]);
            return false;
        }
        to = in[1];
        from = back[0];
    }
    std::string line = cwd;
    for (const std::string& a : args) line += "\t" + a;
    line += "\n";
    if (::send(to, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) return false;
    char answer[2] = {};
    for (size_t got = 0; got < 2;) {
        const ssize_t n = ::read(from, answer + got, 2 - got);
        if (n <= 0) return false;
        got += size_t(n);
    }
    return answer[0] == '0';
}

// Packs the sources of folder src into the container out; the container's
// bytes, or "" when the packer refuses them.
inline std::string Pack(const std::string& src, const std::string& out) {
    namespace fs = std::filesystem;
    if (!Run("/", {"script", fs::absolute(src).string(), fs::absolute(out).string()})) return {};
    std::ifstream in(out, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

}  // namespace script_packer
