#pragma once
// The tables under tests/data/ that the engine's tests and the author's tools
// (tools/test_tools.py) both read: one row a line, fields between tabs, a
// line starting with '#' a comment. A field writes \e for the empty text,
// \xNN for a byte, \r \n \t, and \ before any other character for itself.

#include <string>
#include <vector>

inline std::vector<std::string> SharedTableFields(const std::string& line) {
    std::vector<std::string> fields;
    for (size_t from = 0;;) {
        const size_t tab = line.find('\t', from);
        fields.push_back(line.substr(from, tab - from));
        if (tab == std::string::npos) return fields;
        from = tab + 1;
    }
}

inline std::string SharedTableUnescaped(const std::string& field) {
    if (field == "\\e") return "";
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 >= field.size()) {
            out += field[i];
            continue;
        }
        const char k = field[++i];
        if (k == 'x' && i + 2 < field.size()) {
            out += char(std::stoi(field.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += k == 'r' ? '\r' : k == 'n' ? '\n' : k == 't' ? '\t' : k;
        }
    }
    return out;
}
