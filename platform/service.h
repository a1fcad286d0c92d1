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

namespace plat {
// Path of the status file under the current run directory.
std::string serviceStatusFile();
}  // namespace plat
