// The management messages pbbctl writes and reads: the exact bytes of each
// layout, and replies decoded back to what was encoded; the listing of
// learned entries written as nlohmann-json writes the same document.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "tools/pbbctl/pbbctl_listing.h"
#include "tools/pbbctl/pbbctl_proto.h"

using namespace pbbctl::proto;

namespace {

std::string hexOf(const Bytes& b, size_t at, size_t n)
{
    std::string s;
    char x[3];
    for (size_t i = at; i < at + n; ++i) {
        std::snprintf(x, sizeof x, "%02x", b.at(i));
        s += x;
    }
    return s;
}

struct Field {
    size_t at;
    std::string hex;
};

struct LayoutCase {
    const char* name;
    Bytes value;
    size_t size;
    std::vector<Field> fields;
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, FieldsSitAtTheirOffsetsBigEndian)
{
    const LayoutCase& c = GetParam();
    ASSERT_EQ(c.value.size(), c.size);
    for (const Field& f : c.fields) EXPECT_EQ(hexOf(c.value, f.at, f.hex.size() / 2), f.hex) << "offset " << f.at;
}

const std::string kRed = "7673692d726564";  // "vsi-red"

INSTANTIATE_TEST_SUITE_P(
    Requests, Layout,
    ::testing::Values(
        LayoutCase{"uplinkAll", uplinkAllReq(kUplinkDelete, 0x01020304), 8, {{0, "0001000001020304"}}},
        LayoutCase{"uplink", uplinkReq(kUplinkAdd, 7, {"vsi-red", "b"}), 12 + 64,
                   {{0, "0000000000000007"}, {8, "00000002"}, {12, kRed + "00"}, {44, "6200"}, {75, "00"}}},
        LayoutCase{"reset", resetReq({0, 100, 4094, 4095}, {1, 0x64}, "vsi-red"), 1108,
                   // 128 words for VLANs 0-4094; VLAN 100 is bit 4 of word 3,
                   // VLAN 4094 bit 30 of word 127; 0 and 4095 are no B-VLANs.
                   {{0, "00000080"}, {4, "00000ffe"}, {8, "00000000"}, {8 + 12, "00000010"}, {8 + 4 * 127, "40000000"},
                    {560, "00000002"}, {564, "0000000100000064"}, {572, "00000000"}, {1076, kRed + "00"}}},
        LayoutCase{"index", indexValue(0x10203), 4, {{0, "00010203"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Request, LongNamesAndLongListsAreCut)
{
    std::string longName(40, 'x');
    Bytes b = setReq(kValueSet, 1, 1, longName);
    EXPECT_EQ(b[12 + 30], 'x');
    EXPECT_EQ(b[12 + 31], 0) << "the name keeps its terminator";
    EXPECT_FALSE(nameFits(longName));
    EXPECT_TRUE(nameFits(std::string(31, 'x')));
    EXPECT_FALSE(nameFits(""));

    std::vector<uint32_t> ifs(200);
    for (uint32_t i = 0; i < 200; ++i) ifs[i] = i + 1;
    Bytes r = resetReq({}, ifs, "");
    ASSERT_EQ(r.size(), kResetReqLen);
    EXPECT_EQ(hexOf(r, 560, 4), "00000080");
    EXPECT_EQ(hexOf(r, 564 + 4 * 127, 4), "00000080") << "the 128th interface is the last";
}

// The fields of whole replies are checked against the daemon's own in the
// client test; a value one byte short is no reply.
TEST(Replies, ShortValuesAndPortCountsOutOfRangeAreRefusedAndAStreamSplitAnywhereComesApart)
{
    Bytes u = ucMsg({});
    EXPECT_TRUE(parseUc(u.data(), u.size()));
    EXPECT_FALSE(parseUc(u.data(), u.size() - 1));
    Bytes m = mcMsg({1, 1, 1, {}, "v", {1}});
    EXPECT_TRUE(parseMc(m.data(), m.size()));
    EXPECT_FALSE(parseMc(m.data(), m.size() - 1));

    uint8_t w[4] = {0x60, 0x01, 0x00, 0x23};
    EXPECT_EQ(word(w, 4), kNoMoreUc);
    EXPECT_FALSE(word(w, 3));

    // A multicast port count must be 1 to 512.
    for (uint32_t bad : {0u, 513u, 0xFFFFFFFFu}) {
        for (int k = 0; k < 4; ++k) m[8 + k] = static_cast<uint8_t>(bad >> (24 - 8 * k));
        EXPECT_FALSE(parseMc(m.data(), m.size())) << bad;
    }

    // A message is its header, then its value; a stream split anywhere gives the same messages.
    Bytes a = tlv(kGetFirstUc, ucMsg({}));
    EXPECT_EQ(hexOf(a, 0, 4), "000a0034");
    Bytes empty = tlv(kGetDebug, {});
    EXPECT_EQ(hexOf(empty, 0, empty.size()), "00060000");

    Bytes stream = a;
    stream.insert(stream.end(), empty.begin(), empty.end());
    Bytes big = tlv(kMcReply, mcMsg({1, 1, 1, {}, "v", {1}}));
    stream.insert(stream.end(), big.begin(), big.end());
    // Every split point gives the same three messages.
    for (size_t cut = 0; cut <= stream.size(); cut += 97) {
        TlvReader r;
        std::vector<Tlv> got;
        r.feed(stream.data(), cut);
        while (auto t = r.next()) got.push_back(*t);
        r.feed(stream.data() + cut, stream.size() - cut);
        while (auto t = r.next()) got.push_back(*t);
        ASSERT_EQ(got.size(), 3u) << "cut at " << cut;
        EXPECT_EQ(std::tuple(got[0].type, got[0].value.size(), got[1].type, got[1].value.size(), got[2].type,
                             got[2].value.size(), r.pending()),
                  std::tuple(kGetFirstUc, kUcMsgLen, kGetDebug, size_t{0}, kMcReply, kMcMsgLen, size_t{0}));
    }
}

// Two VSIs walked (names and labels that need escaping), one skipped
// after some of its entries arrived, none at all: the JSON is, byte for
// byte, nlohmann-json's dump(2) of the same values, and the skipped VSI's
// entries are in neither form.
TEST(Listing, WritesWhatNlohmannWritesAndDropsASkippedVsisEntries)
{
    auto label = [](uint32_t ifIndex) { return ifIndex == 7 ? std::string("eth \"7\"\\x") : std::to_string(ifIndex); };
    const McMsg red{1, 101, 100, {}, "red\"vsi", {}}, gone{2, 102, 100, {}, "gone", {}}, blue{3, 103, 200, {}, "blue", {}};
    const std::vector<UcMsg> redEntries{{1, 101, 100, {0, 0xab, 0, 0, 0, 1}, 7, "red\"vsi"},
                                        {1, 101, 100, {2, 0, 0, 0, 0xff, 2}, 4096, "red\"vsi"}};
    for (int vsis : {0, 3}) {
        nlohmann::json learned = nlohmann::json::array(), walked = nlohmann::json::array(),
                       skipped = nlohmann::json::array();
        pbbctl::LearnedListing json(true, label), text(false, label);
        auto walk = [&](const McMsg& m, const std::vector<UcMsg>& entries, const char* why) {
            for (const UcMsg& e : entries) {
                json.entry(e);
                text.entry(e);
                if (!why)
                    learned.push_back({{"vsi", e.vsiName}, {"vsiIndex", e.vsiIndex}, {"isid", e.isid},
                                       {"bvlan", e.bvlan}, {"bmac", formatMac(e.bmac)}, {"ifIndex", e.ifIndex},
                                       {"interface", label(e.ifIndex)}});
            }
            nlohmann::json v{{"vsi", m.vsiName}, {"vsiIndex", m.vsiIndex}, {"isid", m.isid}, {"bvlan", m.bvlan}};
            if (why) {
                json.skipped(m, why);
                text.skipped(m, why);
                v["reason"] = why;
                skipped.push_back(v);
            } else {
                json.walked(m);
                text.walked(m);
                v["count"] = entries.size();
                walked.push_back(v);
            }
        };
        if (vsis > 0) {
            walk(red, redEntries, nullptr);
            walk(gone, {{2, 102, 100, {2, 0, 0, 0, 0, 9}, 5, "gone"}}, "removed");
            walk(blue, {{3, 103, 200, {2, 0, 0, 0, 0, 3}, 7, "blue"}}, nullptr);
        }
        const nlohmann::json doc{{"vsis", walked}, {"skipped", skipped}, {"learned", learned}, {"count", learned.size()}};
        EXPECT_EQ(json.json(), doc.dump(2)) << vsis;
        ASSERT_EQ(text.rows().size(), learned.size());
        for (size_t i = 0; i < learned.size(); ++i)
            EXPECT_EQ(text.rows()[i], (std::vector<std::string>{learned[i]["vsi"], std::to_string(learned[i]["isid"].get<uint32_t>()),
                                                                std::to_string(learned[i]["bvlan"].get<uint32_t>()),
                                                                learned[i]["bmac"], learned[i]["interface"]}));
    }
}

}  // namespace
