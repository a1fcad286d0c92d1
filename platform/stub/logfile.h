// The log service's output side, shared by vsyslog2 and by the platform's
// own components (the configuration database, the simulated switch) that
// report their failures in the same log.
#pragma once

#include <string_view>

namespace plat {

// Writes text under ident and tag with a syslog priority (facility and
// severity in the low byte): to the system log and, when a log file is
// set, to that file, one line per line of text (empty lines dropped).
void writeLog(int iPriority, std::string_view ident, std::string_view tag, std::string_view text);

// Closes the log file if it is open (the next write reopens it).
void closeLogFile();

}  // namespace plat
