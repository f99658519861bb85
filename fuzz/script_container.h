// A script container as the scenario writer lays it out: the label index
// "00_info.bin" (a u32 count, then one 136-byte record per "*label" line:
// label[64], file[64], u64 offset of the '*') followed by the members, each
// named in a 72-byte directory entry (name[64], u32 size, u32 offset).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace fuzz_script {

inline std::string Container(const std::vector<std::pair<std::string, std::string>>& scripts) {
    std::string info(8, '\0');
    uint32_t labels = 0;
    for (const auto& [name, text] : scripts) {
        for (size_t at = 0; at < text.size(); ++at) {
            if (text[at] != '*' || (at > 0 && text[at - 1] != '\n')) continue;
            size_t end = text.find("\r\n", at);
            if (end == std::string::npos) end = text.size();
            std::string rec(136, '\0');
            std::memcpy(&rec[0], text.data() + at, std::min<size_t>(end - at, 63));
            std::memcpy(&rec[64], name.data(), std::min<size_t>(name.size(), 63));
            const uint64_t off = at;
            std::memcpy(&rec[128], &off, 8);
            info += rec;
            ++labels;
        }
    }
    std::memcpy(&info[0], &labels, 4);
    std::vector<std::pair<std::string, std::string>> members{{"00_info.bin", info}};
    members.insert(members.end(), scripts.begin(), scripts.end());
    std::string arc(8 + 72 * members.size(), '\0');
    const uint32_t count = uint32_t(members.size());
    std::memcpy(&arc[4], &count, 4);
    for (size_t i = 0; i < members.size(); ++i) {
        const uint32_t size = uint32_t(members[i].second.size()), offset = uint32_t(arc.size());
        std::memcpy(&arc[8 + 72 * i], members[i].first.data(), std::min<size_t>(members[i].first.size(), 63));
        std::memcpy(&arc[8 + 72 * i + 64], &size, 4);
        std::memcpy(&arc[8 + 72 * i + 68], &offset, 4);
        arc += members[i].second;
    }
    return arc;
}

}  // namespace fuzz_script
