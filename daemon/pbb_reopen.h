// Event channels and sockets that the daemon opens again every second after
// an error or hang-up closed them and the first attempt to reopen failed:
// nothing that the channel carries is followed while it is closed, so that
// is said whatever the debug switches (a warning when it stays closed, a
// notice when it opens again) and shown in the service manager's status
// file ("<NAME>=open" or "closed").
#pragma once

#include <cstdint>

constexpr const char* PBB_REOPEN_STATE_OPEN = "open";
constexpr const char* PBB_REOPEN_STATE_CLOSED = "closed";

struct PbbReopen {
    const char* szStateName;     // the status file's key
    uint32_t (*pfOpen)();        // PBB_OK, or PBB_ERR with nothing left open
    const char* szWarningTag;
    const char* szWarning;       // the channel is closed and cannot be opened
    const char* szNoticeTag;
    const char* szNotice;        // it has been opened again
    uint32_t ulTimer;            // the retry timer while closed, else PBB_TMR_INVALID
};

// Opened (at start-up or again): written to the status file.
void PBB_reopen_TellOpen(const PbbReopen* pstReopen);
// After the channel was closed for an error or hang-up: opens it at once;
// when that fails, warns, writes "closed" and retries every second.
// PBB_OK when it is open again.
uint32_t PBB_reopen_AfterClose(PbbReopen* pstReopen);
// Stops retrying (shutdown).
void PBB_reopen_Stop(PbbReopen* pstReopen);
