#include "platform/log.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

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

TEST(Format, MacAddressWithWidthsAndAmongOtherConversions)
{
    char buf[128];
    EXPECT_EQ(scnprintf(buf, sizeof buf, "%M", MAC), 17);
    EXPECT_STREQ(buf, "00:1a:2b:c3:04:ff");
    scnprintf(buf, sizeof buf, "[%-20M][%20M][%10M]", MAC, MAC, MAC);
    EXPECT_STREQ(buf, "[00:1a:2b:c3:04:ff   ][   00:1a:2b:c3:04:ff][00:1a:2b:c3:04:ff]");
    // A row of the ageing table.
    scnprintf(buf, sizeof buf, "%-6u%-16M%-7u\r\n", 3u, MAC, 100u);
    EXPECT_STREQ(buf, "3     00:1a:2b:c3:04:ff100    \r\n");
    scnprintf(buf, sizeof buf, "%s %M %d %*M.", "mac", MAC, -1, 18, MAC);
    EXPECT_STREQ(buf, "mac 00:1a:2b:c3:04:ff -1  00:1a:2b:c3:04:ff.");
}

TEST(Format, ScnprintfCountsWhatItWrote)
{
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(scnprintf(buf, sizeof buf, "%s", "abcdefghij"), 7);
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(scnprintf(buf, sizeof buf, "%d%M", 12, MAC), 7);
    EXPECT_STREQ(buf, "1200:1a");
    EXPECT_EQ(scnprintf(buf, 1, "abc"), 0);
    EXPECT_STREQ(buf, "");
    buf[0] = 'k';
    EXPECT_EQ(scnprintf(buf, 0, "abc"), 0);
    EXPECT_EQ(buf[0], 'k') << "size 0 writes nothing";
    // Successive pieces the way the daemon fills a 4096-byte buffer.
    char big[32];
    int n = 0;
    for (int i = 0; i < 10; ++i) n += scnprintf(big + n, sizeof big - n, "%d,", 1000 + i);
    EXPECT_EQ(n, 31);
    EXPECT_EQ(std::string(big), "1000,1001,1002,1003,1004,1005,1");
}

TEST(Format, OddFormatsStayHarmless)
{
    char buf[64];
    int target = 5;
    scnprintf(buf, sizeof buf, "a%nb %y %", &target);
    EXPECT_STREQ(buf, "ab %y %");
    EXPECT_EQ(target, 5) << "%n stores nothing";
    EXPECT_EQ(scnprintf(buf, sizeof buf, "%%%s", "x"), 2);
    EXPECT_STREQ(buf, "%x");
}

TEST(Format, Strlcpy)
{
    char buf[6];
    EXPECT_EQ(strlcpy(buf, "abc", sizeof buf), 3u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(strlcpy(buf, "abcdefghij", sizeof buf), 10u);
    EXPECT_STREQ(buf, "abcde");
    buf[0] = 'z';
    EXPECT_EQ(strlcpy(buf, "abc", 0), 3u);
    EXPECT_EQ(buf[0], 'z');
}

}  // namespace
