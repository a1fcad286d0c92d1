// Finding the running daemon through the service manager's status file.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace pbbctl {

struct DaemonStatus {
    std::string statusFile;
    bool fileFound = false;
    bool ready = false;
    pid_t pid = 0;
    bool alive = false;  // a process with that pid runs and it is pbbd
    // "open" or "closed" as the daemon last wrote them; empty when not written.
    std::string packetSocket;     // PACKET_SOCKET
    std::string interfaceEvents;  // INTERFACE_EVENTS
    std::string vlanEvents;       // VLAN_EVENTS
    std::string ageSocket;        // AGE_SOCKET
    std::string error;         // the file is there but cannot be read (no right to)
};

DaemonStatus readDaemonStatus();

// Applies --run-dir to the platform settings when given.
void applyRunDir(const std::string& runDir);

}  // namespace pbbctl
