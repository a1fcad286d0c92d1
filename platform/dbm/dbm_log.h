// The service's own log lines, in the platform log under ident "dbm".
#pragma once

#include <string_view>

namespace plat::dbm {

void logError(std::string_view text);
void logWarning(std::string_view text);

}  // namespace plat::dbm
