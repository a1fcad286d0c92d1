// Management requests served per second on one connection, in process:
// the real server (listening socket, accepted connection, the loop's
// dispatch), a client on the platform's local stream socket, and one type 6
// request and its reply per round trip. The client and the loop share the
// thread: the client writes, one wait of the loop serves the request, the
// client reads the reply.
//
// BM_GetDebugRoundTrip: one request per write (requests_per_second).
// BM_GetDebugBatch16: 16 requests in one write, 16 replies read
// (requests_per_second counts requests, not writes).
//
// Run with --benchmark_repetitions=5 for medians.
#include "daemon/pbb_common.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_gs.h"
#include "daemon/pbb_main.h"
#include "platform/lipc.h"
#include "platform/settings.h"
#include "platform/stlv.h"

#include <benchmark/benchmark.h>

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The server in a private run directory and one accepted client.
class Server {
public:
    Server()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "pbbbench.XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp");
        dir_ = tmpl;
        plat::setRunDir(dir_);
        g_iPbbEpollFd = epoll_create1(0);
        PBB_elipc_InitFdList();
        if (g_iPbbEpollFd < 0 || PBB_gs_Init() != PBB_OK) throw std::runtime_error("server");
        client_ = plat::lipcConnect(PBB_GS_PORT);
        if (client_ < 0) throw std::runtime_error("connect");
        // The loop accepts the connection.
        while (g_stPbbElipcFdList.pstNext->pstNext == &g_stPbbElipcFdList) (void)_pbb_main_EpollOnce(g_iPbbEpollFd, 100);
    }
    ~Server()
    {
        close(client_);
        PBB_gs_Exit();
        PBB_elipc_FiniFdList();
        close(g_iPbbEpollFd);
        g_iPbbEpollFd = PBB_INVALID_FD;
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        plat::resetSettings();
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Writes the requests, serves them, reads replyBytes of replies.
    bool roundTrip(const std::vector<uint8_t>& requests, size_t replyBytes)
    {
        if (send(client_, requests.data(), requests.size(), 0) != static_cast<ssize_t>(requests.size())) return false;
        size_t got = 0;
        while (got < replyBytes) {
            (void)_pbb_main_EpollOnce(g_iPbbEpollFd, 100);
            ssize_t n = recv(client_, buf_, sizeof buf_, MSG_DONTWAIT);
            if (n > 0) got += static_cast<size_t>(n);
        }
        return got == replyBytes;
    }

private:
    std::string dir_;
    int client_ = -1;
    uint8_t buf_[PBB_GS_BUF_LEN];
};

void runGetDebug(benchmark::State& state, size_t perWrite)
{
    Server server;
    std::vector<uint8_t> requests(perWrite * STLV_HEADER_LEN);
    for (size_t i = 0; i < perWrite; ++i)
        (void)STLV_Set(requests.data() + i * STLV_HEADER_LEN, STLV_HEADER_LEN, PBB_GS_REQ_GET_DEBUG, 0, nullptr);
    const size_t replyBytes = perWrite * (STLV_HEADER_LEN + sizeof(uint32_t));
    for (auto _ : state) {
        if (!server.roundTrip(requests, replyBytes)) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
    state.counters["requests_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations() * perWrite), benchmark::Counter::kIsRate);
}

void BM_GetDebugRoundTrip(benchmark::State& state) { runGetDebug(state, 1); }
void BM_GetDebugBatch16(benchmark::State& state) { runGetDebug(state, 16); }

}  // namespace

BENCHMARK(BM_GetDebugRoundTrip)->UseRealTime();
BENCHMARK(BM_GetDebugBatch16)->UseRealTime();
BENCHMARK_MAIN();
