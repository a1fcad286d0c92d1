// Bitmap service: bit sets indexed by VLAN ID or slot number.
//
// A bitmap record starts with two 32-bit words: the number of 32-bit bit
// words that follow, then the size, the highest usable index. Bits are kept
// in 32-bit words, bit i in word i/32 at position i%32. Indexes 0 to size
// inclusive are usable; an index beyond the size reads as not set and is
// ignored by Set and Clear.
//
// The transferable form (used inside management requests) is the same
// record with every 32-bit word in network byte order; Bitmap_H2N and
// Bitmap_N2H convert in place, Bitmap_N2H only within the bytes it is given. A VLAN set of the highest VLAN ID 4094 needs
// 8 + 128 * 4 = 520 bytes and fits the 560-byte field of a request.
#pragma once

#include <cstddef>
#include <cstdint>

struct BITMAP_S {
    uint32_t uiWords;   // number of entries of auiBits
    uint32_t uiSize;    // highest usable index
    uint32_t auiBits[1];  // uiWords words follow (flexible)
};
static_assert(offsetof(BITMAP_S, uiSize) == 4, "size is the second word");

// Range record filled by Bitmap_GetRange.
struct BITMAP_RANGE_S {
    uint32_t uiIsSet;  // 1 for a run of set bits
    uint32_t uiFirst;
    uint32_t uiLast;
};

// Bytes a record of the given size occupies.
size_t Bitmap_RecordSize(uint32_t uiSize);

BITMAP_S* Bitmap_Create(uint32_t uiSize);
void Bitmap_Destroy(BITMAP_S* pstBitmap);
void Bitmap_Set(BITMAP_S* pstBitmap, uint32_t uiIndex);
void Bitmap_Clear(BITMAP_S* pstBitmap, uint32_t uiIndex);
uint32_t Bitmap_Check(const BITMAP_S* pstBitmap, uint32_t uiIndex);
uint32_t Bitmap_IsEmpty(const BITMAP_S* pstBitmap);
uint32_t Bitmap_Weight(const BITMAP_S* pstBitmap);
// Copies the bits of source into destination; indexes beyond the
// destination's size are dropped, missing ones cleared.
void Bitmap_Copy(BITMAP_S* pstDst, const BITMAP_S* pstSrc);
// Longest run of equal bits starting at uiFrom. The run never extends past
// the size; from beyond the size gives a run whose last index is beyond the
// size, which ends the standard walk.
void Bitmap_GetRange(const BITMAP_S* pstBitmap, uint32_t uiFrom, BITMAP_RANGE_S* pstRange);
// In-place conversion from transferable to host form of a record that
// arrived in ulLen bytes. 0 on success; non-zero, with the record left as
// it was, when ulLen cannot hold the header or the words the record claims,
// or when the size is 0xFFFFFFFF (no walk could end).
uint32_t Bitmap_N2H(BITMAP_S* pstBitmap, size_t ulLen);
// In-place conversion of a record of this process to transferable form.
void Bitmap_H2N(BITMAP_S* pstBitmap);
