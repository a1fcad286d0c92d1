// Reception of PBB frames (EtherType 0x88E7) copied to the CPU, and
// learning of unicast pseudo-wire entries from them: the frame's B-SA is
// reachable, in the VSI of its I-SID and on its B-VLAN, through the port on
// which it arrived.
#pragma once

#include "platform/pktsock.h"

#include <cstdint>

constexpr uint32_t PBB_PKT_MAX_PER_CALL = 26;   // frames read per readable event
constexpr uint32_t PBB_PKT_DATA_BUF = 4096;
constexpr int PBB_PKT_RCVBUF = 204800;
constexpr uint16_t PBB_PKT_BTAG_TPID = 0x8100;  // printed by the debug dump
constexpr uint16_t PBB_STP_FORWARDING = 3;

// The socket's state in the service manager's status file:
// "PACKET_SOCKET=open", or "closed" while it cannot be opened again.
constexpr const char* PBB_PKT_STATE_NAME = "PACKET_SOCKET";

// The packet socket's 52-byte address record is the platform's.
using PbbPktSockAddr = PKT_SOCKADDR_S;

// The parsed frame.
struct PbbPktFrameInfo {
    uint32_t uiISid;
    uint16_t usBVlan;
    uint8_t aucBDa[6];
    uint8_t aucBSa[6];
    uint8_t aucCDa[6];
    uint8_t aucCSa[6];
};

extern int g_iPbbPktSocketFd;
// How the socket is opened again after a hang-up (its retry timer).
struct PbbReopen;
extern PbbReopen g_stPbbPktReopen;

uint32_t PBB_pkt_Init();
void PBB_pkt_Exit();
// An error or hang-up closes the socket and opens a new one at once; when
// that fails the reopen timer retries every second.
uint32_t _pbb_pkt_EpollCallback(uint32_t uiEvents, int iFd);
// Reads at most PBB_PKT_MAX_PER_CALL frames and learns from each. Returns
// how many messages were received (learned, refused or skipped).
uint32_t _pbb_pkt_EpollInProc(int iFd);
int _pbb_pkt_SocketInit();
// Learning from one parsed frame that arrived on uiIfIndex.
void _pbb_pkt_Learn(const PbbPktFrameInfo* pstFrame, uint32_t uiIfIndex);
