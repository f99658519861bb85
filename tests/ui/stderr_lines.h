// The lines of a run's stderr that hold a text.
#pragma once

#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> LinesWith(const std::string& text, const std::string& part) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.find(part) != std::string::npos) out.push_back(line);
    return out;
}
