// Text formatting and the type-length-value encoding.
#include "platform/log.h"
#include "platform/stlv.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// %hu and %hhu are given wider ints on purpose: both formatters must cut
// them the same way. clang's format check would refuse that.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wformat"
#endif

namespace {

const unsigned char MAC[6] = {0x00, 0x1A, 0x2b, 0xC3, 0x04, 0xff};

#define EXPECT_LIKE_SNPRINTF(...)                                              \
    do {                                                                       \
        char ours[512], theirs[512];                                           \
        int n = scnprintf(ours, sizeof ours, __VA_ARGS__);                     \
        int m = std::snprintf(theirs, sizeof theirs, __VA_ARGS__);             \
        EXPECT_STREQ(ours, theirs);                                            \
        EXPECT_EQ(n, m);                                                       \
    } while (0)

TEST(Format, PrintfConversionsMatchTheCLibrary)
{
    EXPECT_LIKE_SNPRINTF("%s|%d|%u|%lu|%ld|%x|%lx|%08x|%c|%hu|%hhu|%%", "str", -42, 4000000000u, ULONG_MAX, LONG_MIN,
                         0xbeefu, 0x123456789abcUL, 0xabcu, 'Q', 70000, 300);
    EXPECT_LIKE_SNPRINTF("%-6u|%10s|%-10s|%.2s|%+5d|%05d|%#x|%X", 7u, "right", "left", "cut", 3, -12, 255u, 0xabcu);
    EXPECT_LIKE_SNPRINTF("%*d|%-*d|%*d|%.*s|%.*s", 6, 1, 6, 2, -6, 3, 2, "abc", -1, "whole");
    EXPECT_LIKE_SNPRINTF("%lld|%llu|%zu|%jd|%hd|%hhd|%o", LLONG_MIN, ULLONG_MAX, sizeof(long), INTMAX_MIN,
                         static_cast<short>(-5), static_cast<signed char>(-3), 8u);
    EXPECT_LIKE_SNPRINTF("%p|%p|%.3f|%e|%g", static_cast<void*>(nullptr), static_cast<const void*>(MAC), 3.14159, 1e-7,
                         0.5);
}

TEST(Format, MacAddressesWithWidthsAndScnprintfAndStrlcpyCountWhatTheyDo)
{
    char wide[128];
    EXPECT_EQ(scnprintf(wide, sizeof wide, "[%-20M][%20M][%10M]", MAC, MAC, MAC), 63);
    EXPECT_STREQ(wide, "[00:1a:2b:c3:04:ff   ][   00:1a:2b:c3:04:ff][00:1a:2b:c3:04:ff]");

    char buf[8];
    EXPECT_EQ(scnprintf(buf, sizeof buf, "%d%M", 12, MAC), 7);
    EXPECT_STREQ(buf, "1200:1a");
    EXPECT_EQ(scnprintf(buf, 1, "abc"), 0);
    EXPECT_STREQ(buf, "");
    buf[0] = 'k';
    EXPECT_EQ(scnprintf(buf, 0, "abc"), 0);
    EXPECT_EQ(buf[0], 'k') << "size 0 writes nothing";
    // Filling a buffer piece by piece is what the daemon's long lists do;
    // their tests check every piece.

    EXPECT_EQ(strlcpy(buf, "abc", sizeof buf), 3u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(strlcpy(buf, "abcdefghij", sizeof buf), 10u);
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(strlcpy(buf, "xyz", 0), 3u);
    EXPECT_EQ(buf[0], 'a');
}

// Chains are written and read by the daemon's management and ageing tests;
// here the refusal of incomplete input.
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
}

}  // namespace
