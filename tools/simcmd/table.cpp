#include "tools/simcmd/table.h"

#include <algorithm>

namespace simcmd {

std::string Table::str() const
{
    std::vector<size_t> width(header_.size());
    for (size_t i = 0; i < header_.size(); ++i) width[i] = header_[i].size();
    for (const auto& r : rows_)
        for (size_t i = 0; i < r.size() && i < width.size(); ++i) width[i] = std::max(width[i], r[i].size());
    auto line = [&](const std::vector<std::string>& cells) {
        std::string s;
        for (size_t i = 0; i < width.size(); ++i) {
            std::string cell = i < cells.size() ? cells[i] : "";
            if (i + 1 < width.size()) cell.resize(width[i], ' ');
            s += cell;
            if (i + 1 < width.size()) s += "  ";
        }
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s + "\n";
    };
    std::string out = line(header_);
    for (const auto& r : rows_) out += line(r);
    if (rows_.empty()) out += "(none)\n";
    return out;
}

}  // namespace simcmd
