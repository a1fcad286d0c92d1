// A daemon's connection to the simulated switch, as its platform library
// keeps it: the copy of the switch's state (Mirror) and of its forwarding
// working tables (FibShadow), the shared counter that says when there is
// something to read, requests with their replies, and forwarding records,
// which are not answered.
//
// Records wait here until the next flush or request and then go into the
// record ring pbb-sim shares with this library (record_ring.h), ahead of
// the request: pbb-sim takes the ring before it serves anything the
// connection brings, so a request finds every record sent before it
// applied, and a flush returns once its records are in pbb-sim's reach,
// where pbb-sim takes them before it serves any control command (a
// `pbb-simctl show` made after the call sees them). A full ring waits for
// pbb-sim by a request (Ping), which it answers once it has taken the ring.
//
// The connection is made at the first platform call and again, after the
// simulator went away, whenever a call needs the switch to be there (a
// service's availability, a registration). While there is no connection the
// copy is empty and every service is away; calls that need an answer get
// PLAT_ERR_UNAVAILABLE. Reasons for failures are logged once each under the
// "platform" identity.
//
// A simulator that is there but does not answer (stopped, stuck) costs the
// daemon's thread a reply's whole timeout per attempt, and the daemon asks
// for its services every second. So once a session or an attempt ended for
// want of an answer, no new attempt is made for a while: the reply timeout
// at first, twice as long after each further unanswered attempt, at most
// kHoldMaxMs. A connection made ends the hold, and so does a simulator that
// is not there (the connection refused, or closed by it): such attempts
// cost nothing, and a simulator started again is found at the next call.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/model/unique_fd.h"
#include "platform/transport/fib_shadow.h"
#include "platform/transport/mirror.h"
#include "platform/transport/record_ring.h"
#include "platform/transport/shared_counter.h"
#include "platform/transport/wire.h"

namespace plat::transport {

class Link {
public:
    // enabled false: the link never connects (the platform setting names no
    // switch this library can reach).
    explicit Link(bool enabled = true);
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Called when a service goes away, and for every service when the
    // connection is lost.
    void onServiceDown(std::function<void(sim::Service)> f) { serviceDown_ = std::move(f); }

    bool connected() const { return connected_; }
    // Connects unless connected: one attempt. True when connected.
    bool ensure();
    // Reads the connection when the shared counter says the simulator wrote
    // more than was read. The cost of a call when nothing changed: one load.
    void sync();
    // Reads what waits now whatever the counter says, to notice that the
    // simulator has gone.
    void poll();
    // One request and its reply's result; nullopt when the simulator cannot
    // be reached (the connection is then closed). fd >= 0 travels along.
    std::optional<uint32_t> call(wire::Msg type, const wire::Writer& body, int fd = -1);
    // unanswered: the simulator did not answer in time (a hold follows).
    void disconnect(const std::string& why, bool unanswered = false);

    // A forwarding record and the answer the caller got (from shadow()):
    // it waits for the next flush or request (or until kStagedMax bytes,
    // or half the record ring, wait). Dropped while not connected.
    void stage(const sim::MinMRequest& req, uint32_t result);
    // Puts what waits, then a flush with the answer given, in the record
    // ring, without waiting for pbb-sim unless the ring is full. False when
    // the connection failed.
    bool commit(uint32_t flushResult);

    // The first failure to reach or keep the switch since this link was
    // made (empty while there has been none).
    const std::string& firstProblem() const { return firstProblem_; }

    const Mirror& mirror() const { return mirror_; }
    FibShadow& shadow() { return shadow_; }
    pid_t simulatorPid() const { return simPid_; }
    uint32_t session() const { return session_; }
    // Requests sent so far, each one round trip (for benchmarks).
    uint32_t requests() const { return seq_; }
    // Records sent so far, none of them waited for.
    uint64_t recordsSent() const { return recordsSent_; }
    // Times a sleeping pbb-sim was told that records wait (RingBell).
    uint64_t bellsRung() const { return bellsRung_; }

    // How long a reply (and the snapshot at connection) may take.
    static constexpr int kReplyTimeoutMs = 5000;
    // The longest wait before a new attempt on a simulator that did not answer.
    static constexpr int64_t kHoldMaxMs = 60000;
    // Records that may wait for a flush or request before they are sent.
    static constexpr size_t kStagedMax = 64u << 10;
    // The connection's send buffer asked for (the system caps it at
    // net.core.wmem_max).
    static constexpr int kSendRoom = 4 << 20;

private:
    bool connect();
    // Handles buffered and incoming messages until done() (or, without done,
    // until nothing more waits). False when the connection ended.
    bool readUntil(const std::function<bool()>& done, int64_t deadline);
    void handle(wire::Msg type, const std::vector<uint8_t>& payload);
    bool sendAll(const std::vector<uint8_t>& bytes, int fd, int64_t deadline);
    // The staged records as one Records message appended to out.
    void takeStaged(std::vector<uint8_t>& out, bool flush, uint32_t flushResult);
    // The staged records (and a flush) into the record ring; a bell when
    // pbb-sim asked for one. False when the connection failed.
    bool sendRecords(bool flush, uint32_t flushResult);
    void closeSocket();
    void note(int priority, const std::string& text);

    bool enabled_;
    bool connected_ = false;
    UniqueFd sock_;
    CounterView counter_;
    std::unique_ptr<RecordRing> ring_;
    uint64_t readBytes_ = 0;
    wire::Deframer in_;
    std::deque<UniqueFd> fds_;
    std::vector<uint8_t> buf_;
    Mirror mirror_;
    FibShadow shadow_;
    wire::Writer staged_;
    uint32_t stagedCount_ = 0;
    std::vector<uint8_t> sendBuf_;
    uint64_t recordsSent_ = 0;
    uint64_t bellsRung_ = 0;
    std::function<void(sim::Service)> serviceDown_;

    uint32_t seq_ = 0;
    std::optional<uint32_t> waitingFor_;
    std::optional<uint32_t> reply_;
    // Connection set-up.
    bool handshake_ = false;
    bool helloSeen_ = false;
    bool snapshotDone_ = false;
    std::string refused_;
    pid_t simPid_ = 0;
    uint32_t session_ = 0;
    std::string lastNote_;
    std::string firstProblem_;
    // No attempt to connect before holdUntilMs_; the hold after the next
    // unanswered attempt (0: none yet).
    int64_t holdUntilMs_ = 0;
    int64_t nextHoldMs_ = 0;
};

}  // namespace plat::transport
