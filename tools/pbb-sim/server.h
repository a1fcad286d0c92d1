// pbb-sim's process: the switch model served to one daemon at a time on
// <run dir>/sim.sock and driven by pbb-simctl on <run dir>/sim-ctl.sock,
// from one thread and one event loop.
//
// The model keeps its state whoever connects: a daemon that stops, crashes
// or is refused leaves it as it was, apart from its own registrations,
// which end with its connection. A second daemon while one is connected is
// refused with a message naming the one served. Commands run to completion
// one at a time; what the model produces while a command runs (events,
// hang-ups, frames, reports) waits until the command's state changes have
// been sent, then follows them in order.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/model/switch_model.h"
#include "tools/pbb-sim/forwarder.h"
#include "tools/pbb-sim/injector.h"
#include "tools/pbb-sim/loop.h"
#include "tools/pbb-sim/reports.h"
#include "tools/pbb-sim/session.h"
#include "tools/pbb-sim/stats.h"
#include "tools/simcmd/link_capture.h"
#include "tools/simcmd/simcmd.h"

namespace pbbsim {

class Server final : public simcmd::Host {
public:
    // Control clients served at once; a new one past this closes the one
    // idle longest.
    static constexpr size_t kControlClientsMax = 64;
    // Answers that may wait for one control client: past this its further
    // requests are not read until it reads.
    static constexpr size_t kControlOutputMax = 1u << 20;
    // Frames the injector may hold, and their bytes: a command that would
    // pass either is refused.
    static constexpr size_t kInjectFramesMax = 1000000;
    static constexpr size_t kInjectBytesMax = 128u << 20;

    // ringCapacity: the record ring of each daemon's session (record_ring.h).
    explicit Server(sim::SwitchModel& model,
                    size_t ringCapacity = plat::transport::RecordRing::kDefaultCapacity);
    ~Server() override;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens under the platform's run directory (made if missing). False
    // with the reason when another pbb-sim serves it or it cannot be used.
    bool listen(std::string* error);
    // Serves until stop(), or until stopFd (a signal descriptor) is readable.
    void run(int stopFd = -1);
    void stop() { loop_.stop(); }

    // One command, as pbb-simctl's requests run.
    simcmd::Outcome command(const std::vector<std::string>& words, bool json);
    const Stats& counters() const { return stats_; }

    // simcmd::Host
    simcmd::Outcome failCall(const std::string& call, int64_t result, unsigned times) override;
    simcmd::Outcome clearFaults() override;
    simcmd::Outcome injectFrames(uint32_t port, std::vector<std::vector<uint8_t>> frames, double rate) override;
    simcmd::Outcome bindLink(const std::string& linuxIf, const std::string& netns, uint32_t port) override;
    simcmd::Outcome unbindLink(const std::string& linuxIf) override;
    int passedFile(const std::string& path) override;
    nlohmann::json stats() const override;
    nlohmann::json dataplane() const override { return forwarder_.show(); }

private:
    struct FrameOut {
        std::vector<uint8_t> bytes;
    };
    struct ReportOut {
        std::vector<uint8_t> bytes;
    };
    using Output = std::variant<sim::Event, sim::Service, FrameOut, ReportOut>;

    // Where the model's output goes: the connected daemon, held back while
    // a command runs.
    class Sink final : public sim::EventSink {
    public:
        explicit Sink(Server& s) : s_(s) {}
        void deliver(const sim::Event& ev) override { put(ev); }
        void serviceDown(sim::Service service) override { put(service); }
        void cpuFrame(const std::vector<uint8_t>& datagram) override { put(FrameOut{datagram}); }
        void lineCardReport(const std::vector<uint8_t>& message) override { put(ReportOut{message}); }
        void hold() { holding_ = true; }
        void release();

    private:
        void put(Output o);
        Server& s_;
        bool holding_ = false;
        std::vector<Output> held_;
    };

    struct Fault {
        std::string call;
        int64_t result;
        unsigned times;
    };
    struct Control {
        plat::UniqueFd fd;
        uint64_t watch = 0;
        std::string in;
        std::string out;
        std::deque<plat::UniqueFd> fds;  // descriptors passed with requests, in order
        uint64_t active = 0;             // when it last sent something (a counter)
        bool closing = false;
        bool paused = false;             // its answers are over the limit: not read
    };
    // The file of the request being answered: its path and the descriptor
    // its client passed.
    struct Passed {
        std::string path;
        int fd;
    };
    struct BoundLink {
        std::unique_ptr<simcmd::LinkCapture> capture;
        uint32_t port = 0;
        uint64_t watch = 0;
        uint64_t frames = 0;
    };

    void route(Output& o);
    void acceptDaemon();
    void endSession();
    Session* daemon() const { return session_ && !session_->ended() ? session_.get() : nullptr; }
    // One connection from a listening socket. Out of descriptors, the
    // control client idle longest is closed to make room; with none, the
    // connection is taken with the spare descriptor and closed at once, so
    // that the listening socket does not stay readable.
    plat::UniqueFd acceptFrom(int listenFd);
    bool shedIdleControl(const std::string& why);
    void acceptControl();
    void onControl(uint64_t id, uint32_t events);
    void serveControl(uint64_t id, uint32_t events);
    // Writes what waits for the client; false when it is gone.
    bool writeControl(Control& c);
    void answer(Control& c, const std::string& line);
    void closeControl(uint64_t id);
    void logRoomMade(const std::string& why);
    void readLink(const std::string& name);
    int idle();
    std::string checkPort(uint32_t port) const;

    sim::SwitchModel& model_;
    Loop loop_;
    Sink sink_;
    Stats stats_;
    Injector injector_;
    Forwarder forwarder_;
    ReportSender reports_;
    plat::UniqueFd daemonListen_;
    plat::UniqueFd controlListen_;
    std::string daemonPath_;
    std::string controlPath_;
    std::unique_ptr<Session> session_;
    uint32_t sessionNumber_ = 0;
    size_t ringCapacity_;
    std::vector<Fault> pendingFaults_;
    std::map<uint64_t, Control> controls_;
    uint64_t nextControl_ = 1;
    uint64_t activity_ = 0;
    const Passed* passed_ = nullptr;
    plat::UniqueFd spare_;
    int64_t roomLoggedMs_ = -1;
    uint64_t roomUnlogged_ = 0;
    std::map<std::string, BoundLink> links_;
};

}  // namespace pbbsim
