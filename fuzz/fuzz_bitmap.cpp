// Bitmap records in transferable form, as a peer's request carries them:
// the conversion is given the bytes that arrived; a record it accepts can
// be walked to its end and converted back to the same bytes.
#include "fuzz/fuzz_check.h"
#include "platform/bitmap.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096) return -1;
    // Exactly size bytes, aligned as a record must be.
    auto* rec = static_cast<BITMAP_S*>(std::malloc(size == 0 ? 1 : size));
    if (size != 0) std::memcpy(rec, data, size);
    if (Bitmap_N2H(rec, size) != 0) {
        FUZZ_CHECK(size == 0 || std::memcmp(rec, data, size) == 0);
        std::free(rec);
        return 0;
    }
    FUZZ_CHECK(size >= 8 && 8 + uint64_t{rec->uiWords} * 4 <= size);

    // The daemon's walk: it ends, its runs follow each other, and it finds
    // exactly the bits Bitmap_Check and Bitmap_Weight see.
    uint32_t set = 0;
    uint64_t runs = 0;
    BITMAP_RANGE_S r{};
    Bitmap_GetRange(rec, 0, &r);
    while (r.uiLast <= rec->uiSize) {
        FUZZ_CHECK(r.uiFirst <= r.uiLast);
        FUZZ_CHECK(Bitmap_Check(rec, r.uiFirst) == r.uiIsSet);
        FUZZ_CHECK(Bitmap_Check(rec, r.uiLast) == r.uiIsSet);
        if (r.uiIsSet) set += r.uiLast - r.uiFirst + 1;
        FUZZ_CHECK(++runs <= 2 + uint64_t{rec->uiWords} * 32);
        const uint32_t next = r.uiLast + 1;
        Bitmap_GetRange(rec, next, &r);
        FUZZ_CHECK(r.uiFirst == next);
    }
    FUZZ_CHECK(set == Bitmap_Weight(rec));
    FUZZ_CHECK((set == 0) == (Bitmap_IsEmpty(rec) != 0));

    Bitmap_H2N(rec);
    FUZZ_CHECK(std::memcmp(rec, data, 8 + size_t{ntohl(rec->uiWords)} * 4) == 0);
    std::free(rec);
    return 0;
}
