// Framing of the management connection: several requests per read, replies
// in order, unknown and malformed requests, reads that end inside a
// request, and failed sends.
#include "gs_test.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace gstest {
namespace {

struct Want {
    uint16_t type;
    uint32_t code;  // result code, or the debug word
};

struct FramingCase {
    const char* name;
    Bytes bytes;
    std::vector<Want> replies;
};

const Bytes kGetDebug = tlv(PBB_GS_REQ_GET_DEBUG, nullptr, 0);

// Unterminated copies of a request: its last name filled to the brim.
Bytes unterminated(Bytes request)
{
    std::fill(request.end() - PBB_VSI_NAME_LEN, request.end(), 'v');
    return request;
}

// Setting and clearing in one exchange each is pbbctl's client test's case.
TEST_F(Gs, EveryRequestOfAReadIsAnsweredInOrderAndMalformedOnesChangeNothing)
{
    vsi(1, "vsi-a", 1001);
    Bytes namesNotSent = uplinkReq(0, a, {"vsi-a"});
    namesNotSent[4 + 11] = 2;
    Bytes countBeyondAnyRead = uplinkReq(0, a, {"vsi-a"});
    countBeyondAnyRead[4 + 8] = 0x08;
    Bytes bytesAfterTheNames = unterminated(uplinkReq(1, a, {"vsi-a", "vsi-b"}));
    bytesAfterTheNames[4 + 11] = 1;  // one name counted: what follows it is not read
    // A request that the read's end cuts short is not served, nor is its
    // rest in the next read (served whole, it is: the handlers' tests).
    const Bytes set = setReq(PBB_GS_REQ_SET_BVLAN, 0, 20, 1001, "vsi-a");
    std::vector<FramingCase> cases = {
        {"set then get", pairReq(0, 2, 0x4) + kGetDebug, {{15, 0}, {6, 0x4}}},
        {"unknown type 12", tlv(12, nullptr, 0) + kGetDebug, {{15, 0}, {6, 0}}},
        {"type 6 ignores its value", tlv(6, "xyz", 3) + tlv(8, nullptr, 0), {{6, 0}, {15, PBB_ERR}}},
        {"trailing bytes that are no TLV", kGetDebug + Bytes{0, 6}, {{6, 0}}},
        {"uplink names counted, not sent", namesNotSent + kGetDebug, {{15, PBB_ERR}, {6, 0}}},
        {"uplink count beyond any read", countBeyondAnyRead + kGetDebug, {{15, PBB_ERR}, {6, 0}}},
        {"uplink bytes after the counted names", bytesAfterTheNames + kGetDebug, {{15, 0}, {6, 0}}},
        {"uplink name without its NUL", unterminated(uplinkReq(0, a, {"vsi-a", "vsi-b"})) + kGetDebug, {{15, PBB_ERR}, {6, 0}}},
        {"set name without its NUL", unterminated(set) + kGetDebug, {{15, PBB_ERR}, {6, 0}}},
        {"request cut by the read's end", kGetDebug + Bytes(set.begin(), set.begin() + 16), {{6, 0}}},
        {"the rest of it in the next read", Bytes(set.begin() + 16, set.end()), {}},
    };
    // Every type's value one byte short, all bits set.
    for (uint16_t t = 0; t < PBB_GS_REQ_NUM; ++t)
        if (uint32_t need = _pbb_gs_MinValueLen(t); need > 0)
            cases.push_back({"one byte short", tlv(t, Bytes(need - 1, 0xFF).data(), need - 1) + kGetDebug, {{15, PBB_ERR}, {6, 0}}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + std::string(" ") + std::to_string(c.bytes[1]));
        g_uiPbbDbgFlag = 0;
        auto got = serve(c.bytes);
        ASSERT_EQ(got.size(), c.replies.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].type, c.replies[i].type) << i;
            EXPECT_EQ(got[i].code(), c.replies[i].code) << i;
        }
    }
    EXPECT_EQ(PBB_ifcb_Get(a), nullptr);
    EXPECT_EQ(PBB_vsi_GetVsiByIndex(1)->usBVlan, 10u);
}

TEST_F(Gs, RefusalsAreLoggedOnlyUnderTheErrorSwitch)
{
    const std::pair<Bytes, const char*> refusals[] = {
        {tlv(13, nullptr, 0), "Failed to recognize an invalid TLV. Keep on processing the next one."},
        {tlv(PBB_GS_REQ_RESET_UCPW, nullptr, 0), "Refused a malformed request of type 5 with a value of 0 bytes."},
        {tlv(PBB_GS_REQ_RESET_UCPW, badSetReq()), "Refused a reset request whose B-VLAN set is malformed."},
    };
    for (uint32_t flag : {0u, PBB_DBG_ERROR}) {
        g_uiPbbDbgFlag = flag;
        for (const auto& [request, text] : refusals) {
            (void)serve(request);
            EXPECT_EQ(pbbtest::grepLines(dirs.logFile(), {"ERROR", text}).size(), flag != 0 ? 1u : 0u) << text;
        }
    }
}

TEST_F(Gs, RepliesThatFindNoRoomWaitForAClientThatReads)
{
    // A thousand requests in one read: their replies fill the connection,
    // and the client reads only once the daemon waits for room (its thread
    // asleep: the wait is the only place it sleeps while serving). The
    // daemon waits within its bound and every reply arrives.
    Bytes burst;
    for (int i = 0; i < 1000; ++i) burst = burst + kGetDebug;
    ASSERT_EQ(send(cli_, burst.data(), burst.size(), 0), ssize_t(burst.size()));
    const std::string serverStat = "/proc/self/task/" + std::to_string(gettid()) + "/stat";
    auto serverAsleep = [&] {
        std::string stat;
        std::getline(std::ifstream(serverStat), stat);
        return stat.find(") S ") != std::string::npos;
    };
    size_t got = 0;
    std::thread reader([&] {
        for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
             !serverAsleep() && std::chrono::steady_clock::now() < end;) {
        }
        char buf[4096];
        pollfd in{cli_, POLLIN, 0};
        while (got < 1000 * 8 && poll(&in, 1, 2000) == 1) got += size_t(std::max<ssize_t>(0, recv(cli_, buf, sizeof buf, 0)));
    });
    EXPECT_EQ(_pbb_gs_RecvMsg(srv_), PBB_OK);
    reader.join();
    EXPECT_EQ(got, 1000u * 8);
}

TEST_F(Gs, AFailedReplyEndsItsReadAndTheConnection)
{
    // The client stops reading: sends fail with EPIPE (and must not raise
    // SIGPIPE); the request after the failed reply is not served, and the
    // caller is told to close the connection.
    ASSERT_EQ(shutdown(cli_, SHUT_RD), 0);
    ASSERT_EQ(send(cli_, (kGetDebug + pairReq(0, 0, 0x2)).data(), 4 + 12, 0), 16);
    EXPECT_EQ(_pbb_gs_RecvMsg(srv_), PBB_ERR);
    EXPECT_EQ(g_uiPbbDbgFlag, 0u);
    // Nothing to read is no reason to close; the peer's close is.
    EXPECT_EQ(_pbb_gs_RecvMsg(srv_), PBB_OK);
    close(cli_);
    cli_ = -1;
    EXPECT_EQ(_pbb_gs_RecvMsg(srv_), PBB_ERR);
}

}  // namespace
}  // namespace gstest
