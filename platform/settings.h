// Platform settings: where the platform keeps its sockets, status files,
// databases and the daemon's log file. The daemon never reads these itself;
// the platform services it calls do.
//
// Defaults are /run/pbb, /var/lib/pbb and no log file. A lab or a test
// overrides them through the environment of the process (PBB_RUN_DIR,
// PBB_STATE_DIR, PBB_LOG_FILE) or, inside a test process, through the
// setters below, which win over the environment.
#pragma once

#include <string>

namespace plat {

std::string runDir();
std::string stateDir();
// Empty when lines go to the system log only.
std::string logFile();

void setRunDir(const std::string& dir);
void setStateDir(const std::string& dir);
void setLogFile(const std::string& file);
// Back to defaults and environment.
void resetSettings();

// Creates dir (and its parents) with mode 0750 if missing. The directory
// itself must then belong to the process's effective user and must not be
// writable by others. ensureDirProblem gives what is wrong (empty when
// nothing is, errno set otherwise); ensureDir only whether it is usable.
std::string ensureDirProblem(const std::string& dir);
bool ensureDir(const std::string& dir);

}  // namespace plat
