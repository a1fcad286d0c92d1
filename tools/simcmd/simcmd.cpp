#include "tools/simcmd/simcmd.h"

#include <stdexcept>

namespace simcmd {

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> words;
    std::string cur;
    bool inWord = false;
    char quote = 0;
    for (char c : line) {
        if (quote) {
            if (c == quote) quote = 0;
            else cur += c;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == '#') {
            break;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord) words.push_back(std::move(cur));
            cur.clear();
            inWord = false;
        } else {
            cur += c;
            inWord = true;
        }
    }
    if (quote) throw std::invalid_argument(std::string("unterminated quote ") + quote);
    if (inWord) words.push_back(std::move(cur));
    return words;
}

Outcome run(sim::SwitchModel&, Host*, const std::vector<std::string>& words, bool)
{
    if (words.empty()) return {};
    return {2, "", "unknown command '" + words[0] + "'"};
}

Outcome loadTopology(sim::SwitchModel&, const std::string&, const std::string& sourceName)
{
    return {1, "", sourceName + ": topology loading is not built yet"};
}

std::string defaultTopology() { return ""; }

}  // namespace simcmd
