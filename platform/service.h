// Service manager. The daemon calls SERVICE_SetStatus once, with status 2,
// when its start-up is complete.
//
// Status 2 (ready): tells systemd READY=1 and MAINPID through the notify
// protocol when NOTIFY_SOCKET is set, and writes the status file
// <run dir>/pbbd.status ("READY=1\nMAINPID=<pid>\n") so that tools find the
// daemon. Other status values are recorded in the file as STATUS=<n>.
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t SERVICE_STATUS_READY = 2;

uint32_t SERVICE_SetStatus(uint32_t uiStatus);

// A state of the daemon that tools read from the status file: the line
// "<name>=<value>" after the status lines. The latest value of each name is
// kept and written with every later write of the file; before the first
// write (readiness) it is only kept. A name is letters, digits and '_' and
// is none of READY, MAINPID and STATUS; a value holds no line end. Result:
// 0; 1 when the file could not be written; 2 for a name or value refused.
uint32_t SERVICE_SetState(const char* szName, const char* szValue);

namespace plat {
// Path of the status file under the current run directory.
std::string serviceStatusFile();

// Asked by SERVICE_SetStatus(2) before it reports readiness: empty when
// the process may report start-up complete, otherwise why it may not (the
// switch did not serve its start-up). Then the process does not report
// readiness: it logs the reason and ends with exit status 1. The switch
// backend installs the check; without one, readiness is always reported.
using ReadinessCheck = std::string (*)();
void setReadinessCheck(ReadinessCheck check);
// Exit status of a process whose start-up failed that way.
constexpr int SERVICE_STARTUP_FAILED_EXIT = 1;

// Sends one state message ("READY=1\n...") to the service manager through
// the notify protocol when NOTIFY_SOCKET is set (a path, or '@' for the
// abstract namespace); does nothing otherwise. A failure is logged and
// otherwise ignored. For processes that are services without being the
// daemon (pbb-sim): they report readiness this way and write no status file.
void notifyServiceManager(const std::string& state);
}  // namespace plat
