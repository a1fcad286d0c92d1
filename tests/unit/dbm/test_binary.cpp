// Keys and binary values: key lengths, replacement, partial reads, deletion,
// and durability of configuration writes when the call returns.
#include "dbm_test.h"

using namespace dbmtest;

namespace {

class DbmBinary : public DbmTest {
protected:
    void SetUp() override
    {
        DbmTest::SetUp();
        ASSERT_EQ(openPair(used, unused), DBM_OK);
    }
    uint32_t used = DBM_INVALID_HANDLE, unused = DBM_INVALID_HANDLE;
};

}  // namespace

TEST_F(DbmBinary, KeysAreUpTo127CharactersWithTheirNulCounted)
{
    uint8_t v[2] = {1, 0};
    std::string longest(127, 'k'), tooLong(128, 'k');
    EXPECT_EQ(DBM_SetBinary(used, longest.c_str(), 128, 0, 2, v, 2), DBM_OK);
    EXPECT_EQ(DBM_IsKeyExist(used, longest.c_str(), 128), 1u);
    EXPECT_EQ(DBM_SetBinary(used, tooLong.c_str(), 129, 0, 2, v, 2), DBM_ERR_PARAM);
    Key k("if.%s", "ge1");
    EXPECT_EQ(DBM_SetBinary(used, k.text, k.len - 1, 0, 2, v, 2), DBM_ERR_PARAM);  // NUL not counted
    EXPECT_EQ(DBM_SetBinary(used, k.text, k.len + 1, 0, 2, v, 2), DBM_ERR_PARAM);  // beyond the NUL
    EXPECT_EQ(DBM_SetBinary(used, "", 1, 0, 2, v, 2), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_SetBinary(used, nullptr, 4, 0, 2, v, 2), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_IsKeyExist(used, k.text, k.len), 0u);
    EXPECT_EQ(DBM_GetKeyNumByValueType(used, 2), 1u);
}

TEST_F(DbmBinary, AValueReplacesTheEarlierOneWithItsType)
{
    Key k("vsi.%s", "VSI-3");
    VsiRec first{3, 7, 2, 10, 0}, second{3, 8, 5, 0xFFFF, 0};
    ASSERT_EQ(DBM_SetBinary(used, k.text, k.len, 0, 16, &first, 0), DBM_OK);
    ASSERT_EQ(DBM_SetBinary(used, k.text, k.len, 0, 16, &second, 4), DBM_OK);
    VsiRec got{};
    ASSERT_EQ(DBM_GetBinary(used, k.text, k.len, 0, 16, &got), 16);
    EXPECT_EQ(std::memcmp(&got, &second, 16), 0);
    EXPECT_EQ(DBM_GetKeyNumByValueType(used, 0), 0u);
    EXPECT_EQ(DBM_GetKeyNumByValueType(used, 4), 1u);

    // A shorter value replaces a longer one entirely.
    uint16_t one = 1;
    ASSERT_EQ(DBM_SetBinary(used, k.text, k.len, 0, 2, &one, 0), DBM_OK);
    EXPECT_EQ(DBM_Len(used, k.text, k.len), 2u);
    EXPECT_EQ(DBM_GetBinary(used, k.text, k.len, 0, 16, &got), 2);
    EXPECT_EQ(DBM_SetBinary(used, k.text, k.len, 1, 2, &one, 0), DBM_ERR_PARAM);  // offsets only read
}

TEST_F(DbmBinary, ReadsFromAnOffsetAndReportMissingKeys)
{
    Key k("vsi.%s", "V");
    VsiRec r{3, 7, 2, 10, 0};
    ASSERT_EQ(DBM_SetBinary(used, k.text, k.len, 0, 16, &r, 0), DBM_OK);
    uint16_t bvlan = 0;
    EXPECT_EQ(DBM_GetBinary(used, k.text, k.len, 12, 2, &bvlan), 2);
    EXPECT_EQ(bvlan, 10);
    uint8_t buf[32];
    EXPECT_EQ(DBM_GetBinary(used, k.text, k.len, 8, 32, buf), 8);
    EXPECT_EQ(DBM_GetBinary(used, k.text, k.len, 16, 4, buf), 0);
    Key missing("vsi.%s", "W");
    EXPECT_EQ(DBM_GetBinary(used, missing.text, missing.len, 0, 16, buf), -1);
    EXPECT_EQ(DBM_GetBinary(unused, k.text, k.len, 0, 16, buf), -1);  // other database
    EXPECT_EQ(DBM_Len(used, missing.text, missing.len), 0u);
}

TEST_F(DbmBinary, ConfigurationWritesAreOnDiskWhenTheCallReturns)
{
    Key v("vsi.%s", "V"), i("if.%s", "ge1"), gone("if.%s", "ge9");
    VsiRec r{3, 7, 2, 10, 0};
    uint16_t one = 1;
    ASSERT_EQ(DBM_SetBinary(used, v.text, v.len, 0, 16, &r, 0), DBM_OK);
    ASSERT_EQ(DBM_SetBinary(unused, i.text, i.len, 0, 2, &one, 2), DBM_OK);
    ASSERT_EQ(DBM_SetBinary(unused, gone.text, gone.len, 0, 2, &one, 2), DBM_OK);
    ASSERT_EQ(DBM_DeleteKey(unused, gone.text, gone.len), DBM_OK);
    // Deletion takes the key, its value and its count of the type.
    EXPECT_EQ(DBM_IsKeyExist(unused, gone.text, gone.len), 0u);
    EXPECT_EQ(DBM_IsKeyExist(unused, i.text, i.len), 1u);
    EXPECT_EQ(DBM_GetKeyNumByValueType(unused, 2), 1u);
    EXPECT_EQ(DBM_DeleteKey(unused, gone.text, gone.len), DBM_ERR_NOT_FOUND);

    // Read through a second connection while the pair stays open.
    auto disk = onDisk(pairFile());
    ASSERT_EQ(disk.size(), 2u);
    const auto* vr = disk[0].find("vsi.V");
    ASSERT_NE(vr, nullptr);
    EXPECT_EQ(vr->value, std::string(reinterpret_cast<const char*>(&r), 16));
    EXPECT_EQ(vr->valueType, 0u);
    ASSERT_NE(disk[1].find("if.ge1"), nullptr);
    EXPECT_EQ(disk[1].find("if.ge1")->valueType, 2u);
    EXPECT_EQ(disk[1].find("if.ge9"), nullptr);
    EXPECT_EQ(disk[0].find("if.ge1"), nullptr);

    // And through the service after a reopen.
    ASSERT_EQ(DBM_Close(used), DBM_OK);
    ASSERT_EQ(DBM_Close(unused), DBM_OK);
    ASSERT_EQ(openPair(used, unused), DBM_OK);
    VsiRec got{};
    EXPECT_EQ(DBM_GetBinary(used, v.text, v.len, 0, 16, &got), 16);
    EXPECT_EQ(got.usBVlan, 10);
    EXPECT_EQ(DBM_IsKeyExist(unused, i.text, i.len), 1u);
}

TEST_F(DbmBinary, ABinaryValueReplacesASortList)
{
    Key k("ifvsi.%s", "ge1");
    ASSERT_EQ(addName(used, k, "V"), DBM_OK);
    uint16_t one = 1;
    ASSERT_EQ(DBM_SetBinary(used, k.text, k.len, 0, 2, &one, 2), DBM_OK);
    EXPECT_EQ(DBM_Len(used, k.text, k.len), 2u);
    auto name = vsiName("V");
    EXPECT_EQ(DBM_InsertSortList(used, k.text, k.len, 32, name.data(), 1), DBM_ERR_TYPE);
    auto disk = onDisk(pairFile());
    const auto* e = disk[0].find("ifvsi.ge1");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->kind, plat::dbm::Kind::Binary);
    EXPECT_TRUE(e->elems.empty());
}
