// The platform's packet socket (family 17): frames that the forwarding
// plane copies to the CPU.
//
// PKT_Socket, PKT_Bind, PKT_SetSockOpt and PKT_RecvMsg stand in for
// socket, bind, setsockopt and recvmsg on this family and follow the C
// library's conventions (-1 and errno on failure). The descriptor is a real
// one: it works with epoll, is readable while frames wait, reports hang-up
// when the packet service goes away, and is released with close().
//
// A socket receives nothing until it is bound to an EtherType; it then
// receives every copied frame of that EtherType (all EtherTypes when
// PKT_OPT_RECV_ALL is 1). Each receive returns one frame:
//  - the name: a PKT_SOCKADDR_S with the outer Ethernet header (B-SA, B-DA,
//    B-VLAN) and the EtherType after the backbone tag;
//  - the control data: one PKT_CTRL_S of type PKT_CTRL_IFINDEX with the
//    ingress ifIndex, when PKT_OPT_IFINDEX_CTRL is 1 (a member port's frame
//    carries its aggregate's ifIndex);
//  - the data: the frame from the byte after that EtherType on (for an
//    I-tagged frame: the I-Tag flags, the I-SID, C-DA, C-SA and the rest).
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

constexpr int PKT_AF_PACKET = 17;
constexpr int PKT_PROTO_CPU_COPY = 1;     // protocol: frames copied to the CPU (the only one offered)
constexpr int PKT_SOL_PACKET = 263;
constexpr int PKT_OPT_RECV_ALL = 1;       // int 0/1: receive every EtherType
constexpr int PKT_OPT_IFINDEX_CTRL = 5;   // int 0/1: deliver the ingress control record
constexpr int PKT_SOL_SOCKET = 1;
constexpr int PKT_SO_RCVBUF = 0x1002;     // int: receive buffer size in bytes

constexpr uint16_t PKT_ETHERTYPE_ITAG = 0x88E7;
constexpr uint32_t PKT_CTRL_IFINDEX = 1;

// Address record. Multi-byte fields are in the host's byte order, MAC
// addresses in transmission order. The fields at offsets 2, 4, 44, 46 and
// 48 are accepted as given by bind and returned as zero on receive.
struct PKT_SOCKADDR_S {
    uint8_t ucLen;           // sizeof(PKT_SOCKADDR_S)
    uint8_t ucFamily;        // PKT_AF_PACKET
    uint16_t usSelect;
    uint16_t usMode;
    uint16_t usEtherType;    // bound EtherType / the frame's EtherType
    uint8_t aucSrcMac[6];    // B-SA
    uint8_t aucDstMac[6];    // B-DA
    uint16_t usVlanId;       // B-VLAN ID of the backbone tag
    uint8_t aucReserved[22];
    uint16_t usHwType;
    uint16_t usPktType;
    uint32_t uiFlags;
};
static_assert(sizeof(PKT_SOCKADDR_S) == 52);
static_assert(offsetof(PKT_SOCKADDR_S, usEtherType) == 6);
static_assert(offsetof(PKT_SOCKADDR_S, aucSrcMac) == 8);
static_assert(offsetof(PKT_SOCKADDR_S, aucDstMac) == 14);
static_assert(offsetof(PKT_SOCKADDR_S, usVlanId) == 20);
static_assert(offsetof(PKT_SOCKADDR_S, usHwType) == 44);
static_assert(offsetof(PKT_SOCKADDR_S, usPktType) == 46);
static_assert(offsetof(PKT_SOCKADDR_S, uiFlags) == 48);

// Control record: four 32-bit words.
struct PKT_CTRL_S {
    uint32_t uiLen;      // sizeof(PKT_CTRL_S)
    uint32_t uiLevel;    // PKT_SOL_PACKET
    uint32_t uiType;     // PKT_CTRL_IFINDEX
    uint32_t uiIfIndex;
};
static_assert(sizeof(PKT_CTRL_S) == 16);

int PKT_Socket(int iFamily, int iType, int iProtocol);
int PKT_Bind(int iFd, const void* pAddr, socklen_t uiAddrLen);
int PKT_SetSockOpt(int iFd, int iLevel, int iName, const void* pValue, socklen_t uiLen);
// Receives one frame; MSG_DONTWAIT is honoured. Returns the data bytes
// stored (MSG_TRUNC set in msg_flags when the data was cut, MSG_CTRUNC when
// the control buffer was too small for the record).
ssize_t PKT_RecvMsg(int iFd, struct msghdr* pstMsg, int iFlags);
