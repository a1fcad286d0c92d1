// Unix-domain socket addresses from paths, for the local socket family and
// the service manager's notify socket.
#pragma once

#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>

namespace plat {

// Fills addr and len for path; a leading '@' names the abstract namespace.
// False when the path is empty or does not fit.
bool unixAddress(std::string_view path, sockaddr_un& addr, socklen_t& len);

}  // namespace plat
