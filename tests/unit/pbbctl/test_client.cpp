// pbbctl's client against a stand-in server on the management port: the
// walks follow the daemon's positions and end codes, requests go out one
// at a time, and a silent or absent daemon ends in NoAnswer.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <thread>

#include "platform/lipc.h"
#include "support/tempdir.h"
#include "tools/pbbctl_client.h"

using namespace pbbctl;
using namespace pbbctl::proto;

namespace {

// Answers requests on port 1169 with a handler, one connection, in a thread.
// The handler gets each request and returns the replies to write.
class FakeServer {
public:
    using Handler = std::function<std::vector<Bytes>(const Tlv&)>;

    explicit FakeServer(Handler h) : handler_(std::move(h))
    {
        listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::string path = plat::lipcPath(MgmtClient::kPort);
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 4) != 0) std::abort();
        thread_ = std::thread([this] { serve(); });
    }
    // The test's client has connected and closed its side by now.
    ~FakeServer()
    {
        thread_.join();
        ::close(listen_);
    }

    std::vector<Tlv> seen;    // every request, in order
    size_t maxPerRead = 0;    // the most requests one read carried

private:
    void serve()
    {
        int conn = ::accept(listen_, nullptr, nullptr);
        if (conn < 0) return;
        uint8_t buf[4096];
        ssize_t n;
        while ((n = ::recv(conn, buf, sizeof buf, 0)) > 0) {
            // Like the daemon, each read is decoded on its own.
            TlvReader r;
            r.feed(buf, static_cast<size_t>(n));
            std::vector<Tlv> got;
            while (auto t = r.next()) got.push_back(*t);
            maxPerRead = std::max(maxPerRead, got.size());
            seen.insert(seen.end(), got.begin(), got.end());
            for (const Tlv& t : got)
                for (const Bytes& reply : handler_(t)) ::send(conn, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
        ::close(conn);
    }

    Handler handler_;
    int listen_ = -1;
    std::thread thread_;
};

Bytes result(uint32_t code) { return tlv(kResultReply, indexValue(code)); }

Mac mac(uint32_t n) { return {0x00, 0xbb, 0, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)}; }

class ClientTest : public ::testing::Test {
protected:
    pbbtest::TempRunDir run;
};

// A daemon holding a table of learned entries of one VSI, answering as
// the daemon does: the VSI's identity must match, type 11 continues after
// the given B-MAC.
TEST_F(ClientTest, LearnedWalkFollowsTheLastBmacUntilNoMore)
{
    const UcMsg vsi{3, 10030, 110, {}, 0, "vsi-blue"};
    std::map<Mac, uint32_t> table;
    for (uint32_t i = 0; i < 300; ++i) table[mac(i * 37 % 1000)] = 1 + i % 3;
    FakeServer server([&](const Tlv& t) -> std::vector<Bytes> {
        auto req = parseUc(t.value.data(), t.value.size());
        if (!req || req->vsiIndex != vsi.vsiIndex || req->isid != vsi.isid || req->bvlan != vsi.bvlan ||
            req->vsiName != vsi.vsiName)
            return {result(kFailed)};
        auto it = t.type == kGetFirstUc ? table.begin() : table.upper_bound(req->bmac);
        if (it == table.end()) return {result(t.type == kGetFirstUc ? kFailed : kNoMoreUc)};
        UcMsg e = vsi;
        e.bmac = it->first;
        e.ifIndex = it->second;
        return {tlv(kUcReply, ucMsg(e))};
    });
    MgmtClient c(5000);
    uint32_t first = 1;
    auto got = c.learnedWalk(vsi, &first);
    EXPECT_EQ(first, kOk);
    ASSERT_EQ(got.size(), table.size());
    auto it = table.begin();
    for (const auto& e : got) {
        EXPECT_EQ(e.bmac, it->first);
        EXPECT_EQ(e.ifIndex, it->second);
        ++it;
    }
    // One type 10, then one type 11 per entry; each read held one request.
    ASSERT_EQ(server.seen.size(), table.size() + 1);
    EXPECT_EQ(server.seen[0].type, kGetFirstUc);
    EXPECT_EQ(server.seen.back().type, kGetNextUc);
    EXPECT_EQ(parseUc(server.seen.back().value.data(), 52)->bmac, table.rbegin()->first);
    EXPECT_EQ(server.maxPerRead, 1u);

    // Another identity: the daemon refuses the first step, nothing is listed.
    UcMsg other = vsi;
    other.bvlan = 111;
    EXPECT_TRUE(c.learnedWalk(other, &first).empty());
    EXPECT_EQ(first, kFailed);
}

// Two VSIs with 1000 and 512 ports: the answers' pieces are put together,
// and the walk continues from the last VSI index until the failure.
TEST_F(ClientTest, MulticastWalkJoinsPiecesAndFollowsTheVsiIndex)
{
    std::map<uint32_t, McMsg> entries;
    for (uint32_t vsi : {2u, 7u}) {
        McMsg m{vsi, 10000 + vsi, 100, {1, 0x1e, 0x83, 0, 0, static_cast<uint8_t>(vsi)}, "vsi-" + std::to_string(vsi), {}};
        for (uint32_t p = 0; p < (vsi == 2 ? 1000u : 512u); ++p) m.ports.push_back(p + 1);
        entries[vsi] = m;
    }
    FakeServer server([&](const Tlv& t) -> std::vector<Bytes> {
        auto it = entries.begin();
        if (t.type == kGetNextMc) it = entries.upper_bound(*word(t.value.data(), t.value.size()));
        if (it == entries.end()) return {result(kFailed)};
        std::vector<Bytes> out;
        const McMsg& m = it->second;
        for (size_t at = 0; at < m.ports.size(); at += kMcPortsMax) {
            McMsg part = m;
            part.ports.assign(m.ports.begin() + static_cast<long>(at),
                              m.ports.begin() + static_cast<long>(std::min(m.ports.size(), at + kMcPortsMax)));
            out.push_back(tlv(kMcReply, mcMsg(part)));
        }
        out.push_back(result(kMcEnd));
        return out;
    });
    MgmtClient c(5000);
    auto all = c.multicastWalk();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0], entries[2]);
    EXPECT_EQ(all[1], entries[7]);
    ASSERT_EQ(server.seen.size(), 3u);
    EXPECT_EQ(server.seen[0].type, kGetFirstMc);
    EXPECT_EQ(server.seen[1].type, kGetNextMc);
    EXPECT_EQ(*word(server.seen[1].value.data(), 4), 2u);
    EXPECT_EQ(*word(server.seen[2].value.data(), 4), 7u);
}

TEST_F(ClientTest, SilentDaemonTimesOutAndAbsentOneIsNotRunning)
{
    EXPECT_THROW(MgmtClient(1000), NoAnswer);

    FakeServer server([](const Tlv&) { return std::vector<Bytes>{}; });
    MgmtClient c(200);
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(c.debugWord(), NoAnswer);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(190));
    EXPECT_LT(took, std::chrono::seconds(3));
}

}  // namespace
