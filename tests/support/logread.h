// Reading the daemon's log file and other files in tests.
#pragma once

#include <fstream>
#include <sstream>
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

// The whole file as it is; empty when it cannot be read.
inline std::string readText(const std::string& file)
{
    std::ifstream in(file);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
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
