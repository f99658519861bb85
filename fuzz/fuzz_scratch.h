// A scratch run folder for targets whose engine code reads and writes
// relative paths ("data/...", "user/..."). Called from LLVMFuzzerInitialize,
// before libFuzzer reads its arguments: every path the arguments name (corpus
// folders and files, artifact prefix, dictionary, ...) is made absolute, crash
// files are sent to the folder the run started in, and only then does the
// process move into a fresh folder under the temporary directory, which is
// removed again at exit.
#pragma once

#include <unistd.h>

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

inline std::string Absolute(const std::string& cwd, const std::string& path) {
    return path.empty() || path[0] == '/' ? path : cwd + "/" + path;
}

// Makes the path arguments absolute, adds -artifact_prefix when none is given,
// and enters a new scratch folder (its absolute path is Folder()).
inline void Enter(int* argc, char*** argv, const char* tag) {
    std::string cwd = std::filesystem::current_path().string();
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
    if (!prefix) kept.push_back("-artifact_prefix=" + cwd + "/");
    static std::vector<char*> args;
    args.clear();
    for (std::string& a : kept) args.push_back(a.data());
    args.push_back(nullptr);
    if (argc && argv) {
        *argc = int(kept.size());
        *argv = args.data();
    }

    std::string tmpl = (std::filesystem::temp_directory_path() / (std::string(tag) + "_XXXXXX")).string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    Folder() = tmpl;
    std::atexit(RemoveFolder);
    std::filesystem::current_path(Folder());
}

}  // namespace fuzz_scratch
