#include "tools/pbb-sim/records.h"

#include <algorithm>

#include "platform/l2vpn.h"
#include "platform/model/line_report.h"
#include "platform/result.h"

namespace pbbsim {

using plat::wire::Msg;
using plat::wire::Writer;

namespace {

// Entries per snapshot message: a few hundred kilobytes each.
constexpr size_t kPiece = 8192;
// No-hardware-resource entries per report: one report fits 4096 bytes.
constexpr size_t kReportEntries = (L2VPN_AGE_MSG_MAX - 64) / sizeof(L2VPN_NO_HARD_RES_ENTRY_S);

template <class Map>
void pieces(const Map& table, Msg type, std::vector<Message>& out)
{
    auto it = table.begin();
    while (it != table.end()) {
        Writer body;
        uint32_t n = 0;
        for (; it != table.end() && n < kPiece; ++it, ++n) plat::wire::put(body, it->second);
        Writer w;
        w.u32(n).raw(body.bytes().data(), body.bytes().size());
        out.emplace_back(type, w.take());
    }
}

struct Record {
    uint32_t given;  // the library's answer
    sim::MinMRequest req;
};

// The slots that would hold a unicast entry: present, working normally and
// able to forward MAC-in-MAC. With none, the lowest slot of the range, so
// that the report still names the entry.
std::vector<uint16_t> holdingSlots(const sim::SwitchModel& model)
{
    std::vector<uint16_t> out;
    for (const auto& [number, s] : model.slots())
        if (s.present && s.normal && s.minm) out.push_back(number);
    if (out.empty()) out.push_back(model.slotRange().min);
    return out;
}

void reportNoResource(sim::SwitchModel& model, Stats& stats, const sim::MinMRequest& req)
{
    const L2VPN_MINM_ENTRY_S& e = req.entry;
    sim::NoHardResEntry entry{.bvlan = static_cast<uint16_t>(e.uiBVlan), .vsi = e.uiVsiIndex, .isid = e.uiISid};
    std::copy(std::begin(e.aucBMac), std::end(e.aucBMac), entry.bmac.begin());
    sim::NoHardResReport r;
    for (uint16_t slot : holdingSlots(model)) {
        entry.slot = slot;
        r.entries.push_back(entry);
        if (r.entries.size() == kReportEntries) {
            model.sendReport({r});
            r.entries.clear();
        }
    }
    if (!r.entries.empty()) model.sendReport({r});
    ++stats.recordsReported;
}

std::string describe(const char* what, uint32_t given, uint32_t rc)
{
    return std::string(what) + ": the library answered " + std::to_string(given) + ", the switch " +
           std::to_string(rc);
}

}  // namespace

std::vector<Message> fibSnapshot(const sim::Fib& fib)
{
    std::vector<Message> out;
    pieces(fib.working().uc, Msg::FibUnicast, out);
    pieces(fib.working().mc, Msg::FibMulticast, out);
    Writer w;
    w.boolean(fib.windowOpen()).u32(static_cast<uint32_t>(fib.staleUnicast().size()));
    for (const auto& [vsi, bmac] : fib.staleUnicast()) w.u32(vsi).mac(bmac);
    std::vector<uint32_t> staleMc(fib.staleMulticast().begin(), fib.staleMulticast().end());
    w.list32(staleMc);
    w.boolean(fib.chunkVsi().has_value()).u32(fib.chunkVsi().value_or(0));
    out.emplace_back(Msg::FibMarks, w.take());
    return out;
}

std::string applyRecords(sim::SwitchModel& model, Stats& stats, plat::wire::Reader& r)
{
    std::vector<Record> records;
    for (uint32_t n = r.u32(); n != 0; --n) {
        uint32_t given = r.u32();
        records.push_back(Record{given, plat::wire::getMinMRequest(r)});
    }
    bool flush = r.boolean();
    uint32_t flushGiven = r.u32();
    r.end();

    std::string first;
    auto disagree = [&](const std::string& what) {
        ++stats.recordsMismatched;
        if (first.empty()) first = what;
    };
    for (const Record& rec : records) {
        uint32_t rc = model.program(rec.req);
        ++stats.records;
        if (rc == rec.given) continue;
        disagree(describe(rec.req.op == L2VPN_MINM_DEL_UC || rec.req.op == L2VPN_MINM_DEL_MC ? "L2VPN_DelMinMEntry"
                                                                                              : "L2VPN_AddMinMEntry",
                          rec.given, rc));
        if (rec.given == PLAT_OK && rec.req.op == L2VPN_MINM_ADD_UC) reportNoResource(model, stats, rec.req);
    }
    if (flush) {
        uint32_t rc = model.flush();
        if (rc != flushGiven) disagree(describe("L2VPN_FlushPwEntry", flushGiven, rc));
    }
    return first;
}

}  // namespace pbbsim
