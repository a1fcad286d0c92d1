#include "platform/stub/unix_addr.h"

#include <cstddef>
#include <cstring>

namespace plat {

bool unixAddress(std::string_view path, sockaddr_un& addr, socklen_t& len)
{
    addr = sockaddr_un{};
    addr.sun_family = AF_UNIX;
    if (path.empty()) return false;
    const bool abstract = path.front() == '@';
    // A filesystem path needs room for its NUL; an abstract name does not.
    if (path.size() + (abstract ? 0 : 1) > sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.data(), path.size());
    if (abstract) {
        addr.sun_path[0] = '\0';
        len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
    } else {
        len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    }
    return true;
}

}  // namespace plat
