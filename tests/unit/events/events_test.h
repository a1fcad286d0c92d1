// Topology-change and VLAN membership events over the in-process switch:
// the control-logic fixture (ports a, b and c carrying VLANs 10 and 20,
// tables, databases, L2VPN registration) plus the event loop and the
// timers, with the platform call log on.
#pragma once

#include "daemon/pbb_elipc.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_tmr.h"
#include "platform/stub/log_record.h"
#include "support/daemon_loop.h"
#include "unit/ctl/ctl_test.h"

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace evtest {

// A range of VLANs for a long list, named by its ends.
using Range = std::pair<uint16_t, uint16_t>;
inline auto byRange = [](const auto& info) {
    return "Vlans" + std::to_string(info.param.first) + "To" + std::to_string(info.param.second);
};

// VLANs first, first + 2, ... up to last.
inline std::vector<uint16_t> evenVlans(uint16_t first, uint16_t last)
{
    std::vector<uint16_t> out;
    for (uint32_t v = first; v <= last; v += 2) out.push_back(static_cast<uint16_t>(v));
    return out;
}
// The lines of text that ends in "\r\n".
inline std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> out;
    for (size_t from = 0, at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
        out.push_back(text.substr(from, at - from));
    return out;
}

// The pieces of one debug list of single VLANs, the first starting with
// head. Lines never reach 81 characters and are broken only when the next
// item would make them; a piece goes out as soon as it reaches 800
// characters; together the pieces hold every item once, in order.
inline void expectVlanPieces(const std::vector<std::string>& texts, const std::string& head,
                             const std::vector<uint16_t>& vlans)
{
    ASSERT_GE(texts.size(), 2u);
    std::vector<std::string> items;
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string lead = i == 0 ? head : "\r\n";  // later pieces follow a line break
        ASSERT_EQ(texts[i].substr(0, lead.size()), lead) << "piece " << i;
        const std::string piece = texts[i].substr(lead.size());
        ASSERT_EQ(piece.substr(piece.size() - 2), "\r\n") << "piece " << i;
        const auto lines = linesOf(piece);
        for (size_t l = 0; l < lines.size(); ++l) {
            const std::string& line = lines[l];
            EXPECT_LT(line.size(), 81u) << "piece " << i << " line " << l;
            ASSERT_FALSE(line.empty());
            std::stringstream in(line);
            for (std::string item; std::getline(in, item, ',');) items.push_back(item);
            if (l + 1 < lines.size()) {
                // The next line's first item would have made this one 81.
                const std::string next = lines[l + 1].substr(0, lines[l + 1].find(','));
                EXPECT_GE(line.size() + next.size() + 1, 81u) << "piece " << i << " line " << l;
            }
        }
        if (i + 1 == texts.size()) continue;
        // The text as gathered ended in the last item's comma, printed as
        // a line end; before that item (and the line end it may have
        // started with) it was below 800.
        const size_t gathered = texts[i].size() - (i == 0 ? 0 : 2) - 1;
        const size_t lastItem = items.back().size() + 1;  // with its comma
        const size_t breakBefore = lines.size() > 1 && lines.back().size() + 1 == lastItem ? 2 : 0;
        EXPECT_GE(gathered, 800u) << "piece " << i;
        EXPECT_LT(gathered - lastItem - breakBefore, 800u) << "piece " << i;
    }
    ASSERT_EQ(items.size(), vlans.size());
    for (size_t i = 0; i < vlans.size(); ++i) EXPECT_EQ(items[i], std::to_string(vlans[i]));
}

// Serves what the loop finds ready, as often as something is; the number
// of events served.
inline int serve() { return pbbtest::serveReady(); }

class Events : public ctltest::Ctl {
protected:
    void SetUp() override
    {
        Ctl::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(pbbtest::openDaemonLoop());
        ASSERT_EQ(PBB_tmr_Init(), PBB_OK);
        plat::testing::setRecording(true);
    }
    void TearDown() override
    {
        ExitModule();
        PBB_tmr_Exit();
        pbbtest::closeDaemonLoop();
        g_uiPbbDbgFlag = 0;
        Ctl::TearDown();
    }
    // The module under test lets go of its channel and timer.
    virtual void ExitModule() = 0;

    static void tick() { ASSERT_EQ(Timer_Tick_Announce(g_hTimerInstance), 0u); }

    // The debug text handed to the log service under the tag "EVENT", one
    // string per print call.
    static std::vector<std::string> eventTexts()
    {
        std::vector<std::string> out;
        for (const auto& c : plat::testing::callsNamed("vsyslog2")) {
            const auto* rec = std::any_cast<plat::LogRecord>(&c.payload);
            if (rec != nullptr && rec->tag == "EVENT") out.push_back(rec->text);
        }
        return out;
    }
};

}  // namespace evtest
