// Multicast pseudo-wire table: one entry per active PBB VSI with its
// sorted port list.
#pragma once

#include <cstdint>

// The port list's links: the list head in the entry is just these two
// links, and every port begins with them.
struct PbbMcPortLink {
    PbbMcPortLink* pstPrev;
    PbbMcPortLink* pstNext;
};

struct PbbMcPort {
    PbbMcPortLink stLink;  // first field: a port and its link share their address
    uint32_t uiIfIndex;
};

struct PbbMcNode {
    PbbMcNode* pstPrev;
    PbbMcNode* pstNext;
};

struct PbbMcPw {
    PbbMcNode stMcNode;  // link in g_stPbbMcList
    uint32_t uiVsiIndex;
    uint32_t uiISid;
    uint16_t usBVlan;
    uint8_t aucMcMac[6];
    PbbMcPortLink stPortList;  // head; ascending ifIndex
    uint32_t uiPortNum;
};

extern PbbMcNode g_stPbbMcList;
// Beside the list: slot i holds the list's first entry of VSI index i, or
// null; g_uiPbbMcByVsiNum slots (0 when the VSI table was not there at
// initialisation).
extern PbbMcPw** g_ppstPbbMcByVsi;
extern uint32_t g_uiPbbMcByVsiNum;

// Backbone service instance group address of an I-SID: 01-1E-83 and the
// I-SID's low 24 bits, most significant byte first.
void PBB_mcpw_GroupMac(uint32_t uiISid, uint8_t* pucMac);

uint32_t PBB_mcpw_Init();
void PBB_mcpw_Exit();
PbbMcPw* PBB_mcpw_Create(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan);
void PBB_mcpw_Destroy(PbbMcPw* pstMcPw);
uint32_t PBB_mcpw_AddPort(PbbMcPw* pstMcPw, uint32_t uiIfIndex);
void PBB_mcpw_DeletePort(PbbMcPw* pstMcPw, uint32_t uiIfIndex);
uint32_t PBB_mcpw_IsPortExist(const PbbMcPw* pstMcPw, uint32_t uiIfIndex);
// The port a link of an entry's port list belongs to (not the head).
inline const PbbMcPort* PBB_mcpw_PortOf(const PbbMcPortLink* pstLink)
{
    return reinterpret_cast<const PbbMcPort*>(pstLink);
}
PbbMcPw* PBB_mcpw_Get(uint32_t uiVsiIndex);
PbbMcPw* PBB_mcpw_GetFirst();
PbbMcPw* PBB_mcpw_GetNext(const PbbMcPw* pstMcPw);
PbbMcPw* PBB_mcpw_GetNextByIndex(uint32_t uiVsiIndex);
