// Reading the daemon's log file in tests.
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace pbbtest {

inline std::vector<std::string> readLines(const std::string& file)
{
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Lines that contain every one of the given pieces.
inline std::vector<std::string> grepLines(const std::string& file, const std::vector<std::string>& pieces)
{
    std::vector<std::string> out;
    for (auto& line : readLines(file)) {
        bool all = true;
        for (auto& p : pieces) all = all && line.find(p) != std::string::npos;
        if (all) out.push_back(line);
    }
    return out;
}

}  // namespace pbbtest
