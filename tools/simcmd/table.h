// Plain text tables: a header row, columns padded to their widest cell.
#pragma once

#include <string>
#include <vector>

namespace simcmd {

class Table {
public:
    explicit Table(std::vector<std::string> header) : header_(std::move(header)) {}
    void row(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
    size_t size() const { return rows_.size(); }
    // The table, or "(none)" under the header when it has no row.
    std::string str() const;

private:
    std::vector<std::string> header_;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace simcmd
