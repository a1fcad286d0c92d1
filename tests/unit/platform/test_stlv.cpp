#include "platform/stlv.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Tlv {
    uint16_t usType;
    std::string value;
    bool operator==(const Tlv&) const = default;
};

// Reads a chain the way the daemon does: from each value on with the
// received length minus what was consumed, in 16-bit arithmetic.
std::vector<Tlv> readChain(const unsigned char* data, uint16_t usLen)
{
    std::vector<Tlv> out;
    uint16_t usType = 0, usValueLen = 0;
    void* pValue = nullptr;
    const unsigned char* at = data;
    while (STLV_Get(at, static_cast<uint16_t>(usLen - (at - data)), &usType, &usValueLen, &pValue) == 0) {
        EXPECT_NE(pValue, nullptr);
        out.push_back({usType, std::string(static_cast<const char*>(pValue), usValueLen)});
        at = static_cast<const unsigned char*>(pValue) + usValueLen;
    }
    return out;
}

TEST(Stlv, HeaderIsTypeThenLengthInNetworkOrder)
{
    unsigned char buf[16];
    ASSERT_EQ(STLV_Set(buf, sizeof buf, 0x0102, 3, "abc"), 7u);
    const unsigned char want[] = {0x01, 0x02, 0x00, 0x03, 'a', 'b', 'c'};
    EXPECT_EQ(std::memcmp(buf, want, sizeof want), 0);

    EXPECT_EQ(STLV_Set(buf, 6, 1, 3, "abc"), 0u) << "does not fit";
    EXPECT_EQ(STLV_Set(buf, 7, 1, 3, "abc"), 7u) << "fits exactly";
    EXPECT_EQ(STLV_Set(buf, sizeof buf, 1, 3, nullptr), 0u) << "a value of length 3 needs an address";
    EXPECT_EQ(STLV_Set(buf, STLV_HEADER_LEN, 6, 0, nullptr), STLV_HEADER_LEN);
}

TEST(Stlv, ChainWithAnEmptyValueRoundTrips)
{
    // Exactly as long as the chain, so that ASan sees any read past it.
    std::vector<unsigned char> buf(4 + 5 + 4 + 0 + 4 + 2);
    uint32_t at = 0;
    at += STLV_Set(buf.data() + at, static_cast<uint32_t>(buf.size()) - at, 0, 5, "hello");
    at += STLV_Set(buf.data() + at, static_cast<uint32_t>(buf.size()) - at, 6, 0, nullptr);
    at += STLV_Set(buf.data() + at, static_cast<uint32_t>(buf.size()) - at, 0xFFFF, 2, "zz");
    ASSERT_EQ(at, buf.size());
    EXPECT_EQ(readChain(buf.data(), static_cast<uint16_t>(buf.size())),
              (std::vector<Tlv>{{0, "hello"}, {6, ""}, {0xFFFF, "zz"}}));
}

TEST(Stlv, EmptyValueGivesAnAddressBehindTheHeader)
{
    std::vector<unsigned char> buf(STLV_HEADER_LEN);
    ASSERT_EQ(STLV_Set(buf.data(), STLV_HEADER_LEN, 8, 0, nullptr), STLV_HEADER_LEN);
    uint16_t usType = 0, usLen = 99;
    void* pValue = nullptr;
    ASSERT_EQ(STLV_Get(buf.data(), STLV_HEADER_LEN, &usType, &usLen, &pValue), 0u);
    EXPECT_EQ(usType, 8);
    EXPECT_EQ(usLen, 0);
    EXPECT_EQ(pValue, buf.data() + STLV_HEADER_LEN);
}

TEST(Stlv, IncompleteInputLeavesTheValueAddressAlone)
{
    unsigned char full[12];
    ASSERT_EQ(STLV_Set(full, sizeof full, 3, 8, "12345678"), 12u);
    int sentinel = 0;
    for (uint16_t len : {0, 1, 3, 4, 5, 11}) {
        // A heap copy of just len bytes: reading one more is an ASan report.
        std::vector<unsigned char> part(full, full + len);
        void* pValue = &sentinel;
        uint16_t usType = 0, usLen = 0;
        EXPECT_NE(STLV_Get(part.empty() ? nullptr : part.data(), len, &usType, &usLen, &pValue), 0u) << len;
        EXPECT_EQ(pValue, &sentinel) << len;
    }
    // A complete TLV followed by half of the next: the first only.
    std::vector<unsigned char> two(full, full + 12);
    two.insert(two.end(), full, full + 6);
    EXPECT_EQ(readChain(two.data(), static_cast<uint16_t>(two.size())), (std::vector<Tlv>{{3, "12345678"}}));
}

}  // namespace
