#include "tools/pbbctl/pbbctl_walk.h"

#include <algorithm>
#include <deque>
#include <list>

#include "platform/stlv.h"

namespace pbbctl {

using namespace proto;

namespace {

// B-MACs as numbers in the daemon's order (the first byte the highest).
constexpr uint64_t kSpace = uint64_t{1} << 48;

uint64_t order(const Mac& m)
{
    uint64_t v = 0;
    for (uint8_t b : m) v = v << 8 | b;
    return v;
}

// One chain of steps: the entries of one VSI from `after` (exclusive) up to
// `hi` (exclusive). It always has one step in flight until it is done.
struct Range {
    size_t vsi = 0;
    uint64_t hi = kSpace;
    uint64_t after = 0;  // the position its step in flight asks after
    bool first = true;   // that step is the VSI's first (type 10): no position yet
    bool seen = false;   // an entry was answered in it: it is cut, not a range of no entry
    bool done = false;
    std::vector<UcMsg> held;  // entries waiting for the ranges before to be done
};

class Walk {
public:
    Walk(MgmtClient& client, const std::vector<UcMsg>& vsis, const LearnedWalk::EntryFn& each,
         const LearnedWalk::EndFn& end, size_t window)
        : client_(client), vsis_(vsis), each_(each), end_(end), window_(std::max<size_t>(window, 1)),
          codes_(vsis.size(), kNoMoreUc)
    {
        // Each VSI's steps differ only in the type and the B-MAC: encoded
        // once, then copied and written over.
        for (const UcMsg& v : vsis) {
            UcMsg key = v;
            key.ifIndex = 0;
            key.bmac = {};
            steps_.push_back(tlv(kGetNextUc, ucMsg(key)));
            firsts_.push_back(tlv(kGetFirstUc, ucMsg(key)));
        }
    }

    void run()
    {
        for (;;) {
            while (flight_.size() < window_ && (startVsi() || split())) {
            }
            if (!batch_.empty()) {
                client_.sendSteps(batch_, batched_);
                batch_.clear();
                batched_ = 0;
            }
            if (flight_.empty()) break;
            // One answer waited for, then every one already read whole:
            // their next steps go out together.
            for (auto t = client_.stepReply(true); t; t = client_.stepReply(false)) answer(*t);
        }
    }

private:
    using Pos = std::list<Range>::iterator;

    bool startVsi()
    {
        if (nextVsi_ == vsis_.size()) return false;
        Range r;
        r.vsi = nextVsi_++;
        ranges_.push_back(std::move(r));
        const Bytes& req = firsts_[ranges_.back().vsi];
        batch_.insert(batch_.end(), req.begin(), req.end());
        ++batched_;
        flight_.push_back(std::prev(ranges_.end()));
        return true;
    }

    // Halves the range with the most B-MACs ahead of its position, of those
    // that have answered an entry: a range whose first step has not is
    // often one where no entry lies, and cutting it would cost steps that
    // find nothing.
    bool split()
    {
        Pos best = ranges_.end();
        uint64_t most = 1;
        for (Pos p = ranges_.begin(); p != ranges_.end(); ++p) {
            if (p->done || !p->seen) continue;
            const uint64_t ahead = p->hi - p->after - 1;
            if (ahead > most) {
                most = ahead;
                best = p;
            }
        }
        if (best == ranges_.end()) return false;
        const uint64_t mid = best->after + 1 + most / 2;
        Range r;
        r.vsi = best->vsi;
        r.hi = best->hi;
        r.after = mid - 1;
        r.first = false;
        best->hi = mid;
        Pos p = ranges_.insert(std::next(best), std::move(r));
        step(p);
        return true;
    }

    // The step after the range's position.
    void step(Pos p)
    {
        const Bytes& req = steps_[p->vsi];
        const size_t at = batch_.size();
        batch_.insert(batch_.end(), req.begin(), req.end());
        for (size_t i = 0; i < 6; ++i)
            batch_[at + STLV_HEADER_LEN + kUcBmacAt + i] = static_cast<uint8_t>(p->after >> (8 * (5 - i)));
        ++batched_;
        flight_.push_back(p);
    }

    void answer(const TlvView& t)
    {
        const Pos p = flight_.front();
        flight_.pop_front();
        if (t.type == kResultReply) {
            auto code = word(t.value, t.len);
            if (!code) throw BadReply("malformed result of a unicast request");
            if (!p->first && *code != kNoMoreUc && *code != kFailed)
                throw BadReply("the walk of " + vsis_[p->vsi].vsiName + " stopped with code " + codeHex(*code));
            // The first step's code ends the VSI's walk as it is; after it, a refusal does.
            if (p->first || *code == kFailed) codes_[p->vsi] = *code;
            finish(p);
            return;
        }
        auto m = parseUc(t.value, t.len);
        if (!m) throw BadReply("malformed unicast reply");
        const uint64_t key = order(m->bmac);
        if (!p->first && key <= p->after)
            throw BadReply("the walk of " + vsis_[p->vsi].vsiName + " went backwards at " + formatMac(m->bmac));
        // At or beyond the range's end: the range after has it.
        if (key >= p->hi) {
            finish(p);
            return;
        }
        p->first = false;
        p->seen = true;
        p->after = key;
        if (p == ranges_.begin()) each_(p->vsi, *m);
        else p->held.push_back(std::move(*m));
        if (key + 1 < p->hi) step(p);
        else finish(p);
    }

    // A range is done; the ranges at the front that are done are handed on.
    void finish(Pos p)
    {
        p->done = true;
        while (!ranges_.empty() && ranges_.front().done) {
            const size_t vsi = ranges_.front().vsi;
            ranges_.pop_front();
            if (ranges_.empty() || ranges_.front().vsi != vsi) {
                // Every range of the VSI is done; the ones not started
                // yet come after it.
                end_(vsi, codes_[vsi]);
            }
            if (ranges_.empty()) break;
            Range& head = ranges_.front();
            for (const UcMsg& e : head.held) each_(head.vsi, e);
            std::vector<UcMsg>().swap(head.held);
        }
    }

    MgmtClient& client_;
    const std::vector<UcMsg>& vsis_;
    const LearnedWalk::EntryFn& each_;
    const LearnedWalk::EndFn& end_;
    const size_t window_;
    std::vector<uint32_t> codes_;
    std::vector<Bytes> steps_, firsts_;
    size_t nextVsi_ = 0;
    std::list<Range> ranges_;  // in the order entries are handed on
    std::deque<Pos> flight_;   // the ranges of the steps in flight, oldest first
    Bytes batch_;              // steps not written yet
    size_t batched_ = 0;
};

}  // namespace

void LearnedWalk::run(MgmtClient& client, const std::vector<UcMsg>& vsis, const EntryFn& each, const EndFn& end,
                      size_t window)
{
    Walk(client, vsis, each, end, window).run();
}

}  // namespace pbbctl
