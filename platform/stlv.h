// TLV codec of management messages and line-card reports.
//
// Header: a 16-bit type then a 16-bit value length, both in network byte
// order (4 bytes); the value follows the header directly and the next TLV
// follows the value directly, with no padding.
#pragma once

#include <cstdint>

constexpr uint32_t STLV_HEADER_LEN = 4;

// Encodes one TLV into buf (bufLen bytes). Returns the bytes written
// (header plus value), or 0 when it does not fit. The value may be null
// only when its length is 0.
uint32_t STLV_Set(void* pBuf, uint32_t uiBufLen, uint16_t usType, uint16_t usLen, const void* pValue);

// Decodes the first TLV of data (len bytes). When a complete TLV is there,
// writes its type, value length and value address (never null, also for an
// empty value) and returns 0; otherwise leaves *ppValue as it was (callers
// preset it to null) and returns a non-zero code.
uint32_t STLV_Get(const void* pData, uint16_t usLen, uint16_t* pusType, uint16_t* pusLen, void** ppValue);
