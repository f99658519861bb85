// A scratch run folder for targets whose engine code reads and writes
// relative paths ("data/...", "user/..."). Called from LLVMFuzzerInitialize,
// before libFuzzer reads its arguments: every path the arguments name (corpus
// folders and files, artifact prefix, dictionary, ...) is made absolute, crash
// files are sent to the folder the run started in, and only then does the
// process move into a fresh folder under the temporary directory, which is
// removed again at exit.
// With -fork or -jobs, libFuzzer starts its children in the parent's scratch
// folder: the folder the first process started in is handed down through the
// environment (Start()), so that every child finds what the parent found.
// A process that ends without running exit handlers (a crash, a timeout, a
// killed child) leaves its folder behind; the next Enter of the same tag
// removes the folders whose process is gone.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzz_scratch {

inline std::string& Folder() {
    static std::string folder;
    return folder;
}

inline void RemoveFolder() {
    std::error_code ec;
    if (!Folder().empty()) std::filesystem::remove_all(Folder(), ec);
}

// The folder the first process of the run started in.
inline std::string Start() {
    const char* start = std::getenv("VN_FUZZ_START");
    return start && *start ? start : std::filesystem::current_path().string();
}

// Removes TAG_<pid>_* folders of processes that no longer run.
inline void RemoveStale(const std::filesystem::path& temp, const std::string& tag) {
    std::error_code ec;
    const std::string prefix = tag + "_";
    for (const auto& entry : std::filesystem::directory_iterator(temp, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        // Only names this helper makes: TAG_<pid>_XXXXXX.
        const char* digits = name.c_str() + prefix.size();
        char* end = nullptr;
        const long pid = std::strtol(digits, &end, 10);
        if (end == digits || *end != '_' || pid <= 0) continue;
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH) std::filesystem::remove_all(entry.path(), ec);
    }
}

inline std::string Absolute(const std::string& cwd, const std::string& path) {
    return path.empty() || path[0] == '/' ? path : cwd + "/" + path;
}

// Makes the path arguments absolute, adds -artifact_prefix when none is given,
// and enters a new scratch folder (its absolute path is Folder()).
inline void Enter(int* argc, char*** argv, const char* tag) {
    std::string cwd = std::filesystem::current_path().string();
    const std::string start = Start();
    ::setenv("VN_FUZZ_START", start.c_str(), 0);
    static const char* const kPathFlags[] = {"-artifact_prefix=", "-exact_artifact_path=", "-dict=",
                                             "-merge_control_file=", "-features_dir=", "-data_flow_trace=",
                                             "-seed_inputs="};
    static std::vector<std::string> kept;
    kept.clear();
    bool prefix = false;
    for (int i = 0; argc && argv && i < *argc; ++i) {
        std::string a = (*argv)[i];
        if (i > 0 && !a.empty() && a[0] != '-') {
            a = Absolute(cwd, a);
        } else {
            for (const char* flag : kPathFlags) {
                size_t n = std::strlen(flag);
                if (a.compare(0, n, flag) != 0) continue;
                if (std::strcmp(flag, "-artifact_prefix=") == 0) prefix = true;
                if (std::strcmp(flag, "-seed_inputs=") != 0) {
                    a = std::string(flag) + Absolute(cwd, a.substr(n));
                    continue;
                }
                // A comma-separated list, or "@file" naming a file of them.
                std::string list = a.substr(n), out;
                if (!list.empty() && list[0] == '@') {
                    out = "@" + Absolute(cwd, list.substr(1));
                } else {
                    for (size_t at = 0; at <= list.size();) {
                        size_t end = list.find(',', at);
                        if (end == std::string::npos) end = list.size();
                        out += (out.empty() ? "" : ",") + Absolute(cwd, list.substr(at, end - at));
                        at = end + 1;
                    }
                }
                a = std::string(flag) + out;
            }
        }
        kept.push_back(a);
    }
    if (!prefix) kept.push_back("-artifact_prefix=" + start + "/");
    static std::vector<char*> args;
    args.clear();
    for (std::string& a : kept) args.push_back(a.data());
    args.push_back(nullptr);
    if (argc && argv) {
        *argc = int(kept.size());
        *argv = args.data();
    }

    const std::filesystem::path temp = std::filesystem::temp_directory_path();
    RemoveStale(temp, tag);
    std::string tmpl = (temp / (std::string(tag) + "_" + std::to_string(::getpid()) + "_XXXXXX")).string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    Folder() = tmpl;
    std::atexit(RemoveFolder);
    std::filesystem::current_path(Folder());
}

}  // namespace fuzz_scratch
