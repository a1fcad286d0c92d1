// Line-card reports: ageing, cancelled ageing, no hardware resource, and
// raw TLVs.
#include <stdexcept>

#include "platform/model/line_report.h"
#include "tools/simcmd/command.h"

namespace simcmd {

namespace {

using Words = std::vector<std::string>;


// A VSI in a report: a known name, or any index (the line cards may report
// one the switch no longer has).
uint32_t reportVsi(const sim::SwitchModel& m, const std::string& w)
{
    if (const sim::Vsi* v = m.findVsiByName(w)) return v->index;
    return static_cast<uint32_t>(parseUnsigned(w, "VSI (name or index)", 0, 0xFFFFFFFF));
}

// "<bmac>/<bvlan>"
std::pair<sim::Mac, uint16_t> macVlan(const std::string& w, const std::string& what)
{
    size_t slash = w.rfind('/');
    if (slash == std::string::npos) throw BadInput(what + " " + q(w) + " is not <bmac>/<bvlan>");
    sim::Mac mac = parseMacArg(w.substr(0, slash), what + " " + q(w) + ": B-MAC");
    auto vlan = static_cast<uint16_t>(parseUnsigned(w.substr(slash + 1), what + " " + q(w) + ": B-VLAN", 0, 4095));
    return {mac, vlan};
}

Outcome send(Context& c, const std::vector<sim::ReportTlv>& tlvs, const std::string& text)
{
    try {
        (void)sim::encodeReport(tlvs);
    } catch (const std::length_error&) {
        throw BadInput("the report is longer than one message of " + std::to_string(L2VPN_AGE_MSG_MAX) +
                       " bytes: send fewer entries at a time");
    }
    c.model.sendReport(tlvs);
    return done(c, text);
}

Outcome ageReport(Context& c, const Words& w, uint32_t type)
{
    std::string verb = type == L2VPN_AGE_TYPE_AGED ? "aged" : "cancelled_aged";
    Args a(w, 2, "report " + verb + " <slot> <vsi> <isid> <bmac>/<bvlan>...");
    a.expect(4, SIZE_MAX);
    sim::AgeReport r;
    r.ageType = type;
    r.slot = static_cast<uint16_t>(parseUnsigned(a[0], "slot", 0, 0xFFFF));
    r.vsi = reportVsi(c.model, a[1]);
    r.isid = static_cast<uint32_t>(parseUnsigned(a[2], "I-SID", 0, 0xFFFFFF));
    for (size_t i = 3; i < a.count(); ++i) r.entries.push_back(macVlan(a[i], "entry"));
    return send(c, {r}, verb + " report of " + std::to_string(r.entries.size()) + " entries from slot " + a[0]);
}

Outcome noHwReport(Context& c, const Words& w)
{
    Args a(w, 2, "report nohw <slot>/<vsi>/<isid>/<bmac>/<bvlan>...");
    a.expect(1, SIZE_MAX);
    sim::NoHardResReport r;
    for (const std::string& e : a.positionals()) {
        std::vector<std::string> parts;
        size_t start = 0;
        for (size_t slash; (slash = e.find('/', start)) != std::string::npos; start = slash + 1)
            parts.push_back(e.substr(start, slash - start));
        parts.push_back(e.substr(start));
        if (parts.size() != 5) throw BadInput("entry " + q(e) + " is not <slot>/<vsi>/<isid>/<bmac>/<bvlan>");
        std::string what = "entry " + q(e) + ": ";
        sim::NoHardResEntry n;
        n.slot = static_cast<uint16_t>(parseUnsigned(parts[0], what + "slot", 0, 0xFFFF));
        n.vsi = reportVsi(c.model, parts[1]);
        n.isid = static_cast<uint32_t>(parseUnsigned(parts[2], what + "I-SID", 0, 0xFFFFFF));
        n.bmac = parseMacArg(parts[3], what + "B-MAC");
        n.bvlan = static_cast<uint16_t>(parseUnsigned(parts[4], what + "B-VLAN", 0, 4095));
        r.entries.push_back(n);
    }
    return send(c, {r}, "no-hardware-resource report of " + std::to_string(r.entries.size()) + " entries");
}

Outcome rawReport(Context& c, const Words& w)
{
    Args a(w, 2, "report raw <tlv type> <value as hex>");
    a.expect(2);
    sim::RawTlv t;
    t.type = static_cast<uint16_t>(parseUnsigned(a[0], "TLV type", 0, 0xFFFF));
    t.value = parseHex(a[1], "TLV value");
    return send(c, {t}, "raw report TLV " + a[0] + " of " + std::to_string(t.value.size()) + " bytes");
}

}  // namespace

std::vector<CommandSpec> reportCommands()
{
    return {
        {"report", "aged", "report aged <slot> <vsi> <isid> <bmac>/<bvlan>...",
         "one line-card message: the slot aged these unicast entries",
         [](Context& c, const Words& w) { return ageReport(c, w, L2VPN_AGE_TYPE_AGED); }},
        {"report", "cancelled_aged", "report cancelled_aged <slot> <vsi> <isid> <bmac>/<bvlan>...",
         "one line-card message: the slot saw traffic again, ageing cancelled",
         [](Context& c, const Words& w) { return ageReport(c, w, L2VPN_AGE_TYPE_CANCELLED); }},
        {"report", "nohw", "report nohw <slot>/<vsi>/<isid>/<bmac>/<bvlan>...",
         "one line-card message: these entries found no hardware resource", noHwReport},
        {"report", "raw", "report raw <tlv type> <value as hex>",
         "one line-card message holding one TLV as given (for malformed reports)", rawReport},
    };
}

}  // namespace simcmd
