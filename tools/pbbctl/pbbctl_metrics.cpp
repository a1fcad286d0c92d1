#include "tools/pbbctl/pbbctl_metrics.h"

namespace pbbctl::metrics {

namespace {

std::string escaped(std::string_view text, bool quote)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' && quote)
            out += "\\\"";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string escapeLabel(std::string_view value) { return escaped(value, true); }
std::string escapeHelp(std::string_view text) { return escaped(text, false); }

std::string render(const std::vector<Family>& families)
{
    std::string out;
    for (const auto& f : families) {
        if (f.samples.empty()) continue;
        out += "# HELP " + f.name + " " + escapeHelp(f.help) + "\n";
        out += "# TYPE " + f.name + " gauge\n";
        for (const auto& s : f.samples) {
            out += f.name;
            if (!s.labels.empty()) {
                out += "{";
                for (size_t i = 0; i < s.labels.size(); ++i)
                    out += (i ? "," : "") + s.labels[i].first + "=\"" + escapeLabel(s.labels[i].second) + "\"";
                out += "}";
            }
            out += " " + std::to_string(s.value) + "\n";
        }
    }
    return out;
}

}  // namespace pbbctl::metrics
