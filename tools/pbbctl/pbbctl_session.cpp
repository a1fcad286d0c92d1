#include "tools/pbbctl/pbbctl_session.h"

#include <algorithm>
#include <cstdio>

namespace pbbctl {

Session::Session() : names_(global().timeoutMs()) {}

MgmtClient& Session::daemon()
{
    if (!daemon_) daemon_ = std::make_unique<MgmtClient>(global().timeoutMs());
    return *daemon_;
}

VsiName Session::vsiFor(const std::string& word, std::optional<uint32_t> isid)
{
    if (!isid) return names_.vsi(word);
    try {
        VsiName v = names_.vsi(word);
        v.isid = *isid;
        return v;
    } catch (const NoAnswer&) {
        if (!proto::nameFits(word)) throw Usage("VSI name " + word + " is longer than 31 characters");
        return {0, word, *isid};
    }
}

void printDone(const Session& s, const std::string& text, nlohmann::json extra)
{
    if (!s.json()) {
        std::printf("%s\n", text.c_str());
        return;
    }
    nlohmann::ordered_json j{{"ok", true}, {"code", 0}, {"codeHex", codeHex(0)}, {"message", text}};
    for (auto& [k, v] : extra.items()) j[k] = v;
    std::printf("%s\n", j.dump().c_str());
}

void printShown(const Session& s, const std::string& text, const nlohmann::json& j)
{
    if (s.json())
        std::printf("%s\n", j.dump(2).c_str());
    else
        std::fputs(text.c_str(), stdout);
}

void refused(const Session& s, uint32_t code, const std::string& message)
{
    if (s.json()) {
        nlohmann::ordered_json j{{"ok", false}, {"code", code}, {"codeHex", codeHex(code)}, {"error", message}};
        std::printf("%s\n", j.dump().c_str());
    }
    std::fprintf(stderr, "pbbctl: %s\n", message.c_str());
    throw ExitStatus{1};
}

std::string table(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows)
{
    std::vector<size_t> width(header.size());
    for (size_t i = 0; i < header.size(); ++i) width[i] = header[i].size();
    for (const auto& r : rows)
        for (size_t i = 0; i < r.size() && i < width.size(); ++i) width[i] = std::max(width[i], r[i].size());
    auto line = [&](const std::vector<std::string>& cells) {
        std::string out;
        for (size_t i = 0; i < cells.size(); ++i) {
            out += cells[i];
            if (i + 1 < cells.size()) out += std::string(width[i] - cells[i].size() + 2, ' ');
        }
        return out + "\n";
    };
    std::string out = line(header);
    for (const auto& r : rows) out += line(r);
    if (rows.empty()) out += "(none)\n";
    return out;
}

uint32_t parseNumber(const std::string& word, const std::string& what, uint32_t min, uint32_t max)
{
    unsigned long long v = 0;
    bool ok = !word.empty() && word.size() <= 10 && word.find_first_not_of("0123456789") == std::string::npos;
    if (ok) v = std::stoull(word);
    if (!ok || v < min || v > max)
        throw Usage(what + " '" + word + "' is not a number from " + std::to_string(min) + " to " +
                    std::to_string(max));
    return static_cast<uint32_t>(v);
}

std::set<uint16_t> parseVlanList(const std::string& text)
{
    std::set<uint16_t> out;
    size_t at = 0;
    while (at <= text.size()) {
        size_t comma = text.find(',', at);
        std::string part = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        size_t dash = part.find('-');
        uint32_t lo = parseNumber(part.substr(0, dash), "B-VLAN", 1, proto::kVlanMax);
        uint32_t hi = dash == std::string::npos ? lo : parseNumber(part.substr(dash + 1), "B-VLAN", 1, proto::kVlanMax);
        if (hi < lo) throw Usage("B-VLAN range '" + part + "' runs backwards");
        for (uint32_t v = lo; v <= hi; ++v) out.insert(static_cast<uint16_t>(v));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return out;
}

}  // namespace pbbctl
