// TLV codec: a 4-byte header (16-bit type, 16-bit value length, both in
// network byte order) and the value right behind it, no padding.

#include "platform/stlv.h"

#include <arpa/inet.h>
#include <cstddef>
#include <cstring>

namespace {

constexpr uint32_t STLV_OK = 0;
constexpr uint32_t STLV_ERR_INCOMPLETE = 1;  // no complete TLV in the data
constexpr uint32_t STLV_ERR_ARGUMENT = 2;    // a null address where one is needed

struct StlvHeader {
    uint16_t usType;
    uint16_t usLen;
};
static_assert(sizeof(StlvHeader) == STLV_HEADER_LEN);
static_assert(offsetof(StlvHeader, usLen) == 2);

}  // namespace

uint32_t STLV_Set(void* pBuf, uint32_t uiBufLen, uint16_t usType, uint16_t usLen, const void* pValue)
{
    if (pBuf == nullptr || (pValue == nullptr && usLen != 0)) return 0;
    const uint32_t total = STLV_HEADER_LEN + usLen;
    if (uiBufLen < total) return 0;
    auto* out = static_cast<unsigned char*>(pBuf);
    // The value may already sit where it belongs (a caller that built it in
    // place behind the header), so it is moved, not copied.
    if (usLen != 0) std::memmove(out + STLV_HEADER_LEN, pValue, usLen);
    const StlvHeader h{htons(usType), htons(usLen)};
    std::memcpy(out, &h, sizeof h);
    return total;
}

uint32_t STLV_Get(const void* pData, uint16_t usLen, uint16_t* pusType, uint16_t* pusLen, void** ppValue)
{
    if (ppValue == nullptr) return STLV_ERR_ARGUMENT;
    if (pData == nullptr || usLen < STLV_HEADER_LEN) return STLV_ERR_INCOMPLETE;
    StlvHeader h{};
    std::memcpy(&h, pData, sizeof h);  // the data need not be aligned
    const uint16_t valueLen = ntohs(h.usLen);
    if (static_cast<uint32_t>(usLen) - STLV_HEADER_LEN < valueLen) return STLV_ERR_INCOMPLETE;
    if (pusType != nullptr) *pusType = ntohs(h.usType);
    if (pusLen != nullptr) *pusLen = valueLen;
    // Also for an empty value this is a real address (just behind the header).
    *ppValue = const_cast<unsigned char*>(static_cast<const unsigned char*>(pData) + STLV_HEADER_LEN);
    return STLV_OK;
}
