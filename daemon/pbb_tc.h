// Topology-change flushing: spanning tree's topology-change notifications
// withdraw the learned unicast entries they cover, everywhere, on some
// interfaces, on some B-VLANs, or on some B-VLANs of some interfaces. While
// the spanning-tree event service cannot be reached a one-second timer
// retries.
#pragma once

#include "platform/sti.h"

#include <cstdint>

// The notification handed to the callback; it belongs to the platform.
using PbbTcEvent = TC_EVENT_S;

extern int g_iTcFd;
extern uint32_t g_ulTcTimerFd;

uint32_t PBB_tc_Init();
void PBB_tc_Exit();
uint32_t _pbb_tc_HandleEvent(uint32_t uiEvents, int iFd);
uint32_t _pbb_tc_ProcTcEvent(uint32_t uiInstance, const PbbTcEvent* pstEvent);
void _pbb_tc_ConnectTimerExpiry(void* pArg);
void _pbb_tc_PrintDbg(const PbbTcEvent* pstEvent);
