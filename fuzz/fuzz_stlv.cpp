// TLV chains as a peer sends them: every TLV decoded is encoded again to
// the same bytes, and the decoder never reads past the bytes given.
#include "fuzz/fuzz_check.h"
#include "platform/stlv.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The codec takes 16-bit lengths; a copy of exactly that many bytes
    // lets the sanitizer see any read past them.
    const uint16_t len = static_cast<uint16_t>(size > 0xFFFF ? 0xFFFF : size);
    std::vector<uint8_t> in(data, data + len);
    std::vector<uint8_t> out(len + STLV_HEADER_LEN);
    uint32_t pos = 0;
    while (pos < len) {
        uint16_t type = 0;
        uint16_t vlen = 0;
        void* value = nullptr;
        const uint16_t left = static_cast<uint16_t>(len - pos);
        if (STLV_Get(in.data() + pos, left, &type, &vlen, &value) != 0) {
            // Refused only when the TLV really is incomplete.
            FUZZ_CHECK(value == nullptr);
            if (left >= STLV_HEADER_LEN) {
                const uint32_t declared = (uint32_t{in[pos + 2]} << 8) | in[pos + 3];
                FUZZ_CHECK(STLV_HEADER_LEN + declared > left);
            }
            break;
        }
        FUZZ_CHECK(value != nullptr);
        FUZZ_CHECK(STLV_HEADER_LEN + vlen <= left);
        FUZZ_CHECK(static_cast<uint8_t*>(value) == in.data() + pos + STLV_HEADER_LEN);
        const uint32_t n = STLV_Set(out.data(), static_cast<uint32_t>(out.size()), type, vlen, value);
        FUZZ_CHECK(n == STLV_HEADER_LEN + vlen);
        FUZZ_CHECK(std::memcmp(out.data(), in.data() + pos, n) == 0);
        // One byte short of room: refused, nothing claimed written.
        if (n > 0) FUZZ_CHECK(STLV_Set(out.data(), n - 1, type, vlen, value) == 0);
        pos += n;
    }
    return 0;
}
