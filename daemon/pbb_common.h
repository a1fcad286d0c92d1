// Result codes and small shared definitions of the PBB daemon.
#pragma once

#include <cstdint>

constexpr uint32_t PBB_OK = 0;
constexpr uint32_t PBB_ERR = 0x40010001u;             // resources, platform calls, not found, refused
constexpr uint32_t PBB_ERR_EXIST = 0x40010006u;       // already in the list
constexpr uint32_t PBB_ERR_NOT_SUPPORT = 0x40010008u; // PBB not supported on the interface
constexpr uint32_t PBB_ERR_NO_NODE = 0x4001000bu;     // registry node not allocated
constexpr uint32_t PBB_ERR_NOT_SAVED = 0x4001000cu;   // in effect, but the configuration database refused it
constexpr uint32_t PBB_ERR_NO_MORE_UC = 0x60010023u;  // no further unicast entry
constexpr uint32_t PBB_ERR_UPLINK_ALL = 0x60010025u;  // uplink of all VSIs
constexpr uint32_t PBB_MC_END = 0x00010024u;          // end of a multicast answer

// The daemon's module identity towards the platform's event services.
constexpr uint32_t PBB_MODULE_ID = 0x022F0000u;

constexpr int PBB_INVALID_FD = -1;
constexpr uint32_t PBB_INVALID_HANDLE = 0xFFFFFFFFu;

// Every descriptor callback: (events word, descriptor) -> result the loop ignores.
using PbbFdCallback = uint32_t (*)(uint32_t uiEvents, int iFd);

constexpr uint32_t PBB_EV_IN = 0x1;
constexpr uint32_t PBB_EV_ERR = 0x8;
constexpr uint32_t PBB_EV_HUP = 0x10;
constexpr uint32_t PBB_EV_ERR_HUP = PBB_EV_ERR | PBB_EV_HUP;
