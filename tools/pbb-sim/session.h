// One daemon's connection to pbb-sim: its requests served on the switch
// model, its event channels and packet sockets, and everything the model
// sends it, in order.
//
// Order: state changes go on the connection, events on the channels and
// frames on the packet sockets. Nothing goes to a channel or a socket while
// earlier connection bytes still wait to be written, so that the daemon
// knows every state change made before an event or frame by the time it
// reads that event or frame (the shared counter tells it when to read).
// Writes never block: what a descriptor cannot take waits here until it
// becomes writable. Events are kept; frames beyond a socket's queue limit
// are dropped, as a switch drops what its CPU queue cannot hold. Frames are
// gathered and written together (flushFrames), many per system call.
//
// What the daemon sends is served in the order sent: requests, each with
// its reply, and forwarding records, which get none (records.h). Records
// come in the shared record ring (record_ring.h), taken before anything
// the connection brings, or on the connection. Before a control command
// pbb-sim serves what the daemon has sent (catchUp()), so the command finds
// the records of a call that returned before it applied. A session with
// records coming looks at the ring every kRingLookMs (ringIdle()); one
// that finds none asks the daemon's library to ring and waits.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/model/switch_model.h"
#include "platform/model/unique_fd.h"
#include "platform/transport/record_ring.h"
#include "platform/transport/shared_counter.h"
#include "platform/transport/wire.h"
#include "tools/pbb-sim/loop.h"
#include "tools/pbb-sim/state_copy.h"
#include "tools/pbb-sim/stats.h"

namespace pbbsim {

// An error line of the simulator in the log.
void logError(const std::string& text);

class Session {
public:
    // Datagrams one packet socket may have waiting here.
    static constexpr size_t kFrameQueueMax = 4096;
    // Connection bytes that may wait for a daemon that does not read.
    static constexpr size_t kBacklogMax = 64u << 20;

    // How long records may wait in the ring of a session that has them
    // coming, in milliseconds.
    static constexpr int kRingLookMs = 1;

    Session(Loop& loop, sim::SwitchModel& model, Stats& stats, plat::UniqueFd sock, uint32_t number,
            size_t ringCapacity = plat::transport::RecordRing::kDefaultCapacity);
    ~Session();  // the daemon's registrations end, its descriptors are closed
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Sends the introduction and the snapshot; what else the daemon must
    // know from the start (faults to arm) may follow before snapshotDone().
    void start();
    void snapshotDone();
    // True once the daemon went away or was dropped; why says why.
    bool ended() const { return ended_; }
    const std::string& why() const { return why_; }
    // Whether the daemon is still there (asks the connection now). What a
    // daemon that went away sent before it went is served first.
    bool alive();
    // Serves what the daemon has sent so far. Run before a control command,
    // so that a command given after a daemon's call returned finds the
    // records that call sent applied.
    void catchUp();
    // The idle step: takes the ring when its time has come. Returns how long
    // the loop may wait in milliseconds (-1: until a descriptor is ready).
    int ringIdle();

    pid_t pid() const { return pid_; }
    uint32_t number() const { return number_; }

    // What the switch produces for this daemon.
    void deliver(const sim::Event& ev);
    void serviceDown(sim::Service s);
    void cpuFrame(const std::vector<uint8_t>& datagram);
    // State changes since the last call.
    void publish();
    void sendFault(const std::string& call, int64_t result, unsigned times);
    void sendClearFaults();

    // Writes the frames gathered since the last call, many per system call.
    void flushFrames();
    // A packet socket is full (or frames wait behind connection bytes):
    // frames are better not made now.
    bool framesBlocked() const;
    size_t framesQueued() const;

private:
    struct Queue {
        plat::UniqueFd fd;
        uint64_t watch = 0;
        std::deque<std::vector<uint8_t>> waiting;
    };
    struct PacketSock : Queue {
        bool bound = false;
        uint16_t etherType = 0;
        bool recvAll = false;
        bool full = false;  // the last write found no room: wait for writability
    };
    // A write that waits for earlier connection bytes.
    struct Held {
        enum Kind { Event, Frame, Hangup } kind;
        uint32_t target;  // the service, or the packet socket's id
        std::vector<uint8_t> bytes;
    };

    void end(const std::string& why);
    // Runs one handler's work; an exception ends this session (logged).
    void guarded(const std::function<void()>& work);
    void onReadable();
    // One read of at most `most` bytes and the messages it completes; the
    // bytes read, 0 when there was nothing to read (or the session ended).
    size_t readOnce(size_t most);
    void applyRecords(plat::wire::Reader& r);
    // Applies the records written to the ring since the last take; true
    // when there were some. A broken ring ends the session.
    bool takeRing();
    void onChannel(sim::Service s, uint32_t events);
    void onPacket(uint32_t id, uint32_t events);
    void refuseDescriptor(uint32_t seq, const std::string& what);
    void onWritable();
    void handle(plat::wire::Msg type, const std::vector<uint8_t>& payload);
    void reply(uint32_t seq, uint32_t result);
    void send(plat::wire::Msg type, const std::vector<uint8_t>& payload);
    void flushMain();
    void releaseHeld();

    void openChannel(sim::Service s, plat::UniqueFd fd);
    void closeChannel(sim::Service s);
    void openPacket(uint32_t id, plat::UniqueFd fd);
    void closePacket(uint32_t id);
    void closeAllPackets();
    void hangUp(uint32_t service);
    void writeEvent(sim::Service s, std::vector<uint8_t> bytes);
    void writeFrame(uint32_t id, const std::vector<uint8_t>& bytes);
    // Writes what waits on a packet socket; false when its peer is gone.
    bool sendFrames(PacketSock& p);
    // Writes what waits on q; false when the peer is gone.
    bool drain(Queue& q);
    void watchWritable(Queue& q, bool on);

    Loop& loop_;
    sim::SwitchModel& model_;
    Stats& stats_;
    plat::UniqueFd sock_;
    uint64_t watch_ = 0;
    uint32_t number_;
    pid_t pid_ = 0;
    bool ended_ = false;
    std::string why_;
    bool disagreementLogged_ = false;

    plat::transport::SharedCounter counter_;
    plat::transport::RecordRing ring_;
    plat::wire::Deframer ringIn_;
    std::vector<uint8_t> ringBytes_;
    bool ringLooking_ = false;  // records came lately: look again at ringNextLook_
    int64_t ringNextLook_ = 0;
    StateCopy copy_;
    plat::wire::Deframer in_;
    std::vector<uint8_t> readBuffer_;
    std::deque<plat::UniqueFd> fds_;
    std::vector<uint8_t> out_;
    size_t outOff_ = 0;
    std::deque<Held> held_;

    std::array<Queue, sim::kServiceCount> channels_;
    std::map<uint32_t, PacketSock> packets_;
    bool framesGathered_ = false;
    struct Sub {
        sim::EventKind kind;
        uint32_t mask;
    };
    std::map<uint32_t, Sub> subs_;
};

}  // namespace pbbsim
