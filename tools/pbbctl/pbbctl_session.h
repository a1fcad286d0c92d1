// What the daemon-facing pbbctl commands share: the connection to the
// daemon and the switch's names, made when first needed; output as a
// table or as JSON; result codes in an operator's words.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/pbbctl/pbbctl.h"
#include "tools/pbbctl/pbbctl_client.h"
#include "tools/pbbctl/pbbctl_names.h"

namespace pbbctl {

class Session {
public:
    Session();
    MgmtClient& daemon();
    SwitchNames& names() { return names_; }
    bool json() const { return global().json; }

    // A VSI's name and I-SID for a request: from the switch; an I-SID given
    // on the command line wins (and then an unreachable switch is no
    // obstacle for a VSI given by name).
    VsiName vsiFor(const std::string& word, std::optional<uint32_t> isid);

private:
    SwitchNames names_;
    std::unique_ptr<MgmtClient> daemon_;
};

using proto::codeHex;

// Prints a finished change: text for people, {"ok":true,"code":0,...} for programs.
void printDone(const Session& s, const std::string& text, nlohmann::json extra = nlohmann::json::object());
// Prints a show result.
void printShown(const Session& s, const std::string& text, const nlohmann::json& j);
// The daemon said no: the message on stderr (and {"ok":false,"code":..,
// "error":..} on stdout with --json), exit status 1.
[[noreturn]] void refused(const Session& s, uint32_t code, const std::string& message);

// Plain text table: a header row, columns padded to their widest cell;
// "(none)" under the header when there is no row.
std::string table(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows);

// Numbers on the command line.
uint32_t parseNumber(const std::string& word, const std::string& what, uint32_t min, uint32_t max);
// "100,200-210": B-VLANs 1 to 4094.
std::set<uint16_t> parseVlanList(const std::string& text);

}  // namespace pbbctl
