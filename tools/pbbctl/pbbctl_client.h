// A connection to the daemon's management server (local port 1169) and the
// exchanges pbbctl makes over it.
//
// One request is written per write and all its replies are read before the
// next request goes out, so that no request straddles two of the daemon's
// reads. The steps of the walks are the exception: a few whole ones are in
// flight together, never more than one of the daemon's reads takes (the
// learned entries' in pbbctl_walk.h, the multicast entries' below). Every
// wait has the connection's time-out; a daemon that does not answer within
// it, or closes the connection, ends the exchange with NoAnswer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/pbbctl/pbbctl_proto.h"

namespace pbbctl {

// The daemon cannot be reached or does not answer (pbbctl exit status 3).
struct NoAnswer : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A reply that does not fit the request (a daemon speaking something else).
struct BadReply : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class MgmtClient {
public:
    static constexpr uint16_t kPort = 1169;

    // Connects to the server under the current run directory; NoAnswer
    // when nobody listens there or it takes no connection within the
    // time-out.
    explicit MgmtClient(int timeoutMs);
    ~MgmtClient();
    MgmtClient(const MgmtClient&) = delete;
    MgmtClient& operator=(const MgmtClient&) = delete;

    // Sends one request and returns every reply up to and including the
    // one that ends its answer: a result (type 15) for every request; a
    // debug reply for type 6. The steps of a walk of learned entries (types
    // 10 and 11) go through sendSteps instead.
    std::vector<proto::Tlv> exchange(uint16_t type, const proto::Bytes& value);

    // A request answered by one result reply: its code.
    uint32_t call(uint16_t type, const proto::Bytes& value);
    uint32_t debugWord();

    // One VSI's multicast answer: the entry (ports of all its replies put
    // together) and the answer's final code (kMcEnd when there was one).
    struct McAnswer {
        uint32_t code = proto::kFailed;
        proto::McMsg entry;
    };
    McAnswer multicast(uint16_t type, const proto::Bytes& value);
    // The answers to one multicast request of this type (7 or 9) per value,
    // in their order: up to kMcWindow requests written together, their
    // answers read before the next ones go out.
    std::vector<McAnswer> multicastEach(uint16_t type, const std::vector<proto::Bytes>& values);
    // The same, each answer handed to `each` with its value's position as
    // it is read (those read before a failure are handed on).
    using McFn = std::function<void(size_t, McAnswer&&)>;
    void multicastEach(uint16_t type, const std::vector<proto::Bytes>& values, const McFn& each);

    // Every multicast entry with ports, in VSI index order: type 8, then
    // type 9 after the last entry's VSI index until the daemon refuses a
    // step, the entries a walk of one step at a time hands on. Up to
    // `window` type 9 steps go out together, after consecutive indexes from
    // the last entry's on: where every index holds an entry, each of them
    // is a step of that walk; a step after an index without an entry
    // answers what another step does and is dropped. The number grows while
    // every step finds the next entry, holds while more than half do and
    // falls to those that did, so a sparse table costs at most one round
    // trip per entry, as the walk of one step at a time does.
    static constexpr size_t kMcWindow = 32;
    std::vector<proto::McMsg> multicastWalk(size_t window = kMcWindow);

    // Every learned entry of a VSI in B-MAC order (type 10, then 11 from
    // the last B-MAC until there is no further one). The VSI's index,
    // I-SID, B-VLAN and name must be the daemon's. The code that ended the
    // walk is kept in *endCode: kNoMoreUc after the last entry; kFailed
    // when the daemon refused a step: at the first, it does not know the
    // VSI so or has nothing learned; at a later one, it no longer knows
    // the VSI (the entries read before are returned).
    std::vector<proto::UcMsg> learnedWalk(const proto::UcMsg& vsi, uint32_t* endCode = nullptr);
    // The same walk, handing each entry to `each` as it arrives; returns
    // the code that ended it. The entry is valid only during the call.
    using EntryFn = std::function<void(const proto::UcMsg&)>;
    uint32_t learnedWalk(const proto::UcMsg& vsi, const EntryFn& each);

    // Steps of a walk of learned entries (types 10 and 11) written
    // together: `steps` holds `count` whole requests, each answered by one
    // reply, in the order written (see pbbctl_walk.h).
    void sendSteps(const proto::Bytes& steps, size_t count);
    // The reply to the oldest step in flight: when `wait`, read from the
    // connection until it is whole; else nullopt unless it already is.
    // Valid until the next read.
    std::optional<proto::TlvView> stepReply(bool wait);

    // Requests made on this connection, and the reads that took their
    // replies in: a walk whose reads take one reply each wakes once a step.
    uint64_t requests() const { return requests_; }
    uint64_t reads() const { return reads_; }

private:
    void send(const proto::Bytes& bytes);
    // The next reply; valid until the next receive.
    proto::TlvView receive();
    // Sends a request and notes that its answer is still to be read.
    void request(const proto::Bytes& bytes, uint16_t type);
    // Reads the replies up to the one that ends the answer to the request
    // sent last (`outstanding_`); returns that one.
    proto::TlvView answer();
    // Reads and drops the answer to a request sent before a walk was left
    // by an exception, so that the next answer is that of the next request.
    void settle();
    // The replies up to the one that ends the answer to a request of this
    // type.
    std::vector<proto::Tlv> replies(uint16_t type);

    int fd_ = -1;
    int timeoutMs_;
    proto::TlvReader reader_;
    uint64_t requests_ = 0;
    uint64_t reads_ = 0;
    // Type of the request whose answer has not been read; -1 when none.
    int outstanding_ = -1;
    // Steps written with sendSteps whose replies have not been read.
    size_t steps_ = 0;
    // Answers of multicastEach's requests not read yet.
    size_t mcLeft_ = 0;
};

}  // namespace pbbctl
