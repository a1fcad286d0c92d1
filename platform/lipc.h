// The platform's local inter-process socket family (family 37).
//
// Sockets of this family are addressed by a 16-byte record with a port and
// a node address. Here the family is carried by Unix-domain sockets under
// the run directory:
//  - a stream socket (protocol 1, the request service) bound to port P
//    listens at <run dir>/lipc.P; clients connect with plat::lipcConnect;
//  - a report socket (stream type with protocol 6) bound to port P receives
//    whole reports, one per send, at <run dir>/lipc.P; it is never
//    connected and never listens. The in-process switch sends with
//    plat::lipcSendReport; pbb-sim keeps its own sender that never blocks
//    (tools/pbb-sim/reports.h), as the daemon may be waiting for pbb-sim
//    while its report queue is full.
// Socket files are created mode 0660 with the directory not world-writable.
#pragma once

#include <sys/socket.h>
#include <cstddef>
#include <cstdint>
#include <string>

constexpr int PLAT_AF_LIPC = 37;
constexpr int LIPC_PROTO_STREAM = 1;
constexpr int LIPC_PROTO_REPORT = 6;
constexpr uint32_t LIPC_NODE_LOCAL = 0x80000000u;

struct LipcSockAddr {
    uint8_t ucLen;       // 16
    uint8_t ucFamily;    // 37
    uint16_t usPort;     // network byte order
    uint8_t aucNode[4];  // 0x80 0x00 0x00 0x00
    uint8_t aucZero[8];
};
static_assert(sizeof(LipcSockAddr) == 16);
static_assert(offsetof(LipcSockAddr, usPort) == 2);

// Stands in for socket(37, type, protocol).
int LIPC_Socket(int iType, int iProtocol);
// Stands in for bind() with a LipcSockAddr; a stale socket file is replaced.
int LIPC_Bind(int iFd, const void* pAddr, socklen_t uiAddrLen);

namespace plat {
// Path of the socket file for a port under the current run directory.
std::string lipcPath(uint16_t usPort);
// Client side: a connected blocking stream to the server at port; -1 and
// errno on failure.
int lipcConnect(uint16_t usPort);
// Sends one report to the report socket at port; 0 or -1 with errno.
int lipcSendReport(uint16_t usPort, const void* pData, size_t len);
}  // namespace plat
