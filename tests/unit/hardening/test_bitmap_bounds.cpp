// Bitmap records that come from a peer: the conversion stays inside the
// bytes it is given and the walk inside the words the record carries.
#include "platform/bitmap.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ctime>
#include <cstring>
#include <tuple>
#include <vector>

namespace {

// A buffer of exactly len bytes (ASan sees every byte past it), holding a
// transferable record that claims the given word count and size.
std::vector<unsigned char> wireRecord(size_t len, uint32_t words, uint32_t size)
{
    // No word of the pattern reads the same in both byte orders.
    std::vector<unsigned char> bytes(len);
    for (size_t i = 0; i < len; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
    uint32_t header[2] = {htonl(words), htonl(size)};
    std::memcpy(bytes.data(), header, std::min(len, sizeof header));
    return bytes;
}

struct N2HCase {
    const char* what;
    size_t len;
    uint32_t words;
    uint32_t size;
    bool accepted;
};

class BitmapN2HBounds : public testing::TestWithParam<N2HCase> {};

TEST_P(BitmapN2HBounds, ConvertsOnlyRecordsThatFitTheirBytes)
{
    const N2HCase& c = GetParam();
    auto bytes = wireRecord(c.len, c.words, c.size);
    const auto before = bytes;
    auto* rec = reinterpret_cast<BITMAP_S*>(bytes.data());
    uint32_t rc = Bitmap_N2H(rec, c.len);
    if (c.accepted) {
        EXPECT_EQ(std::tuple(rc, rec->uiWords, rec->uiSize), std::tuple(0u, c.words, c.size));
        for (uint32_t i = 0; i < c.words; ++i) {
            uint32_t net = 0;
            std::memcpy(&net, before.data() + 8 + 4 * i, sizeof net);
            EXPECT_EQ(rec->auiBits[i], ntohl(net)) << "word " << i;
        }
    } else {
        EXPECT_NE(rc, 0u);
        EXPECT_EQ(bytes, before) << "a refused record is left as it came";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Records, BitmapN2HBounds,
    testing::Values(N2HCase{"header_only_claims_one", 8, 1, 4094, false},
                    N2HCase{"header_only_no_words", 8, 0, 4094, true},
                    N2HCase{"short_header", 7, 0, 4094, false},
                    N2HCase{"request_field_full", 560, 138, 4094, true},
                    N2HCase{"word_count_wraps_bytes", 560, 0xFFFFFFFFu, 4094, false},
                    N2HCase{"odd_length_ignores_tail", 523, 128, 4094, true},
                    N2HCase{"size_no_walk_could_pass", 12, 1, 0xFFFFFFFFu, false},
                    N2HCase{"largest_walkable_size", 12, 1, 0xFFFFFFFEu, true}),
    [](const testing::TestParamInfo<N2HCase>& i) { return std::string(i.param.what); });

TEST(BitmapN2HBounds, NullRecordIsRefused) { EXPECT_NE(Bitmap_N2H(nullptr, 560), 0u); }

// A record that carries one word and claims the largest walkable size:
// every run is found without walking words the record does not hold.
TEST(BitmapRangeBounds, RunsPastTheCarriedWordsEndAtOnce)
{
    struct Case {
        uint32_t firstWord;
        uint32_t from;
        uint32_t isSet;
        uint32_t last;
    };
    const Case cases[] = {
        {0x00000000u, 0, 0, 0xFFFFFFFEu},   // clear to the size
        {0xFFFFFFFFu, 0, 1, 31},            // set run ends where the words end
        {0x80000000u, 31, 1, 31},
        {0x80000000u, 32, 0, 0xFFFFFFFEu},  // from past the carried words
        {0x00000001u, 1, 0, 0xFFFFFFFEu},
        {0x00000000u, 0x7FFFFFFFu, 0, 0xFFFFFFFEu},
    };
    auto bytes = wireRecord(12, 1, 0xFFFFFFFEu);
    auto* rec = reinterpret_cast<BITMAP_S*>(bytes.data());
    ASSERT_EQ(Bitmap_N2H(rec, bytes.size()), 0u);
    // The walk's cost is measured in this thread's CPU time, which another
    // process's load does not add to.
    auto cpuNow = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec * 1000000000LL + ts.tv_nsec;
    };
    const long long start = cpuNow();
    for (const Case& c : cases) {
        rec->auiBits[0] = c.firstWord;
        BITMAP_RANGE_S r{};
        Bitmap_GetRange(rec, c.from, &r);
        EXPECT_EQ(r.uiIsSet, c.isSet) << "from " << c.from;
        EXPECT_EQ(r.uiFirst, c.from);
        EXPECT_EQ(r.uiLast, c.last) << "from " << c.from;
    }
    // Walking the 134 million words the size implies costs about 100 ms of
    // CPU per call; bounded by the one word it is a few microseconds.
    EXPECT_LT(cpuNow() - start, 50000000LL) << "ns of CPU for six walks";
}

}  // namespace
