// Registry of the descriptors watched by the daemon's epoll instance, and
// the stream servers on the platform's local socket family.
#pragma once

#include "daemon/pbb_common.h"

#include <cstdint>

struct PbbElipcNode {
    PbbElipcNode* pstPrev;
    PbbElipcNode* pstNext;
    int iParentFd;  // listening descriptor that accepted this connection; -1 for a listening socket
    int iFd;
};

// Head of the registry list of listening sockets and accepted connections.
extern PbbElipcNode g_stPbbElipcFdList;

// Every registration watches readable, error and hang-up, level-triggered.
constexpr uint32_t PBB_ELIPC_EVENTS = PBB_EV_IN | PBB_EV_ERR | PBB_EV_HUP;
constexpr int PBB_ELIPC_BACKLOG = 5;

uint32_t PBB_elipc_InitFdList();
void PBB_elipc_FiniFdList();
int PBB_elipc_Add(int iEpFd, int iFd, PbbFdCallback pfCallback);
int PBB_elipc_Del(int iEpFd, int iFd);
int PBB_elipc_Server(uint32_t uiPort, int iEpFd, PbbFdCallback pfCallback);
int PBB_elipc_ServerAccept(uint32_t uiEvents, int iEpFd, int iListenFd, PbbFdCallback pfCallback);
int PBB_elipc_Close(int iEpFd, int iFd);
uint32_t _pbb_elipc_AddNode(int iFd, int iParentFd);

// The event's user data carries the descriptor and the callback: the low
// 32 bits hold the descriptor, the high 32 bits the callback's slot in a
// small table of callbacks (there are only a handful of distinct callback
// functions). The loop turns it back with no search.
uint64_t _pbb_elipc_PackUserData(int iFd, PbbFdCallback pfCallback);
// Calls the callback carried by data with the events word and the
// descriptor; returns the callback's result (0 when data carries none).
uint32_t PBB_elipc_Dispatch(uint64_t ulData, uint32_t uiEvents);
