// The Prometheus text exposition format (version 0.0.4), as node_exporter's
// textfile collector reads it: for each metric family "# HELP" and "# TYPE"
// lines, then one sample per line, "name{label="value",...} value".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pbbctl::metrics {

using Labels = std::vector<std::pair<std::string, std::string>>;

struct Sample {
    Labels labels;
    uint64_t value = 0;
};

// A gauge and its samples; a family without samples is not written.
struct Family {
    std::string name;
    std::string help;
    std::vector<Sample> samples;
};

// A label value with backslash, double quote and line feed escaped.
std::string escapeLabel(std::string_view value);
// A HELP text with backslash and line feed escaped.
std::string escapeHelp(std::string_view text);
std::string render(const std::vector<Family>& families);

}  // namespace pbbctl::metrics
