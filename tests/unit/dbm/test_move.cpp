// Moves between the two databases of the configuration pair.
#include "dbm_test.h"

using namespace dbmtest;

namespace {

class DbmMove : public DbmTest {
protected:
    void SetUp() override
    {
        DbmTest::SetUp();
        ASSERT_EQ(openPair(used, unused), DBM_OK);
        for (const char* n : {"V1", "V2"}) ASSERT_EQ(addName(used, list, n), DBM_OK);
        ASSERT_EQ(DBM_SetBinary(used, flag.text, flag.len, 0, 2, &one, 2), DBM_OK);
    }
    std::vector<std::string> names(uint32_t h) { return dbmtest::names(h, list); }
    uint32_t used = DBM_INVALID_HANDLE, unused = DBM_INVALID_HANDLE;
    Key list{"ifvsi.%s", "ge1/0/1"}, flag{"if.%s", "ge1/0/1"};
    uint16_t one = 1;
};

}  // namespace

// The interface goes away and comes back: both keys travel with value and
// type, and each step is on disk when it returns.
TEST_F(DbmMove, KeysTravelToTheOtherDatabaseAndBackUnchanged)
{
    ASSERT_EQ(DBM_Move(used, list.text, list.len, unused), DBM_OK);
    ASSERT_EQ(DBM_Move(used, flag.text, flag.len, unused), DBM_OK);
    EXPECT_EQ(DBM_IsKeyExist(used, list.text, list.len), 0u);
    EXPECT_EQ(names(unused), (std::vector<std::string>{"V1", "V2"}));
    EXPECT_EQ(DBM_GetKeyNumByValueType(unused, 1), 1u);
    EXPECT_EQ(DBM_GetKeyNumByValueType(used, 1), 0u);
    auto disk = onDisk(pairFile());
    EXPECT_EQ(disk[0].find("ifvsi.ge1/0/1"), nullptr);
    ASSERT_NE(disk[1].find("ifvsi.ge1/0/1"), nullptr);
    EXPECT_EQ(disk[1].find("ifvsi.ge1/0/1")->elems.size(), 2u);
    ASSERT_NE(disk[1].find("if.ge1/0/1"), nullptr);

    ASSERT_EQ(DBM_Move(unused, list.text, list.len, used), DBM_OK);
    ASSERT_EQ(DBM_Move(unused, flag.text, flag.len, used), DBM_OK);
    EXPECT_EQ(names(used), (std::vector<std::string>{"V1", "V2"}));
    uint16_t v = 0;
    EXPECT_EQ(DBM_GetBinary(used, flag.text, flag.len, 0, 2, &v), 2);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(DBM_Close(used), DBM_OK);
    ASSERT_EQ(DBM_Close(unused), DBM_OK);
    ASSERT_EQ(openPair(used, unused), DBM_OK);
    EXPECT_EQ(names(used), (std::vector<std::string>{"V1", "V2"}));
    EXPECT_EQ(DBM_IsKeyExist(unused, list.text, list.len), 0u);
    EXPECT_EQ(DBM_GetKeyNumByValueType(used, 2), 1u);
}

TEST_F(DbmMove, AMovedKeyReplacesTheDestinationsKey)
{
    ASSERT_EQ(addName(unused, list, "OLD"), DBM_OK);
    ASSERT_EQ(DBM_Move(used, list.text, list.len, unused), DBM_OK);
    EXPECT_EQ(names(unused), (std::vector<std::string>{"V1", "V2"}));
    EXPECT_EQ(onDisk(pairFile())[1].find("ifvsi.ge1/0/1")->elems.size(), 2u);
}

TEST_F(DbmMove, MovesOfMissingKeysOrAcrossStoresChangeNothing)
{
    Key missing("if.%s", "ge9");
    EXPECT_EQ(DBM_Move(used, missing.text, missing.len, unused), DBM_ERR_NOT_FOUND);
    EXPECT_EQ(DBM_Move(used, list.text, list.len, used), DBM_ERR_PARAM);
    uint32_t run;
    ASSERT_EQ(openRun(run), DBM_OK);
    EXPECT_EQ(DBM_Move(used, flag.text, flag.len, run), DBM_ERR_PARAM);
    EXPECT_EQ(DBM_Move(used, flag.text, flag.len, DBM_INVALID_HANDLE), DBM_ERR_HANDLE);
    EXPECT_EQ(DBM_IsKeyExist(used, flag.text, flag.len), 1u);
    EXPECT_EQ(DBM_IsKeyExist(run, flag.text, flag.len), 0u);
}
