// Forwarding records on their way from a daemon's platform library to
// pbb-sim, in memory the two share, as a driver hands descriptors to its
// hardware: the library writes whole Records messages into a ring of bytes
// and publishes how many it has written; pbb-sim takes what was published
// and publishes how many it has taken.
//
// A record in the ring is in pbb-sim's reach the moment the library's call
// returns, without a system call: pbb-sim takes the ring before it serves
// anything else of the daemon's, before a control command and before it
// forwards a frame, so whatever follows a call finds its records applied.
// Nothing else makes pbb-sim look, so a sleeping pbb-sim asks to be woken
// (askToRing): the next writer then rings (takeRingRequest says so) by a
// message on the connection. While records keep coming pbb-sim looks now
// and then without being asked (docs/simulator.md), and a learning daemon
// rings about once in those intervals instead of once per record.
//
// Layout of the shared memory: the capacity, the bytes written and the bytes
// taken (each on a cache line of its own), whether pbb-sim asks for a ring,
// then, from kDataOffset, the ring. Counts only grow; position = count mod
// capacity. Neither side trusts the other's count: one that is not
// believable reads as a full ring (the writer) or as a broken one (pbb-sim).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/model/unique_fd.h"

namespace plat::transport {

class RecordRing {
public:
    // The ring pbb-sim makes for each daemon: the records of some 15,000
    // learned entries.
    static constexpr size_t kDefaultCapacity = 1u << 20;
    static constexpr size_t kMinCapacity = 4096;
    // Where the shared memory holds the capacity, the counts, the ask and
    // the ring's bytes.
    static constexpr size_t kCapacityAt = 0;
    static constexpr size_t kWrittenAt = 64;
    static constexpr size_t kTakenAt = 128;
    static constexpr size_t kAskAt = 192;
    static constexpr size_t kDataOffset = 4096;

    // pbb-sim's side: makes the memory. capacity: a power of two, at least
    // kMinCapacity. Throws std::system_error when it cannot be made, and
    // std::invalid_argument for another capacity.
    explicit RecordRing(size_t capacity = kDefaultCapacity);
    // The library's side: the ring behind a descriptor pbb-sim passed; null
    // when it is not one.
    static std::unique_ptr<RecordRing> attach(UniqueFd fd);
    ~RecordRing();
    RecordRing(const RecordRing&) = delete;
    RecordRing& operator=(const RecordRing&) = delete;

    int fd() const { return fd_.get(); }
    size_t capacity() const { return capacity_; }

    // The writer: appends bytes whole, or nothing when they do not fit in
    // what pbb-sim has left free (false).
    bool put(std::span<const uint8_t> bytes);
    // The writer, after put: true once when pbb-sim asked to be woken.
    bool takeRingRequest();

    // pbb-sim: appends what was written since the last take to out; false
    // (nothing taken) when the written count is behind what was taken or
    // more than the capacity ahead of it.
    bool take(std::vector<uint8_t>& out);
    // pbb-sim, before it sleeps: asks the next writer to ring. Records
    // written before the ask may have been missed: take again after it.
    void askToRing();
    // pbb-sim, once it looks again on its own: no ring needed.
    void withdrawAsk();

private:
    RecordRing(UniqueFd fd, uint8_t* base, size_t capacity);
    uint64_t* counter(size_t offset) const { return reinterpret_cast<uint64_t*>(base_ + offset); }

    UniqueFd fd_;
    uint8_t* base_ = nullptr;
    size_t capacity_ = 0;
    uint64_t written_ = 0;  // the writer's own count
    uint64_t taken_ = 0;    // pbb-sim's own count
};

}  // namespace plat::transport
