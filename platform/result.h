// Result codes of the switch platform's services (interface manager, VLAN,
// link aggregation, device manager, L2VPN library, spanning tree).
//
// 0 is success everywhere; callers treat every other value as failure and
// may pass it on unchanged. Calls that hand out descriptors return -1 on
// failure instead, and packet-socket calls follow the C library (-1 and
// errno).
#pragma once

#include <cstdint>

constexpr uint32_t PLAT_OK = 0;
constexpr uint32_t PLAT_ERR_PARAM = 1;          // argument out of range or malformed
constexpr uint32_t PLAT_ERR_NOT_FOUND = 2;      // no such interface, slot, VSI, entry, handle or data
constexpr uint32_t PLAT_ERR_EXIST = 3;          // already there
constexpr uint32_t PLAT_ERR_NO_RESOURCE = 4;    // a table of the forwarding plane is full
constexpr uint32_t PLAT_ERR_UNAVAILABLE = 5;    // service not reachable, or handle not registered
constexpr uint32_t PLAT_ERR_NOT_SUPPORTED = 6;  // the hardware cannot do it

constexpr uint32_t PLAT_INVALID_HANDLE = 0xFFFFFFFFu;
