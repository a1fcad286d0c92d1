// Control logic: activation of VSIs, their B-VLAN and encapsulation
// settings, uplinks, the ports of the multicast entries, and the withdrawal
// of learned unicast entries from the driver, the database and the table.
// The module owns no data; it decides, and the table, driver and database
// modules carry the state.
#pragma once

#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_vsi.h"
#include "platform/bitmap.h"

#include <cstdint>

// Activation of a VSI's multicast entry starts with room for this many
// ports and doubles it whenever it is full.
constexpr uint32_t PBB_CTL_PORT_LIST_INIT = 512;
// Names that a per-VSI uplink request adds are kept for its roll-back in a
// list with room for this many; a longer request gets a list of its size.
constexpr uint32_t PBB_CTL_ROLLBACK_NAMES = 10;

// VSI activation, encapsulation and B-VLAN.
void PBB_ctl_ActiveVsi(uint32_t uiVsiIndex);
void PBB_ctl_DeactiveVsi(uint32_t uiVsiIndex);
uint32_t PBB_ctl_SetEncapType(uint32_t uiEncapType, const char* szVsiName, uint32_t uiISid);
uint32_t PBB_ctl_ResetEncapType(const char* szVsiName, uint32_t uiISid);
uint32_t PBB_ctl_SetBVlan(uint16_t usBVlan, const char* szVsiName, uint32_t uiISid);
uint32_t PBB_ctl_ResetBVlan(const char* szVsiName, uint32_t uiISid);

// Uplinks. aszVsiName holds uiCount names of PBB_VSI_NAME_LEN bytes each.
uint32_t PBB_ctl_AddUplink(uint32_t uiIfIndex, uint32_t uiCount, const char (*aszVsiName)[PBB_VSI_NAME_LEN]);
uint32_t PBB_ctl_DeleteUplink(uint32_t uiIfIndex, uint32_t uiCount, const char (*aszVsiName)[PBB_VSI_NAME_LEN]);
uint32_t PBB_ctl_SetAllVsiUplink(uint32_t uiIfIndex);
uint32_t PBB_ctl_ResetAllVsiUplink(uint32_t uiIfIndex);

// Multicast ports: offering one interface to one VSI, withdrawing it.
void PBB_ctl_ActiveMcPort(uint32_t uiVsiIndex, uint32_t uiIfIndex);
void PBB_ctl_DeactiveMcPort(uint32_t uiVsiIndex, uint32_t uiIfIndex);

// Unicast resets: the selected entries leave the driver, then the
// database, then the table.
void PBB_ctl_ResetUcPw(uint32_t uiVsiIndex, uint16_t usBVlan, const uint8_t* pucBMac);
void PBB_ctl_ResetUcPwByVsi(uint32_t uiVsiIndex);
void PBB_ctl_ResetUcPwByIf(uint32_t uiIfIndex);
void PBB_ctl_ResetUcPwByVlan(uint16_t usBVlan);
void PBB_ctl_ResetUcPwByVlanIf(uint16_t usBVlan, uint32_t uiIfIndex);
void PBB_ctl_ResetUcPwAll();
// An empty interface list (uiCount 0) selects every interface, in the
// driver and the table as in the database.
void PBB_ctl_ResetUcPwBatchWithVsi(uint32_t uiVsiIndex, uint32_t uiCount, const uint32_t* puiIfIndex);
void PBB_ctl_ResetUcPwBatchWithoutVsi(const BITMAP_S* pstVlanBitmap, uint32_t uiCount, const uint32_t* puiIfIndex);

// Module-private steps, exported for the tests.
PbbVsi* _pbb_ctl_GetAndCheckVsi(const char* szVsiName, uint32_t uiISid);
void _pbb_ctl_DeleteVsi(uint32_t uiVsiIndex);
// PBB_OK once the configuration database holds the VSI's settings (or,
// for the defaults, no record), else PBB_ERR.
uint32_t _pbb_ctl_UpdateVsiCfgDbm(const PbbVsi* pstVsi);
uint32_t* _pbb_ctl_ReAllocMcPortList(uint32_t uiCount, uint32_t* puiList, uint32_t* puiCapacity);
uint32_t _pbb_ctl_IsNeedAddMcPwPort(const PbbVsi* pstVsi, const PbbIfCb* pstIfCb);
void _pbb_ctl_AddMcPw(const PbbVsi* pstVsi, const uint32_t* puiPorts, uint32_t uiCount);
uint32_t _pbb_ctl_AddMcPwPort(PbbMcPw* pstMcPw, uint32_t uiIfIndex);
void _pbb_ctl_DeleteUplinkVsi(uint32_t uiIfIndex, const char* szVsiName);
