// Line-card reports: TLV chains as the report socket receives them.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

#include "model_test.h"
#include "platform/l2vpn_age.h"
#include "platform/lipc.h"
#include "platform/stlv.h"
#include "support/tempdir.h"

namespace {

struct Tlv {
    uint16_t type;
    std::vector<uint8_t> value;
};

std::vector<Tlv> parse(const uint8_t* p, uint16_t len)
{
    std::vector<Tlv> out;
    uint16_t used = 0;
    while (used < len) {
        uint16_t type = 0, vlen = 0;
        void* value = nullptr;
        if (STLV_Get(p + used, static_cast<uint16_t>(len - used), &type, &vlen, &value) != 0) break;
        auto* v = static_cast<const uint8_t*>(value);
        out.push_back({type, std::vector<uint8_t>(v, v + vlen)});
        used = static_cast<uint16_t>(v + vlen - p);
    }
    return out;
}

class Reports : public pbbtest::ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        fd = LIPC_Socket(SOCK_STREAM, LIPC_PROTO_REPORT);
        ASSERT_GE(fd, 0);
        LipcSockAddr addr{16, PLAT_AF_LIPC, htons(L2VPN_AGE_PORT), {0x80, 0, 0, 0}, {}};
        ASSERT_EQ(LIPC_Bind(fd, &addr, sizeof addr), 0);
    }
    void TearDown() override
    {
        ::close(fd);
        ModelTest::TearDown();
    }

    pbbtest::TempRunDir dir;
    int fd = -1;
};

// One message carries the TLVs in order; a message longer than the limit is
// refused. The records' fields are read back by the daemon's ageing tests,
// which receive these reports through the same socket.
TEST_F(Reports, OneMessageCarriesTheTlvsInOrderUpToTheLimit)
{
    sim::AgeReport aged{.slot = 3, .ageType = L2VPN_AGE_TYPE_AGED, .vsi = 7, .isid = 700};
    aged.entries = {{{0, 1, 2, 3, 4, 5}, 30}, {{0, 1, 2, 3, 4, 6}, 31}};
    sim::NoHardResReport noRes{{{.slot = 2, .bvlan = 40, .vsi = 8, .isid = 800, .bmac = {9, 9, 9, 9, 9, 9}}}};
    sw->sendReport({aged, sim::RawTlv{7, {1, 2, 3}}, noRes});
    ASSERT_TRUE(pbbtest::waitReadable(fd));
    uint8_t buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    ASSERT_GT(n, 0);
    auto tlvs = parse(buf, static_cast<uint16_t>(n));
    ASSERT_EQ(tlvs.size(), 3u);
    EXPECT_EQ(tlvs[0].type, L2VPN_AGE_TLV_AGING);
    EXPECT_EQ(tlvs[0].value.size(), sizeof(L2VPN_AGE_MSG_S) + 2 * sizeof(L2VPN_AGE_ENTRY_S));
    EXPECT_EQ(tlvs[1].type, 7u);
    EXPECT_EQ(tlvs[1].value, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(tlvs[2].type, L2VPN_AGE_TLV_NO_HARD_RES);
    EXPECT_EQ(tlvs[2].value.size(), 4 + sizeof(L2VPN_NO_HARD_RES_ENTRY_S));

    sim::AgeReport big{.slot = 1, .vsi = 1};
    big.entries.resize((L2VPN_AGE_MSG_MAX - 4 - sizeof(L2VPN_AGE_MSG_S)) / sizeof(L2VPN_AGE_ENTRY_S));
    EXPECT_NO_THROW(sw->sendReport({big}));
    big.entries.emplace_back();
    EXPECT_THROW(sw->sendReport({big}), std::length_error);
}

}  // namespace
