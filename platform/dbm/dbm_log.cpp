#include "platform/dbm/dbm_log.h"

#include "platform/stub/logfile.h"

#include <syslog.h>

namespace plat::dbm {

void logError(std::string_view text) { plat::writeLog(LOG_LOCAL7 | LOG_ERR, "dbm", "DBM", text); }
void logWarning(std::string_view text) { plat::writeLog(LOG_LOCAL7 | LOG_WARNING, "dbm", "DBM", text); }

}  // namespace plat::dbm
