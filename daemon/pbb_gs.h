// Management service: the local request server of the operator's front
// end, the layouts of its requests and replies, and the request handlers.
//
// Every message is one TLV of the platform's codec (platform/stlv.h); a
// client may write several requests at once and receives one reply per
// request (a multicast answer: several), in the order of the requests.
// Integers inside values are big-endian; text fields are NUL-terminated
// within their width. The layouts below have no padding (checked by the
// static_asserts), so a value is these bytes exactly.
#pragma once

#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vsi.h"

#include <cstddef>
#include <cstdint>

constexpr uint32_t PBB_GS_PORT = 1169;
constexpr uint32_t PBB_GS_BUF_LEN = 4096;      // one read; one reply buffer
constexpr uint32_t PBB_GS_REQ_SLOTS = 16;      // dispatch table slots

// Request types.
constexpr uint16_t PBB_GS_REQ_SET_DEBUG = 0;
constexpr uint16_t PBB_GS_REQ_SET_BVLAN = 1;
constexpr uint16_t PBB_GS_REQ_SET_ENCAP = 2;
constexpr uint16_t PBB_GS_REQ_SET_UPLINK_ALL = 3;
constexpr uint16_t PBB_GS_REQ_SET_UPLINK_VSI = 4;
constexpr uint16_t PBB_GS_REQ_RESET_UCPW = 5;
constexpr uint16_t PBB_GS_REQ_GET_DEBUG = 6;
constexpr uint16_t PBB_GS_REQ_GET_MC = 7;
constexpr uint16_t PBB_GS_REQ_GET_FIRST_MC = 8;
constexpr uint16_t PBB_GS_REQ_GET_NEXT_MC = 9;
constexpr uint16_t PBB_GS_REQ_GET_FIRST_UC = 10;
constexpr uint16_t PBB_GS_REQ_GET_NEXT_UC = 11;
constexpr uint16_t PBB_GS_REQ_NUM = 12;

// Reply types.
constexpr uint16_t PBB_GS_REPLY_DEBUG = 6;    // 4 bytes: the debug switch word
constexpr uint16_t PBB_GS_REPLY_MC = 12;      // PbbGsMcInfoMsg
constexpr uint16_t PBB_GS_REPLY_UC = 13;      // PbbGsUcPwMsg
constexpr uint16_t PBB_GS_REPLY_RESULT = 15;  // 4 bytes: a result code

// Operations: types 0, 1 and 2 clear or reset with 1 and set with any
// other value; types 3 and 4 add with 0 and undo with any other value.
constexpr uint16_t PBB_GS_OP_RESET = 1;
constexpr uint16_t PBB_GS_OP_ADD = 0;

constexpr uint32_t PBB_GS_MC_PORTS = 512;        // ports per multicast reply
constexpr uint32_t PBB_GS_RESET_IF_MAX = 128;    // interfaces per reset request
constexpr uint32_t PBB_GS_BITMAP_LEN = 560;      // B-VLAN set of a reset request

// Type 0.
struct PbbGsDebugReq {
    uint16_t usOperation;
    uint16_t usReserved;
    uint32_t uiMask;
};
static_assert(sizeof(PbbGsDebugReq) == 8);

// Type 3.
struct PbbGsUplinkAllReq {
    uint16_t usOperation;
    uint16_t usReserved;
    uint32_t uiIfIndex;
};
static_assert(sizeof(PbbGsUplinkAllReq) == 8);

// Types 1 and 2: the value is the B-VLAN (low 16 bits) or the encapsulation
// type code.
struct PbbGsSetReq {
    uint16_t usOperation;
    uint16_t usReserved;
    uint32_t uiValue;
    uint32_t uiISid;
    char szVsiName[PBB_VSI_NAME_LEN];
};
static_assert(sizeof(PbbGsSetReq) == 44);
static_assert(offsetof(PbbGsSetReq, uiValue) == 4 && offsetof(PbbGsSetReq, uiISid) == 8);
static_assert(offsetof(PbbGsSetReq, szVsiName) == 12);

// Type 4: uiCount names of PBB_VSI_NAME_LEN bytes follow the header.
struct PbbGsUplinkReq {
    uint16_t usOperation;
    uint16_t usReserved;
    uint32_t uiIfIndex;
    uint32_t uiCount;
};
static_assert(sizeof(PbbGsUplinkReq) == 12);
static_assert(offsetof(PbbGsUplinkReq, uiIfIndex) == 4 && offsetof(PbbGsUplinkReq, uiCount) == 8);

// Type 5: a bitmap record in transferable form (platform/bitmap.h) in the
// first 560 bytes; an empty name means every VSI.
struct PbbGsResetUcPwReq {
    uint32_t auiBVlanMap[PBB_GS_BITMAP_LEN / sizeof(uint32_t)];
    uint32_t uiIfCount;
    uint32_t auiIfIndex[PBB_GS_RESET_IF_MAX];
    char szVsiName[PBB_VSI_NAME_LEN];
};
static_assert(sizeof(PbbGsResetUcPwReq) == 1108);
static_assert(offsetof(PbbGsResetUcPwReq, uiIfCount) == 560);
static_assert(offsetof(PbbGsResetUcPwReq, auiIfIndex) == 564);
static_assert(offsetof(PbbGsResetUcPwReq, szVsiName) == 1076);

// Requests 10 and 11 and reply 13. The ifIndex is only meaningful in a
// reply; in a type 11 request the B-MAC is the position to continue after.
struct PbbGsUcPwMsg {
    uint32_t uiVsiIndex;
    uint32_t uiISid;
    uint16_t usBVlan;
    uint8_t aucBMac[6];
    uint32_t uiIfIndex;
    char szVsiName[PBB_VSI_NAME_LEN];
};
static_assert(sizeof(PbbGsUcPwMsg) == 52);
static_assert(offsetof(PbbGsUcPwMsg, usBVlan) == 8 && offsetof(PbbGsUcPwMsg, aucBMac) == 10);
static_assert(offsetof(PbbGsUcPwMsg, uiIfIndex) == 16 && offsetof(PbbGsUcPwMsg, szVsiName) == 20);

// Reply 12: up to 512 ports of a multicast entry; entries past uiPortNum
// carry no meaning.
struct PbbGsMcInfoMsg {
    uint32_t uiVsiIndex;
    uint32_t uiISid;
    uint32_t uiPortNum;
    uint16_t usBVlan;
    uint8_t aucMcMac[6];
    char szVsiName[PBB_VSI_NAME_LEN];
    uint32_t auiPort[PBB_GS_MC_PORTS];
};
static_assert(sizeof(PbbGsMcInfoMsg) == 2100);
static_assert(offsetof(PbbGsMcInfoMsg, uiPortNum) == 8 && offsetof(PbbGsMcInfoMsg, usBVlan) == 12);
static_assert(offsetof(PbbGsMcInfoMsg, aucMcMac) == 14 && offsetof(PbbGsMcInfoMsg, szVsiName) == 20);
static_assert(offsetof(PbbGsMcInfoMsg, auiPort) == 52);

// A handler: (address of the request's value, connection) -> 0, or
// 0x40010001 when a reply could not be sent.
using PbbGsRequestFunc = uint32_t (*)(void* pValue, int iFd);

extern int g_iPbbSocket;
extern PbbGsRequestFunc g_apfPBBRequestFunc[PBB_GS_REQ_SLOTS];

uint32_t PBB_gs_Init();
void PBB_gs_Exit();

uint32_t _pbb_gs_Server_Accept(uint32_t uiEvents, int iFd);
uint32_t _pbb_gs_ProcEpollEvent(uint32_t uiEvents, int iFd);
// Serves the requests of one read. Returns 0 while the connection is
// usable (also when nothing was there to read), 0x40010001 when the peer
// has closed it, reading failed or a reply could not be sent, so that the
// caller closes it.
uint32_t _pbb_gs_RecvMsg(int iFd);
// Serves the requests in len bytes that one read returned; the bytes are
// decoded on their own (a trailing incomplete TLV is dropped). Returns
// 0x40010001 when a reply could not be sent (the rest is not served).
uint32_t _pbb_gs_ServeData(int iFd, const uint8_t* pucData, uint16_t usLen);
// Bytes a request value of this type needs at least (type 4: the header;
// its names are checked separately); 0 for types that read no value.
uint32_t _pbb_gs_MinValueLen(uint16_t usType);
// Whether a value of usLen bytes holds everything the handler of usType
// will read.
bool _pbb_gs_IsValueComplete(uint16_t usType, const void* pValue, uint16_t usLen);

// Sends one encoded reply. While the connection has no room it waits for
// some, within what is left of the 500 ms the replies of one read may
// wait in all. Returns 0, or 0x40010001 when the reply was not sent whole.
uint32_t _pbb_gs_SendMsg(int iFd, const void* pBuf, uint32_t uiLen);
uint32_t _pbb_gs_SendResult(int iFd, uint32_t uiCode);
uint32_t _pbb_gs_SendDebug(int iFd, uint32_t uiFlag);
uint32_t _pbb_gs_SendUcPw(int iFd, const PbbUcPw* pstUcPw, const char* szVsiName);
uint32_t _pbb_gs_SendMcPw(int iFd, const PbbMcPw* pstMcPw);
uint32_t _pbb_gs_SendMcInfo(int iFd, const PbbMcPw* pstMcPw, PbbGsMcInfoMsg* pstMsg);

uint32_t _pbb_gs_SetDebug(void* pValue, int iFd);
uint32_t _pbb_gs_SetBvlan(void* pValue, int iFd);
uint32_t _pbb_gs_SetEncapType(void* pValue, int iFd);
uint32_t _pbb_gs_SetUplinkAll(void* pValue, int iFd);
uint32_t _pbb_gs_SetUplinkVsi(void* pValue, int iFd);
uint32_t _pbb_gs_ResetUcPw(void* pValue, int iFd);
uint32_t _pbb_gs_GetDebug(void* pValue, int iFd);
uint32_t _pbb_gs_GetMC(void* pValue, int iFd);
uint32_t _pbb_gs_GetFirstMC(void* pValue, int iFd);
uint32_t _pbb_gs_GetNextMC(void* pValue, int iFd);
uint32_t _pbb_gs_GetFirstUC(void* pValue, int iFd);
uint32_t _pbb_gs_GetNextUC(void* pValue, int iFd);
