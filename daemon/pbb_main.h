// Start-up, event loop, stop signal and shutdown of the PBB daemon.
#pragma once

#include <cstdint>

extern int g_iPbbEpollFd;
extern int g_iPbbSignalFd;

// The daemon's main: returns only when start-up fails, with the failure
// code; otherwise the process ends through the stop signal.
uint32_t PBB_main_Main();

[[noreturn]] void _pbb_main_EpollSchedule(int iEpFd);
uint32_t _pbb_main_SignalEpEvent(uint32_t uiEvents, int iFd);
void _pbb_main_Exit();
void _pbb_main_DeregSignal();
