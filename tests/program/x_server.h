// A private X server for a test: Xvfb on a display number it picks itself,
// with one screen of the given size (and, when named, one of its extensions
// left out), ended with the object.
#pragma once

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace x_server {

class Server {
public:
    Server(int width, int height, const char* without = nullptr) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            error_ = "no pipe";
            return;
        }
        const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        // The write end goes to the server as descriptor `slot`, left open
        // across exec; its output goes nowhere.
        const int slot = fds[1] == 3 ? 4 : 3;
        const std::string slotText = std::to_string(slot);
        const char* argv[] = {"Xvfb", "-displayfd", slotText.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
                              "tcp", without ? "-extension" : nullptr, without, nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], slot);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (spawned != 0) {
            pid_ = -1;
            ::close(fds[0]);
            error_ = "Xvfb could not be run (is the xvfb package installed?)";
            return;
        }
        // The server writes its display number once it takes connections.
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (::poll(&p, 1, 15000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(fds[0]);
        if (number.empty()) {
            error_ = "Xvfb did not start";
            Stop();
            return;
        }
        name_ = ":" + number;
    }
    ~Server() { Stop(); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool Started() const { return !name_.empty(); }
    const std::string& Name() const { return name_; }
    const std::string& Error() const { return error_; }
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    std::string name_, error_;
};

}  // namespace x_server
