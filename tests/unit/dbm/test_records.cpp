// The shared decoder of the daemon's records and keys.
#include "dbm_test.h"

#include "platform/dbm/dbm_records.h"

#include <nlohmann/json.hpp>

using namespace dbmtest;
using namespace plat::dbm;

TEST(DbmRecords, LearnedEntryKeyAndElementDecode)
{
    auto key = decodeKey("ucpw.5.17.100.GigabitEthernet1/0/1.20");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->number("vsi_index"), 5u);
    EXPECT_EQ(key->number("ifindex"), 17u);
    EXPECT_EQ(key->number("bvlan"), 100u);
    EXPECT_EQ(key->text("if_name"), "GigabitEthernet1/0/1.20");

    auto e = ucpw(5, 1000, 17, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, 100);
    std::string_view all = bytesOf(e);
    auto rec = decodeElement("ucpw.5.17.100.ge1", all);
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->layout, "PbbDbmUcPwRec");
    EXPECT_EQ(toText(*rec), "vsi_index=5 isid=1000 ifindex=17 bmac=\"00:11:22:33:44:55\" bvlan=100");
    EXPECT_EQ(toJson(*rec)["isid"], 1000);
    // A wrong length or a key of another family is not guessed at.
    EXPECT_FALSE(decodeElement("ucpw.5.17.100.ge1", all.substr(0, 19)));
    EXPECT_FALSE(decodeElement("vsi.A", all));
}

TEST(DbmRecords, ConfigurationRecordsDecode)
{
    VsiRec v{3, 7, 2, 10, 0};
    auto vsi = decodeValue("vsi.VSI-3", bytesOf(v));
    ASSERT_TRUE(vsi);
    EXPECT_EQ(toText(*vsi), "vsi_index=3 isid=7 encap_type=2 bvlan=10 reserved=0");
    EXPECT_EQ(decodeKey("vsi.VSI-3")->text("vsi_name"), "VSI-3");

    uint16_t one = 1;
    auto flag = decodeValue("if.ge1/0/1", bytesOf(one));
    ASSERT_TRUE(flag);
    EXPECT_EQ(flag->number("uplink_all"), 1u);
    EXPECT_EQ(decodeKey("if.ge1/0/1")->text("if_name"), "ge1/0/1");

    auto name = vsiName("VSI-3");
    auto n = decodeElement("ifvsi.ge1/0/1", bytesOf(name));
    ASSERT_TRUE(n);
    EXPECT_EQ(n->text("vsi_name"), "VSI-3");
    EXPECT_EQ(decodeKey("ifvsi.ge1/0/1")->text("if_name"), "ge1/0/1");
}

TEST(DbmRecords, MalformedKeysAreLeftUndecoded)
{
    for (const char* bad : {"ucpw.5.17.ge1", "ucpw.5.x.100.ge1", "ucpw.5.17.70000.ge1" /* B-VLAN is 16 bits */, "other"})
        EXPECT_FALSE(decodeKey(bad)) << bad;
    EXPECT_EQ(familyOf("ifvsi.x"), KeyFamily::IfVsi);
    EXPECT_EQ(familyOf("if.x"), KeyFamily::If);
    EXPECT_EQ(hexOf(std::string_view("\x01\xab", 2)), "01ab");
}
