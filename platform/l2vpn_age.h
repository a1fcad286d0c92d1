// Line-card reports about MAC-in-MAC unicast entries: ageing and lack of
// hardware resources.
//
// The line cards send each report as one message to the local report
// socket at port L2VPN_AGE_PORT (lipc.h): a chain of TLVs (stlv.h) whose
// values are the records below followed by their entries, every field in
// the host's byte order, MAC addresses in transmission order. A message is
// at most L2VPN_AGE_MSG_MAX bytes.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint16_t L2VPN_AGE_PORT = 1125;
constexpr uint32_t L2VPN_AGE_MSG_MAX = 4096;

constexpr uint16_t L2VPN_AGE_TLV_AGING = 0;        // L2VPN_AGE_MSG_S
constexpr uint16_t L2VPN_AGE_TLV_NO_HARD_RES = 1;  // L2VPN_NO_HARD_RES_MSG_S

constexpr uint32_t L2VPN_AGE_TYPE_AGED = 1;
constexpr uint32_t L2VPN_AGE_TYPE_CANCELLED = 2;

// One slot's report about entries of one VSI; uiPwNum L2VPN_AGE_ENTRY_S follow.
struct L2VPN_AGE_MSG_S {
    uint16_t usSlotId;
    uint16_t usReserved;
    uint32_t uiAgeType;
    uint32_t uiVsiIndex;
    uint32_t uiISid;
    uint32_t uiPwNum;
};
static_assert(sizeof(L2VPN_AGE_MSG_S) == 20);
static_assert(offsetof(L2VPN_AGE_MSG_S, uiAgeType) == 4);
static_assert(offsetof(L2VPN_AGE_MSG_S, uiPwNum) == 16);

struct L2VPN_AGE_ENTRY_S {
    uint8_t aucBMac[6];
    uint16_t usBVlan;
};
static_assert(sizeof(L2VPN_AGE_ENTRY_S) == 8);

// Entries that slots failed to install; uiPwNum L2VPN_NO_HARD_RES_ENTRY_S follow.
struct L2VPN_NO_HARD_RES_MSG_S {
    uint32_t uiPwNum;
};
static_assert(sizeof(L2VPN_NO_HARD_RES_MSG_S) == 4);

struct L2VPN_NO_HARD_RES_ENTRY_S {
    uint16_t usSlotId;
    uint16_t usBVlan;
    uint32_t uiVsiIndex;
    uint32_t uiISid;
    uint8_t aucBMac[6];
    uint16_t usReserved;
};
static_assert(sizeof(L2VPN_NO_HARD_RES_ENTRY_S) == 20);
static_assert(offsetof(L2VPN_NO_HARD_RES_ENTRY_S, uiVsiIndex) == 4);
static_assert(offsetof(L2VPN_NO_HARD_RES_ENTRY_S, aucBMac) == 12);
