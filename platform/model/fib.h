// The forwarding plane's MAC-in-MAC state as the L2VPN library programs it:
// unicast and multicast entries, PBB mode per port, encapsulation type per
// VSI, with staging, commit and refresh windows.
//
// Entry changes go to the working tables at once (later calls are checked
// against them) and reach the committed tables, the hardware, on flush().
// The committed unicast table is the working one but for the keys changed
// since the last flush, whose committed records are kept aside: a flush
// forgets them instead of copying every change into a second table, and
// the whole committed table is made from the two when it is asked for.
// PBB mode and encapsulation types take effect at once. A refresh window
// marks everything programmed so far; programming an item again clears its
// mark; closing the window removes what is still marked, from both tables.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <iterator>
#include <set>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/model/packed_table.h"
#include "platform/model/records.h"

namespace sim {

struct UcEntry {
    uint32_t vsi = 0;
    uint32_t isid = 0;
    Mac bmac{};
    Mac cmac{};
    uint32_t bvlan = 0;
    uint32_t port = 0;
    uint32_t flags = 0;
    bool operator==(const UcEntry&) const = default;
};

struct McEntry {
    uint32_t vsi = 0;
    uint32_t isid = 0;
    Mac group{};
    uint32_t bvlan = 0;
    std::vector<uint32_t> ports;      // in the order programmed
    bool operator==(const McEntry&) const = default;
};

// A unicast entry's key: VSI index, then B-MAC, ordered as a pair of them.
// A plain struct rather than std::pair, whose assignment is not trivial:
// the packed tables move records by the block, and a record they can move
// as bytes moves several times faster.
struct UcKey {
    UcKey() = default;
    UcKey(uint32_t vsi, const Mac& bmac) : first(vsi), second(bmac) {}
    uint32_t first = 0;  // VSI index
    Mac second{};        // B-MAC
    friend auto operator<=>(const UcKey&, const UcKey&) = default;
    // Equality as the defaulted one, the B-MAC's six bytes compared in two
    // loads rather than by a library call: every change of the tables
    // compares keys several times.
    friend bool operator==(const UcKey& a, const UcKey& b)
    {
        uint32_t ah = 0, bh = 0;
        uint16_t al = 0, bl = 0;
        std::memcpy(&ah, a.second.data(), sizeof ah);
        std::memcpy(&bh, b.second.data(), sizeof bh);
        std::memcpy(&al, a.second.data() + sizeof ah, sizeof al);
        std::memcpy(&bl, b.second.data() + sizeof bh, sizeof bl);
        return a.first == b.first && ah == bh && al == bl;
    }
};
static_assert(std::is_trivially_copyable_v<UcKey>);

// The order of std::less on the pair (VSI index, then the B-MAC's bytes
// first to last), with the B-MAC compared as one 48-bit number: every
// learned entry descends these tables several times, and a byte-wise
// compare of the array costs a library call a step.
struct UcKeyLess {
    static uint64_t number(const Mac& m)
    {
        uint32_t high = 0;
        uint16_t low = 0;
        std::memcpy(&high, m.data(), sizeof high);
        std::memcpy(&low, m.data() + sizeof high, sizeof low);
        if constexpr (std::endian::native == std::endian::little) {
            high = __builtin_bswap32(high);
            low = __builtin_bswap16(low);
        }
        return static_cast<uint64_t>(high) << 16 | low;
    }
    bool operator()(const UcKey& a, const UcKey& b) const
    {
        return a.first != b.first ? a.first < b.first : number(a.second) < number(b.second);
    }
};
struct UcKeyHash {
    size_t operator()(const UcKey& k) const
    {
        return static_cast<size_t>((UcKeyLess::number(k.second) ^ static_cast<uint64_t>(k.first) << 48) *
                                   0x9E3779B97F4A7C15ull >> 16);
    }
};
// What a copy that only answers programming calls keeps of a unicast
// entry: nothing beyond its key (no answer looks at more).
struct UcKeyOnly {
    UcKeyOnly() = default;
    UcKeyOnly(const UcEntry&) {}
    UcKeyOnly& operator=(const UcEntry&) { return *this; }
    bool operator==(const UcKeyOnly&) const = default;
};

// A unicast table's record: the key, and what the table keeps of the
// entry. The part kept takes no room when it is empty: a keys-only record
// is the key's 12 bytes, where a pair took 16.
template <class Rec>
struct UcRecord {
    UcKey first{};
    [[no_unique_address]] Rec second{};

    UcRecord() = default;
    template <class R>
    UcRecord(const UcKey& key, R&& rec) : first(key), second(std::forward<R>(rec))
    {
    }
    bool operator==(const UcRecord&) const = default;
};
static_assert(sizeof(UcRecord<UcKeyOnly>) == sizeof(UcKey));
static_assert(std::is_trivially_copyable_v<UcRecord<UcEntry>>);

// A VSI's entries are a run of the unicast tables: learning adds each
// VSI's entries at that VSI's end, the VSIs in turn.
struct UcSameVsi {
    bool operator()(const UcKey& a, const UcKey& b) const { return a.first == b.first; }
};

// The unicast tables and their refresh marks hold up to millions of keys:
// packed, a record costs its own bytes rather than a tree node's. The marks
// are cleared in key order as a restart programs its entries again, each
// from the front of what is left of its block, moving the rest: their
// blocks are smaller (128 keys, not 512).
template <class Rec>
using BasicUcTable = PackedTable<UcKey, UcRecord<Rec>, KeyOfFirst, UcKeyLess, 8192, UcSameVsi>;
using UcTable = BasicUcTable<UcEntry>;
using UcKeySet = PackedTable<UcKey, UcKey, KeyOfSelf, UcKeyLess, 2048>;

template <class Rec>
struct BasicFibTables {
    BasicUcTable<Rec> uc;
    std::map<uint32_t, McEntry> mc;   // by VSI index
    bool operator==(const BasicFibTables&) const = default;
};
using FibTables = BasicFibTables<UcEntry>;

// Where the previous operation on an ordered table took place. The daemon
// programs and the refresh window marks its entries in key order, so the
// next key is most often at that place or just after it: looking there
// first finds it without a search, and keeps the walk in the cache however
// large the table is. Any other key is searched for. Every change to a
// table goes through its place (set to the changed record, or reset), as
// a packed table's change moves the records after it. A copy or a move of
// the table does not carry the place over.
template <class Tree>
class TablePlace {
public:
    using Iterator = typename Tree::iterator;
    using Key = typename Tree::key_type;

    TablePlace() = default;
    TablePlace(const TablePlace&) {}
    TablePlace& operator=(const TablePlace&)
    {
        reset();
        return *this;
    }

    void set(Iterator it)
    {
        it_ = it;
        set_ = true;
    }
    // A change of the table made elsewhere (a repack, emptying) forgets it.
    void reset() { set_ = false; }

    // The first element of `t` not less than `key`: t.lower_bound(key).
    Iterator lowerBound(Tree& t, const Key& key) const
    {
        if (set_) {
            if (isLowerBound(t, it_, key)) return it_;
            if (it_ != t.end()) {
                Iterator next = std::next(it_);
                if (isLowerBound(t, next, key)) return next;
            }
        }
        return t.lower_bound(key);
    }
    // The same, looked for first at `candidate` and just after it (and
    // then at this place, unless it is the candidate's).
    Iterator lowerBound(Tree& t, const Key& key, Iterator candidate) const
    {
        if (isLowerBound(t, candidate, key)) return candidate;
        if (candidate != t.end()) {
            Iterator next = std::next(candidate);
            if (isLowerBound(t, next, key)) return next;
        }
        return set_ && it_ == candidate ? t.lower_bound(key) : lowerBound(t, key);
    }

private:
    // Whether `at` is the first element of `t` not less than `key`.
    static bool isLowerBound(Tree& t, Iterator at, const Key& key)
    {
        auto less = t.key_comp();
        if (at != t.end() && less(t.keyAt(at), key)) return false;
        return at == t.begin() || less(t.keyAt(std::prev(at)), key);
    }

    Iterator it_{};
    bool set_ = false;
};

// The tables a Fib keeps. A copy that only answers programming calls (the
// socket transport's) needs the working tables alone: its flushes copy
// nothing and its committed tables stay empty, which changes no answer
// (answers look at the working tables only).
enum class FibKeeps { Both, WorkingOnly };

// Rec is what the unicast tables keep of an entry: all of it (UcEntry, the
// switch's), or its key alone (UcKeyOnly, a copy that only answers).
template <class Rec>
class BasicFib {
public:
    using Keeps = FibKeeps;
    using Table = BasicUcTable<Rec>;
    using Tables = BasicFibTables<Rec>;
    explicit BasicFib(Keeps keeps = Keeps::Both) : keepsCommitted_(keeps == Keeps::Both) {}

    // Entry operations; each returns PLAT_OK or a PLAT_ERR_* code.
    uint32_t addUnicast(const UcEntry& e, uint32_t maxTotal, uint32_t maxPerVsi);
    uint32_t delUnicast(uint32_t vsi, const Mac& bmac);
    // Consecutive calls for one VSI (nothing else between) extend one port
    // set; otherwise the call replaces the entry's ports.
    uint32_t addMulticast(const McEntry& chunk);
    uint32_t delMulticast(uint32_t vsi);
    uint32_t addMcPort(uint32_t vsi, uint32_t port);
    uint32_t delMcPort(uint32_t vsi, uint32_t port);
    void flush();
    // Any refused request also ends a chunked multicast add.
    void endChunk() { chunkVsi_.reset(); }
    // The VSI whose multicast add the next one for it extends, if any.
    std::optional<uint32_t> chunkVsi() const { return chunkVsi_; }

    void setPbbPort(uint32_t ifIndex, bool on);
    void setEncap(uint32_t vsi, uint32_t type);

    void openWindow();
    void closeWindow();
    bool windowOpen() const { return window_; }
    // What the open window still marks: removed when it closes unless
    // programmed again.
    const UcKeySet& staleUnicast() const { return staleUc_; }
    const std::set<uint32_t>& staleMulticast() const { return staleMc_; }
    const std::set<uint32_t>& stalePbbPorts() const { return stalePorts_; }
    const std::set<uint32_t>& staleEncap() const { return staleEncap_; }

    // The L2VPN module removed a VSI: its state goes at once.
    void dropVsi(uint32_t vsi);

    // The committed tables, made up to date first when the unicast one is
    // behind: keep the reference only while the Fib does not change.
    const Tables& committed() const
    {
        if (committedUcBehind_) makeCommittedUc();
        return committed_;
    }
    // The committed unicast record of a key, or null: what forwarding sees.
    const Rec* committedUnicast(const UcKey& key) const;
    const Tables& working() const { return working_; }
    bool pbbPort(uint32_t ifIndex) const { return pbbPorts_.count(ifIndex) != 0; }
    const std::set<uint32_t>& pbbPorts() const { return pbbPorts_; }
    uint32_t encap(uint32_t vsi) const;

private:
    // A VSI's entries in the working table: how many (for the per-VSI
    // limit), and where its latest operation was. Learning adds the VSIs'
    // entries in turn, each VSI's after its latest one, so that the place
    // of the operation before is another VSI's. The place is checked
    // before use, as the table has changed since.
    struct VsiRun {
        size_t count = 0;
        typename Table::iterator latest{};
    };
    // The committed record of a key changed since the last flush, or none
    // when the committed table does not hold the key.
    struct Kept {
        UcKey key;
        std::optional<Rec> rec;
    };
    // Keeps the committed record of the entry at `it` (or its absence, at
    // the end or at another key) before its first change since the flush.
    void keepCommitted(const UcKey& key, typename Table::iterator it);
    const Kept* findKept(const UcKey& key) const;
    Kept* findKept(const UcKey& key) { return const_cast<Kept*>(std::as_const(*this).findKept(key)); }
    // The committed unicast table: the working one with the kept records.
    void makeCommittedUc() const;
    // Erases the entry, of the VSI whose run is given; returns the one
    // after it.
    typename Table::iterator eraseWorkingUc(typename Table::iterator it, VsiRun& run);

    bool keepsCommitted_ = true;
    Tables working_;
    // Its unicast table is made when asked for (committedUcBehind_ says it
    // is behind); its multicast table is kept up to date by each flush.
    mutable Tables committed_;
    mutable bool committedUcBehind_ = false;
    // Every key changed in the working table since the last flush, in the
    // order of its first change: a flush most often finds one or none, and
    // a scan finds them; past kKeptScanned they are found by the index.
    static constexpr size_t kKeptScanned = 16;
    std::vector<Kept> keptUc_;
    std::unordered_map<UcKey, size_t, UcKeyHash> keptAt_;
    std::set<uint32_t> pbbPorts_;
    std::map<uint32_t, uint32_t> encap_;  // VSI -> type programmed
    std::optional<uint32_t> chunkVsi_;
    // A flush copies only the multicast entries of the VSIs touched.
    std::set<uint32_t> dirtyMc_;
    // Each VSI's run in the working table (above).
    std::unordered_map<uint32_t, VsiRun> workingUcVsi_;
    // Refresh window marks.
    bool window_ = false;
    UcKeySet staleUc_;
    std::set<uint32_t> staleMc_;
    std::set<uint32_t> stalePorts_;
    std::set<uint32_t> staleEncap_;
    // The places of the last operations on the unicast tables.
    TablePlace<Table> workingUcAt_;
    TablePlace<UcKeySet> staleUcAt_;
};

using Fib = BasicFib<UcEntry>;
// The socket transport's copy: keys only, working tables only.
using KeyFib = BasicFib<UcKeyOnly>;
extern template class BasicFib<UcEntry>;
extern template class BasicFib<UcKeyOnly>;

}  // namespace sim
