// Test movies made with Debian's ffmpeg command-line tool from its test
// sources (a colour test pattern and a sine tone), in a temporary folder that
// lives as long as the test process.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

// An ffmpeg program on the PATH (an empty entry is the current folder),
// looked for once a process: starting it would cost as much as a movie.
inline bool HaveFfmpeg() {
    static const bool have = [] {
        const char* path = std::getenv("PATH");
        std::istringstream dirs(std::string(path ? path : "") + ":");
        for (std::string dir; std::getline(dirs, dir, ':');)
            if (::access(((dir.empty() ? "." : dir) + "/ffmpeg").c_str(), X_OK) == 0) return true;
        return false;
    }();
    return have;
}

// The folder is removed when the process ends.
struct MovieFolder {
    std::filesystem::path path;
    ~MovieFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

inline const std::filesystem::path& MovieDir() {
    static const MovieFolder dir{[] {
        std::filesystem::path d = std::filesystem::temp_directory_path() / ("vn_movies_" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }()};
    return dir.path;
}

// An AVI of `seconds` of the test pattern at size (e.g. "320x240") and 30
// pictures a second, with `video` codec arguments ("-c:v mjpeg -q:v 5") and a
// 48 kHz stereo 16-bit PCM tone unless `audio` is false. Empty on failure.
inline std::vector<uint8_t> MakeMovie(const std::string& name, const std::string& size, double seconds,
                                      const std::string& video, bool audio = true) {
    std::filesystem::path out = MovieDir() / name;
    if (!std::filesystem::exists(out)) {
        std::string d = std::to_string(seconds);
        std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=" + size + ":rate=30:duration=" + d;
        if (audio) cmd += " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=" + d;
        cmd += " " + video;
        cmd += audio ? " -c:a pcm_s16le -ac 2" : " -an";
        cmd += " '" + out.string() + "'";
        if (std::system(cmd.c_str()) != 0) return {};
    }
    std::ifstream in(out, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

#define REQUIRE_FFMPEG() \
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command-line tool is not installed"
