#include "tools/pbbctl/pbbctl_daemon.h"

#include "platform/service.h"
#include "platform/settings.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <utility>
#include <signal.h>

namespace pbbctl {

void applyRunDir(const std::string& runDir)
{
    if (!runDir.empty()) plat::setRunDir(runDir);
}

static bool isPbbd(pid_t pid)
{
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    return std::getline(comm, name) && name == "pbbd";
}

DaemonStatus readDaemonStatus()
{
    DaemonStatus st;
    st.statusFile = plat::serviceStatusFile();
    std::ifstream in(st.statusFile);
    if (!in) {
        if (errno != ENOENT) st.error = "cannot read " + st.statusFile + ": " + std::strerror(errno);
        return st;
    }
    st.fileFound = true;
    std::string line;
    while (std::getline(in, line)) {
        if (line == "READY=1") st.ready = true;
        for (auto [key, value] : {std::pair{"PACKET_SOCKET=", &st.packetSocket},
                                  std::pair{"INTERFACE_EVENTS=", &st.interfaceEvents},
                                  std::pair{"VLAN_EVENTS=", &st.vlanEvents},
                                  std::pair{"AGE_SOCKET=", &st.ageSocket}})
            if (line.rfind(key, 0) == 0) *value = line.substr(std::strlen(key));
        if (line.rfind("MAINPID=", 0) == 0) {
            try {
                st.pid = static_cast<pid_t>(std::stol(line.substr(8)));
            } catch (const std::exception&) {
                st.pid = 0;
            }
        }
    }
    // A member of the daemon's group may not signal it: EPERM says it runs.
    st.alive = st.pid > 0 && (kill(st.pid, 0) == 0 || errno == EPERM) && isPbbd(st.pid);
    return st;
}

}  // namespace pbbctl
