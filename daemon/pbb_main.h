// Start-up, event loop, stop signal and shutdown of the PBB daemon.
#pragma once

#include <cstdint>
#include <sys/epoll.h>

extern int g_iPbbEpollFd;
extern int g_iPbbSignalFd;

// Stop values carried by the stop signal.
constexpr int PBB_STOP_ORDERLY = 0;
constexpr int PBB_STOP_ORDERLY_ALT = 1;
constexpr int PBB_STOP_CLEAR = 3;  // withdraw and delete every learned entry, then stop

constexpr int PBB_MAIN_MAX_EVENTS = 16;
constexpr uint32_t PBB_SIGINFO_LEN = 128;
constexpr uint32_t PBB_SIGINFO_INT_OFFSET = 44;

// The daemon's main: returns only when start-up fails, with the failure
// code (the sum of the failing results); otherwise the process ends
// through the stop signal.
uint32_t PBB_main_Main();

// The event loop; never returns.
[[noreturn]] void _pbb_main_EpollSchedule(int iEpFd);
// One wait of the loop: waits up to iTimeoutMs (-1: no time-out) for at
// most 16 events and calls each ready descriptor's callback in the order
// the kernel returned them. Returns the number of events served.
int _pbb_main_EpollOnce(int iEpFd, int iTimeoutMs);

uint32_t _pbb_main_SignalEpEvent(uint32_t uiEvents, int iFd);
void _pbb_main_Exit();
void _pbb_main_DeregSignal();
