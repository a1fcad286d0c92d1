#include "tools/pbbctl/pbbctl_names.h"

#include <nlohmann/json.hpp>

#include "platform/transport/control.h"
#include "platform/transport/paths.h"
#include "tools/pbbctl/pbbctl.h"
#include "tools/pbbctl/pbbctl_client.h"

namespace pbbctl {

namespace {

std::optional<uint32_t> number(const std::string& word)
{
    if (word.empty() || word.size() > 10 || word.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    unsigned long long v = std::stoull(word);
    if (v > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<uint32_t>(v);
}

nlohmann::json show(plat::transport::ControlClient& c, const std::string& what, int timeoutMs)
{
    std::string error;
    auto reply = c.call({{"show", what}, true, ""}, timeoutMs, &error);
    if (!reply) throw NoAnswer("cannot ask the switch for its " + what + ": " + error);
    if (reply->status != 0) throw NoAnswer("the switch did not show its " + what + ": " + reply->err);
    return nlohmann::json::parse(reply->out);
}

}  // namespace

void SwitchNames::load()
{
    if (loaded_) return;
    loaded_ = true;
    try {
        plat::transport::ControlClient c;
        std::string error;
        if (!c.connect(plat::transport::controlSocketPath(), &error, timeoutMs_)) throw NoAnswer(error);
        const nlohmann::json ifs = show(c, "interfaces", timeoutMs_);
        for (const auto& i : ifs.at("interfaces"))
            ifs_.push_back({i.at("ifIndex").get<uint32_t>(), i.at("name").get<std::string>()});
        const nlohmann::json vsis = show(c, "vsis", timeoutMs_);
        for (const auto& v : vsis.at("vsis"))
            vsis_.push_back({v.at("index").get<uint32_t>(), v.at("name").get<std::string>(), v.at("isid").get<uint32_t>()});
    } catch (const NoAnswer& e) {
        error_ = e.what();
    } catch (const nlohmann::json::exception& e) {
        error_ = std::string("the switch's answer cannot be read: ") + e.what();
    }
}

const std::vector<IfName>& SwitchNames::interfaces()
{
    load();
    if (error_) throw NoAnswer("cannot resolve interface names: " + *error_);
    return ifs_;
}

IfName SwitchNames::interface(const std::string& word)
{
    auto n = number(word);
    load();
    if (error_) {
        // Without the switch an ifIndex is taken as it is.
        if (n) return {*n, word};
        throw NoAnswer("cannot resolve interface " + word + ": " + *error_);
    }
    for (const auto& i : ifs_)
        if (i.name == word || (n && i.ifIndex == *n)) return i;
    throw Usage("no interface named " + word + " on the switch");
}

VsiName SwitchNames::vsi(const std::string& word)
{
    load();
    if (error_) throw NoAnswer("cannot resolve VSI " + word + ": " + *error_);
    for (const auto& v : vsis_)
        if (v.name == word) return v;
    if (auto n = number(word))
        for (const auto& v : vsis_)
            if (v.index == *n) return v;
    throw Usage("no VSI named " + word);
}

std::string SwitchNames::ifLabel(uint32_t ifIndex)
{
    load();
    for (const auto& i : ifs_)
        if (i.ifIndex == ifIndex) return i.name;
    return std::to_string(ifIndex);
}

}  // namespace pbbctl
