// Unix-domain socket helpers of the switch transport: connecting and
// listening by path, and descriptors passed along with bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>

#include "platform/model/unique_fd.h"

namespace plat::transport {

// A socket connected to path (non-blocking when asked); invalid with errno
// on failure.
UniqueFd connectUnix(const std::string& path, int type, bool nonBlocking);
// A blocking socket connected to path, waiting at most timeoutMs (0: no
// limit) while the listener's queue is full; invalid with errno on failure
// (EAGAIN when the time ran out).
UniqueFd connectUnixWithin(const std::string& path, int type, int timeoutMs);

// A listening socket at path. A socket file that nobody serves any more is
// replaced; one that a live process serves is not: the result is then
// invalid with errno EADDRINUSE. The file is made mode 0660.
UniqueFd listenUnix(const std::string& path, int type);

// sendmsg with MSG_NOSIGNAL and the descriptors passed along, in their
// order (SCM_RIGHTS; at most 4). Returns what sendmsg returns.
ssize_t sendWithFds(int sock, std::span<const uint8_t> bytes, std::span<const int> fds, int flags);
// The same with one descriptor when fd >= 0, none otherwise.
ssize_t sendWithFd(int sock, std::span<const uint8_t> bytes, int fd, int flags);

// recvmsg into buf; descriptors that come along are appended to fds (at
// most 16 are kept waiting; more are closed). Returns what recvmsg returns.
ssize_t recvWithFds(int sock, std::span<uint8_t> buf, std::deque<UniqueFd>& fds, int flags);

// Milliseconds of a monotonic clock.
int64_t nowMs();

}  // namespace plat::transport
