// Bitmap service: a record of two header words (bit-word count, size) and
// the bit words, bit i in word i/32 at position i%32.
//
// Every operation bounds itself by both header words, so a record that
// arrived from a peer with a word count smaller than its size asks for
// reads as "not set" beyond its words instead of reading past them.

#include "platform/bitmap.h"

#include "platform/stub/cell_pool.h"
#include "platform/testing.h"

#include <arpa/inet.h>
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <string>

namespace {

constexpr uint32_t BITS_PER_WORD = 32;
// The standard walk continues from last + 1 until last exceeds the size;
// with this size no index could exceed it, so such a bitmap is refused.
constexpr uint32_t BITMAP_SIZE_UNWALKABLE = 0xFFFFFFFFu;
// Bitmap_N2H: the record claims more words than the bytes given hold, or
// a size no walk could get past.
constexpr uint32_t BITMAP_ERR_LENGTH = 1;

static_assert(offsetof(BITMAP_S, uiWords) == 0);
static_assert(offsetof(BITMAP_S, auiBits) == 8);

constexpr uint64_t wordsFor(uint32_t uiSize) { return (static_cast<uint64_t>(uiSize) + BITS_PER_WORD) / BITS_PER_WORD; }
static_assert(wordsFor(0) == 1 && wordsFor(31) == 1 && wordsFor(32) == 2 && wordsFor(4094) == 128);

// The bit words through a plain pointer: the record's array is declared
// with one element and really holds uiWords.
uint32_t* words(BITMAP_S* b) { return b->auiBits; }
const uint32_t* words(const BITMAP_S* b) { return b->auiBits; }

// Words that may hold usable bits: no more than the record carries and no
// more than its size needs.
uint32_t usableWords(const BITMAP_S* b)
{
    return static_cast<uint32_t>(std::min<uint64_t>(b->uiWords, wordsFor(b->uiSize)));
}

// Records of up to a few words (a slot bitmap) come from a pool of cells of
// their size; larger ones from the C allocator. Never destroyed, so that a
// bitmap may be released at any time, static destructors included.
plat::stub::CellPool& smallRecords()
{
    static auto* pool = new plat::stub::CellPool;
    return *pool;
}

// Word w of the bitmap with the bits beyond the size masked off; 0 for a
// word the record does not carry.
uint32_t usableWord(const BITMAP_S* b, uint32_t w)
{
    if (w >= usableWords(b)) return 0;
    uint32_t v = words(b)[w];
    if (w == b->uiSize / BITS_PER_WORD) {
        uint32_t top = b->uiSize % BITS_PER_WORD;  // highest usable bit of this word
        if (top != BITS_PER_WORD - 1) v &= (2u << top) - 1;
    }
    return v;
}

}  // namespace

size_t Bitmap_RecordSize(uint32_t uiSize)
{
    return offsetof(BITMAP_S, auiBits) + static_cast<size_t>(wordsFor(uiSize)) * sizeof(uint32_t);
}

BITMAP_S* Bitmap_Create(uint32_t uiSize)
{
    if (plat::testing::fault("Bitmap_Create")) {
        plat::testing::record("Bitmap_Create", "size=" + std::to_string(uiSize) + " result=fault");
        return nullptr;
    }
    BITMAP_S* b = nullptr;
    if (uiSize != BITMAP_SIZE_UNWALKABLE) {
        size_t bytes = std::max(Bitmap_RecordSize(uiSize), sizeof(BITMAP_S));
        b = static_cast<BITMAP_S*>(bytes <= plat::stub::CellPool::kMaxBytes ? smallRecords().allocate(bytes)
                                                                              : std::calloc(1, bytes));
        if (b != nullptr) {
            b->uiWords = static_cast<uint32_t>(wordsFor(uiSize));
            b->uiSize = uiSize;
        }
    }
    if (plat::testing::recording())
        plat::testing::record("Bitmap_Create",
                              "size=" + std::to_string(uiSize) + (b != nullptr ? " result=ok" : " result=null"));
    return b;
}

void Bitmap_Destroy(BITMAP_S* pstBitmap)
{
    if (!smallRecords().release(pstBitmap)) std::free(pstBitmap);
}

void Bitmap_Set(BITMAP_S* pstBitmap, uint32_t uiIndex)
{
    if (pstBitmap == nullptr || uiIndex > pstBitmap->uiSize) return;
    uint32_t w = uiIndex / BITS_PER_WORD;
    if (w < pstBitmap->uiWords) words(pstBitmap)[w] |= 1u << (uiIndex % BITS_PER_WORD);
}

void Bitmap_Clear(BITMAP_S* pstBitmap, uint32_t uiIndex)
{
    if (pstBitmap == nullptr || uiIndex > pstBitmap->uiSize) return;
    uint32_t w = uiIndex / BITS_PER_WORD;
    if (w < pstBitmap->uiWords) words(pstBitmap)[w] &= ~(1u << (uiIndex % BITS_PER_WORD));
}

uint32_t Bitmap_Check(const BITMAP_S* pstBitmap, uint32_t uiIndex)
{
    if (pstBitmap == nullptr || uiIndex > pstBitmap->uiSize) return 0;
    return (usableWord(pstBitmap, uiIndex / BITS_PER_WORD) >> (uiIndex % BITS_PER_WORD)) & 1u;
}

uint32_t Bitmap_IsEmpty(const BITMAP_S* pstBitmap)
{
    if (pstBitmap == nullptr) return 1;
    for (uint32_t w = 0, n = usableWords(pstBitmap); w < n; ++w)
        if (usableWord(pstBitmap, w) != 0) return 0;
    return 1;
}

uint32_t Bitmap_Weight(const BITMAP_S* pstBitmap)
{
    if (pstBitmap == nullptr) return 0;
    uint32_t n = 0;
    for (uint32_t w = 0, end = usableWords(pstBitmap); w < end; ++w) n += std::popcount(usableWord(pstBitmap, w));
    return n;
}

void Bitmap_Copy(BITMAP_S* pstDst, const BITMAP_S* pstSrc)
{
    if (pstDst == nullptr || pstDst == pstSrc) return;
    uint32_t* dst = words(pstDst);
    // Records of one size that carry their words (every learned entry's
    // slot bitmap, copied from the table's template): the words as they
    // are, the last one's bits beyond the size dropped.
    if (pstSrc != nullptr && pstSrc->uiSize == pstDst->uiSize && pstSrc->uiWords == pstDst->uiWords &&
        pstDst->uiWords == wordsFor(pstDst->uiSize)) {
        const uint32_t n = pstDst->uiWords;
        std::copy_n(words(pstSrc), n - 1, dst);
        dst[n - 1] = usableWord(pstSrc, n - 1);
        return;
    }
    uint32_t dstWords = usableWords(pstDst);
    for (uint32_t w = 0; w < pstDst->uiWords; ++w) dst[w] = (w < dstWords && pstSrc != nullptr) ? usableWord(pstSrc, w) : 0;
    // Bits of the source beyond the destination's size are dropped.
    if (dstWords != 0) dst[dstWords - 1] = usableWord(pstDst, dstWords - 1);
}

void Bitmap_GetRange(const BITMAP_S* pstBitmap, uint32_t uiFrom, BITMAP_RANGE_S* pstRange)
{
    if (pstRange == nullptr) return;
    if (pstBitmap == nullptr || uiFrom > pstBitmap->uiSize) {
        // Beyond the size: a run that ends the walk.
        pstRange->uiIsSet = 0;
        pstRange->uiFirst = uiFrom;
        pstRange->uiLast = (pstBitmap == nullptr) ? 0xFFFFFFFFu : std::max(uiFrom, pstBitmap->uiSize + 1);
        return;
    }
    const uint32_t size = pstBitmap->uiSize;
    const uint32_t isSet = Bitmap_Check(pstBitmap, uiFrom);
    const uint32_t invert = isSet ? 0xFFFFFFFFu : 0u;

    // Look for the first bit at or after uiFrom that differs from the run.
    uint32_t w = uiFrom / BITS_PER_WORD;
    uint32_t differ = (usableWord(pstBitmap, w) ^ invert) & (0xFFFFFFFFu << (uiFrom % BITS_PER_WORD));
    // Only the words the record carries are walked: past them every index
    // reads as clear, so a clear run reaches the size and a set run ends at
    // the first word the record lacks.
    const uint32_t lastWord = size / BITS_PER_WORD;
    const uint32_t carried = usableWords(pstBitmap);
    while (differ == 0 && w < lastWord) {
        ++w;
        if (w >= carried) {
            differ = invert;
            break;
        }
        differ = usableWord(pstBitmap, w) ^ invert;
    }
    uint64_t end = (differ == 0) ? static_cast<uint64_t>(size) + 1
                                 : static_cast<uint64_t>(w) * BITS_PER_WORD + std::countr_zero(differ);
    pstRange->uiIsSet = isSet;
    pstRange->uiFirst = uiFrom;
    pstRange->uiLast = static_cast<uint32_t>(std::min<uint64_t>(end - 1, size));
}

uint32_t Bitmap_N2H(BITMAP_S* pstBitmap, size_t ulLen)
{
    if (pstBitmap == nullptr || ulLen < offsetof(BITMAP_S, auiBits)) return BITMAP_ERR_LENGTH;
    // The header is read through copies: nothing changes unless the whole
    // record lies inside the ulLen bytes.
    const uint32_t n = ntohl(pstBitmap->uiWords);
    if (static_cast<uint64_t>(n) > (ulLen - offsetof(BITMAP_S, auiBits)) / sizeof(uint32_t)) return BITMAP_ERR_LENGTH;
    // A size no index can exceed would make the walk endless.
    const uint32_t size = ntohl(pstBitmap->uiSize);
    if (size == BITMAP_SIZE_UNWALKABLE) return BITMAP_ERR_LENGTH;
    pstBitmap->uiWords = n;
    pstBitmap->uiSize = size;
    uint32_t* bits = words(pstBitmap);
    for (uint32_t w = 0; w < n; ++w) bits[w] = ntohl(bits[w]);
    return 0;
}

void Bitmap_H2N(BITMAP_S* pstBitmap)
{
    if (pstBitmap == nullptr) return;
    uint32_t n = pstBitmap->uiWords;
    uint32_t* bits = words(pstBitmap);
    for (uint32_t w = 0; w < n; ++w) bits[w] = htonl(bits[w]);
    pstBitmap->uiWords = htonl(pstBitmap->uiWords);
    pstBitmap->uiSize = htonl(pstBitmap->uiSize);
}
