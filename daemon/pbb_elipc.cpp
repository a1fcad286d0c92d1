#include "daemon/pbb_elipc.h"

#include "daemon/pbb_list.h"
#include "platform/lipc.h"

#include <arpa/inet.h>
#include <array>
#include <cstdlib>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

PbbElipcNode g_stPbbElipcFdList = {&g_stPbbElipcFdList, &g_stPbbElipcFdList, -1, -1};

namespace {

// Distinct callback functions registered so far; slots are never reused.
constexpr size_t PBB_ELIPC_MAX_CALLBACKS = 64;
std::array<PbbFdCallback, PBB_ELIPC_MAX_CALLBACKS> g_apfElipcCallbacks{};

// Slot of a callback, 0xFFFFFFFF when the table is full.
uint32_t _pbb_elipc_CallbackSlot(PbbFdCallback pfCallback)
{
    for (uint32_t i = 0; i < g_apfElipcCallbacks.size(); ++i) {
        if (g_apfElipcCallbacks[i] == pfCallback) return i;
        if (g_apfElipcCallbacks[i] == nullptr) {
            g_apfElipcCallbacks[i] = pfCallback;
            return i;
        }
    }
    return 0xFFFFFFFFu;
}

int _pbb_elipc_SetNonBlock(int iFd)
{
    int iOn = 1;
    return ioctl(iFd, FIONBIO, &iOn);
}

}  // namespace

uint64_t _pbb_elipc_PackUserData(int iFd, PbbFdCallback pfCallback)
{
    uint32_t uiSlot = _pbb_elipc_CallbackSlot(pfCallback);
    return (static_cast<uint64_t>(uiSlot) << 32) | static_cast<uint32_t>(iFd);
}

uint32_t PBB_elipc_Dispatch(uint64_t ulData, uint32_t uiEvents)
{
    uint32_t uiSlot = static_cast<uint32_t>(ulData >> 32);
    int iFd = static_cast<int>(static_cast<uint32_t>(ulData));
    if (uiSlot >= g_apfElipcCallbacks.size() || g_apfElipcCallbacks[uiSlot] == nullptr) return 0;
    return g_apfElipcCallbacks[uiSlot](uiEvents, iFd);
}

uint32_t PBB_elipc_InitFdList()
{
    pbb::list::init(&g_stPbbElipcFdList);
    return PBB_OK;
}

void PBB_elipc_FiniFdList()
{
    PbbElipcNode* pstHead = &g_stPbbElipcFdList;
    while (!pbb::list::empty(pstHead)) {
        PbbElipcNode* pstNode = pstHead->pstNext;
        pbb::list::unlink(pstNode);
        free(pstNode);
    }
}

int PBB_elipc_Add(int iEpFd, int iFd, PbbFdCallback pfCallback)
{
    if (_pbb_elipc_CallbackSlot(pfCallback) == 0xFFFFFFFFu) return -1;
    struct epoll_event stEvent {};
    stEvent.events = PBB_ELIPC_EVENTS;
    stEvent.data.u64 = _pbb_elipc_PackUserData(iFd, pfCallback);
    return epoll_ctl(iEpFd, EPOLL_CTL_ADD, iFd, &stEvent);
}

int PBB_elipc_Del(int iEpFd, int iFd)
{
    struct epoll_event stEvent {};
    return epoll_ctl(iEpFd, EPOLL_CTL_DEL, iFd, &stEvent);
}

uint32_t _pbb_elipc_AddNode(int iFd, int iParentFd)
{
    auto* pstNode = static_cast<PbbElipcNode*>(calloc(1, sizeof(PbbElipcNode)));
    if (pstNode == nullptr) return PBB_ERR_NO_NODE;
    pstNode->iFd = iFd;
    pstNode->iParentFd = iParentFd;
    pbb::list::pushFront(&g_stPbbElipcFdList, pstNode);
    return PBB_OK;
}

int PBB_elipc_Server(uint32_t uiPort, int iEpFd, PbbFdCallback pfCallback)
{
    int iFd = LIPC_Socket(SOCK_STREAM, LIPC_PROTO_STREAM);
    if (iFd < 0) return iFd;

    LipcSockAddr stAddr{};
    stAddr.ucLen = sizeof(LipcSockAddr);
    stAddr.ucFamily = PLAT_AF_LIPC;
    stAddr.usPort = htons(static_cast<uint16_t>(uiPort & 0xFFFF));
    stAddr.aucNode[0] = 0x80;
    if (LIPC_Bind(iFd, &stAddr, sizeof(stAddr)) != 0 || listen(iFd, PBB_ELIPC_BACKLOG) != 0) {
        close(iFd);
        return -1;
    }
    if (_pbb_elipc_SetNonBlock(iFd) != 0) {
        close(iFd);
        return -1;
    }
    if (PBB_elipc_Add(iEpFd, iFd, pfCallback) != 0) {
        close(iFd);
        return -1;
    }
    if (_pbb_elipc_AddNode(iFd, -1) != PBB_OK) {
        PBB_elipc_Del(iEpFd, iFd);
        close(iFd);
        return -1;
    }
    return iFd;
}

int PBB_elipc_ServerAccept(uint32_t /*uiEvents*/, int iEpFd, int iListenFd, PbbFdCallback pfCallback)
{
    std::array<uint8_t, 16> aucPeer{};
    socklen_t uiPeerLen = aucPeer.size();
    int iFd = accept(iListenFd, reinterpret_cast<struct sockaddr*>(aucPeer.data()), &uiPeerLen);
    if (iFd < 0) return iFd;
    if (_pbb_elipc_SetNonBlock(iFd) != 0) {
        close(iFd);
        return -1;
    }
    if (PBB_elipc_Add(iEpFd, iFd, pfCallback) != 0) {
        close(iFd);
        return -1;
    }
    if (_pbb_elipc_AddNode(iFd, iListenFd) != PBB_OK) {
        PBB_elipc_Del(iEpFd, iFd);
        close(iFd);
        return -1;
    }
    return iFd;
}

int PBB_elipc_Close(int iEpFd, int iFd)
{
    PbbElipcNode* pstHead = &g_stPbbElipcFdList;
    PBB_elipc_Del(iEpFd, iFd);

    // Connections accepted by fd first.
    for (PbbElipcNode* pstNode = pstHead->pstNext; pstNode != pstHead;) {
        PbbElipcNode* pstNext = pstNode->pstNext;
        if (pstNode->iParentFd == iFd) {
            PBB_elipc_Del(iEpFd, pstNode->iFd);
            close(pstNode->iFd);
            pbb::list::unlink(pstNode);
            free(pstNode);
        }
        pstNode = pstNext;
    }
    // Then fd's own node, if it has one.
    for (PbbElipcNode* pstNode = pstHead->pstNext; pstNode != pstHead; pstNode = pstNode->pstNext) {
        if (pstNode->iFd == iFd) {
            pbb::list::unlink(pstNode);
            free(pstNode);
            break;
        }
    }
    return close(iFd);
}
