// The request handlers: what each request changes, the results passed on
// from the control logic, the table reads and their paging, and requests
// that do not hold what their type needs.
#include "gs_test.h"

namespace gstest {
namespace {

using ctltest::Uc;
using ctltest::UcSet;

struct Step {
    const char* name;
    Bytes request;
    uint32_t result;
};

TEST_F(Gs, SetRequestsResetOnlyWithOperationOne)
{
    PbbVsi* v = vsi(1, "vsi-a", 1001, PBB_BVLAN_NONE);
    struct SetStep {
        Step s;
        uint16_t bvlan;
        uint32_t encap;
    };
    const SetStep steps[] = {
        {{"B-VLAN from the low 16 bits", setReq(1, 0, 0x10014, 1001, "vsi-a"), 0}, 20, 2},
        {{"operation 2 sets", setReq(1, 2, 30, 1001, "vsi-a"), 0}, 30, 2},
        {{"operation 1 resets", setReq(1, 1, 40, 1001, "vsi-a"), 0}, PBB_BVLAN_NONE, 2},
        {{"encapsulation, operation 2", setReq(2, 2, 5, 1001, "vsi-a"), 0}, PBB_BVLAN_NONE, 5},
        {{"unknown VSI", setReq(2, 0, 6, 1001, "vsi-x"), PBB_ERR}, PBB_BVLAN_NONE, 5},
        {{"encapsulation reset", setReq(2, 1, 6, 1001, "vsi-a"), 0}, PBB_BVLAN_NONE, 2},
    };
    for (const auto& st : steps) {
        SCOPED_TRACE(st.s.name);
        EXPECT_EQ(result(st.s.request), st.s.result);
        EXPECT_EQ(v->usBVlan, st.bvlan);
        EXPECT_EQ(v->uiEncapType, st.encap);
    }
}

TEST_F(Gs, UplinkRequestsAddOnlyWithOperationZero)
{
    vsi(1, "vsi-a", 1001);
    vsi(2, "vsi-b", 1002);
    const uint32_t plain = sw->addPort("eth-2/0/1", 2);
    struct UplinkStep {
        Step s;
        std::vector<uint32_t> mcA, mcB;  // multicast ports of vsi-a and vsi-b afterwards
    };
    const UplinkStep steps[] = {
        {{"add to two VSIs", uplinkReq(0, a, {"vsi-a", "vsi-b"}), 0}, {a}, {a}},
        {{"operation 2 deletes", uplinkReq(2, a, {"vsi-b"}), 0}, {a}, {}},
        {{"all VSIs", pairReq(3, 0, b), 0}, {a, b}, {b}},
        {{"all VSIs, not a PBB port", pairReq(3, 0, plain), PBB_ERR_NOT_SUPPORT}, {a, b}, {b}},
        {{"undo all VSIs", pairReq(3, 2, b), 0}, {a}, {}},
        {{"undo all VSIs of an interface that is none", pairReq(3, 1, c), 0}, {a}, {}},
    };
    PBB_ctl_ActiveVsi(1);
    PBB_ctl_ActiveVsi(2);
    for (const auto& st : steps) {
        SCOPED_TRACE(st.s.name);
        EXPECT_EQ(result(st.s.request), st.s.result);
        expectMc(1, st.mcA);
        expectMc(2, st.mcB);
    }
    // An undo that could not delete a record is answered as failed.
    ASSERT_EQ(result(pairReq(3, 0, b)), 0u);
    plat::testing::failCall("DBM_DeleteKey", 7);
    EXPECT_EQ(result(pairReq(3, 2, b)), PBB_ERR);
    expectMc(1, {a});
}

TEST_F(Gs, ResetRequestsRemoveTheirSelectionOrAreRefused)
{
    vsi(1, "vsi-a", 1001, 10);
    vsi(2, "vsi-b", 1002, 20);
    UcSet all{{1, 10, 1, a}, {1, 10, 2, b}, {2, 20, 3, a}, {2, 20, 4, b}};
    for (const auto& e : all) learn(e);

    PbbGsResetUcPwReq tooMany = resetReq({10}, {}, "");
    tooMany.uiIfCount = htonl(129);
    PbbGsResetUcPwReq unterminated = resetReq({10}, {}, "");
    memset(unterminated.szVsiName, 'v', PBB_VSI_NAME_LEN);
    const PbbGsResetUcPwReq whole = resetReq({10, 20}, {}, "");
    std::vector<uint32_t> most(PBB_GS_RESET_IF_MAX, c);  // as many interfaces as a request holds, b last
    most.back() = b;

    struct ResetStep {
        Step s;
        UcSet removed;
    };
    const ResetStep steps[] = {
        {{"VSI's B-VLAN not in the set", tlv(5, resetReq({20}, {a}, "vsi-a")), PBB_ERR}, {}},
        {{"unknown VSI", tlv(5, resetReq({10}, {a}, "vsi-x")), PBB_ERR}, {}},
        {{"bitmap claims more than 560 bytes", tlv(5, badSetReq()), PBB_ERR}, {}},
        {{"129 interfaces", tlv(5, tooMany), PBB_ERR}, {}},
        {{"name without its NUL", tlv(5, unterminated), PBB_ERR}, {}},
        {{"empty set, no VSI", tlv(5, resetReq({}, {a, b}, "")), 0}, {}},
        {{"VSI on an interface", tlv(5, resetReq({10}, {a, c}, "vsi-a")), 0}, {{1, 10, 1, a}}},
        {{"B-VLAN on the last of 128 interfaces", tlv(5, resetReq({20, 30}, most, "")), 0}, {{2, 20, 4, b}}},
        {{"no interface is every interface", tlv(5, whole), 0}, {{1, 10, 2, b}, {2, 20, 3, a}}},
    };
    for (const auto& st : steps) {
        SCOPED_TRACE(st.s.name);
        EXPECT_EQ(result(st.s.request), st.s.result);
        for (const auto& e : st.removed) all.erase(e);
        expectUc(all);
    }
}

// The walks over these answers and the entry's fields are checked by
// pbbctl's client test against this server; here the pieces themselves.
TEST_F(Gs, MulticastAnswersComeIn512PortPiecesThenTheEndMark)
{
    vsi(1, "vsi-a", 1001);
    for (uint32_t n : {512u, 513u}) {
        SCOPED_TRACE(n);
        PbbMcPw* mc = PBB_mcpw_Create(1, 1001, 10);
        for (uint32_t i = n; i > 0; --i) ASSERT_EQ(PBB_mcpw_AddPort(mc, 100 + i), PBB_OK);
        auto got = serve(nameTlv(7, "vsi-a"));
        ASSERT_EQ(got.size(), 1 + (n + 511) / 512);
        std::vector<uint32_t> ports;
        for (size_t r = 0; r + 1 < got.size(); ++r) {
            PbbGsMcInfoMsg m;
            ASSERT_EQ(std::pair(got[r].type, got[r].value.size()), std::pair(PBB_GS_REPLY_MC, sizeof m));
            memcpy(&m, got[r].value.data(), sizeof m);
            for (uint32_t i = 0; i < ntohl(m.uiPortNum); ++i) ports.push_back(ntohl(m.auiPort[i]));
        }
        EXPECT_EQ(got.back().type, PBB_GS_REPLY_RESULT);
        EXPECT_EQ(got.back().code(), PBB_MC_END);
        ASSERT_EQ(ports.size(), n);
        for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(ports[i], 101 + i);
        PBB_mcpw_Destroy(mc);
    }
}

// The walk itself runs in pbbctl's client test against this server, and so
// does a first step for another B-VLAN; reads that find nothing are refused.
TEST_F(Gs, ReadsThatFindNothingAreRefused)
{
    vsi(1, "vsi-a", 1001);
    vsi(2, "vsi-b", 1002);
    vsi(3, "vsi-c", 1003);
    ASSERT_EQ(PBB_mcpw_AddPort(PBB_mcpw_Create(1, 1001, 10), a), PBB_OK);
    (void)PBB_mcpw_Create(2, 1002, 10);  // no port
    for (const Uc& e : {Uc{1, 10, 5, a}, Uc{2, 10, 4, a}}) learn(e);
    EXPECT_EQ(serve(ucReq(11, 1, 1001, 10, 5, "vsi-a")).at(0).code(), PBB_ERR_NO_MORE_UC);
    const Step refused[] = {
        {"wrong I-SID", ucReq(11, 1, 1002, 10, 0, "vsi-a"), PBB_ERR},
        {"wrong index", ucReq(10, 2, 1001, 10, 0, "vsi-a"), PBB_ERR},
        {"unknown VSI", ucReq(11, 1, 1001, 10, 0, "vsi-x"), PBB_ERR},
        {"VSI without entries", ucReq(10, 3, 1003, 10, 0, "vsi-c"), PBB_ERR},
        {"multicast, unknown VSI", nameTlv(7, "vsi-x"), PBB_ERR},
        {"multicast entry without ports", nameTlv(7, "vsi-b"), PBB_ERR},
        {"multicast walk ends at an entry without ports", tlv(9, htonl(1)), PBB_ERR},
        {"multicast name without its NUL", tlv(7, std::string(PBB_VSI_NAME_LEN, 'v').data(), PBB_VSI_NAME_LEN), PBB_ERR},
    };
    for (const auto& st : refused) {
        SCOPED_TRACE(st.name);
        EXPECT_EQ(result(st.request), st.result);
    }
}

}  // namespace
}  // namespace gstest
