#include "platform/model/fib.h"

#include <algorithm>

#include "platform/result.h"

namespace sim {

namespace {
// Kept records a flush leaves room for: a large batch (a restart's, a flush
// of everything) does not keep its room for good.
constexpr size_t kKeptRoom = 4096;
}

template <class Rec>
const typename BasicFib<Rec>::Kept* BasicFib<Rec>::findKept(const UcKey& key) const
{
    if (keptAt_.empty()) {
        for (const Kept& k : keptUc_)
            if (k.key == key) return &k;
        return nullptr;
    }
    auto at = keptAt_.find(key);
    return at == keptAt_.end() ? nullptr : &keptUc_[at->second];
}

template <class Rec>
void BasicFib<Rec>::keepCommitted(const UcKey& key, typename Table::iterator it)
{
    // Only the first change since the flush finds the committed record in
    // the working table.
    if (!keepsCommitted_ || findKept(key) != nullptr) return;
    if (it != working_.uc.end() && working_.uc.keyAt(it) == key)
        keptUc_.push_back({key, it->second});
    else
        keptUc_.push_back({key, std::nullopt});
    if (keptUc_.size() > kKeptScanned) {
        if (keptAt_.empty())
            for (size_t i = 0; i < keptUc_.size(); ++i) keptAt_.emplace(keptUc_[i].key, i);
        else
            keptAt_.emplace(key, keptUc_.size() - 1);
    }
}

template <class Rec>
const Rec* BasicFib<Rec>::committedUnicast(const UcKey& key) const
{
    if (!keepsCommitted_) return nullptr;
    if (const Kept* k = findKept(key)) return k->rec ? &*k->rec : nullptr;
    auto it = working_.uc.find(key);
    return it == working_.uc.end() ? nullptr : &it->second;
}

template <class Rec>
void BasicFib<Rec>::makeCommittedUc() const
{
    committed_.uc = working_.uc;
    for (const auto& [key, rec] : keptUc_) {
        auto at = committed_.uc.lower_bound(key);
        bool held = at != committed_.uc.end() && committed_.uc.keyAt(at) == key;
        if (!rec) {
            if (held) committed_.uc.erase(at);
        } else if (held) {
            at->second = *rec;
        } else {
            committed_.uc.emplace_hint(at, key, *rec);
        }
    }
    committedUcBehind_ = false;
}

template <class Rec>
typename BasicFib<Rec>::Table::iterator BasicFib<Rec>::eraseWorkingUc(typename Table::iterator it, VsiRun& run)
{
    --run.count;
    keepCommitted(it->first, it);
    auto next = working_.uc.erase(it);
    workingUcAt_.set(next);
    return next;
}

template <class Rec>
uint32_t BasicFib<Rec>::addUnicast(const UcEntry& e, uint32_t maxTotal, uint32_t maxPerVsi)
{
    endChunk();
    UcKey key{e.vsi, e.bmac};
    VsiRun& run = workingUcVsi_[e.vsi];
    auto it = workingUcAt_.lowerBound(working_.uc, key, working_.uc.samePlace(run.latest));
    if (it == working_.uc.end() || working_.uc.keyAt(it) != key) {
        if (working_.uc.size() >= maxTotal || run.count >= maxPerVsi) return PLAT_ERR_NO_RESOURCE;
        ++run.count;
        keepCommitted(key, it);
        it = working_.uc.emplace_at(it, key, e);
    } else {
        keepCommitted(key, it);
        it->second = e;
    }
    workingUcAt_.set(it);
    run.latest = it;
    // Marks are held only while a refresh window is open.
    if (!staleUc_.empty()) {
        auto stale = staleUcAt_.lowerBound(staleUc_, key);
        if (stale != staleUc_.end() && *stale == key) stale = staleUc_.erase(stale);
        staleUcAt_.set(stale);
    }
    return PLAT_OK;
}

template <class Rec>
uint32_t BasicFib<Rec>::delUnicast(uint32_t vsi, const Mac& bmac)
{
    endChunk();
    UcKey key{vsi, bmac};
    // Every entry of the working table has its VSI's run: a VSI without
    // one holds none.
    auto run = workingUcVsi_.find(vsi);
    if (run == workingUcVsi_.end()) return PLAT_ERR_NOT_FOUND;
    // A flush deletes a VSI's entries in turn with other VSIs', each at or
    // near the place of the one before (the walks go newest first, so most
    // often just before it): the key is looked for there, then in that
    // place's block or the one before it, before a search of the table.
    auto at = [&](typename Table::iterator i) { return i != working_.uc.end() && working_.uc.keyAt(i) == key; };
    auto it = working_.uc.samePlace(run->second.latest);
    if (!at(it)) {
        auto before = it == working_.uc.begin() ? working_.uc.end() : std::prev(it);
        it = at(before) ? before : working_.uc.lower_bound(key, it);
    }
    if (!at(it)) return PLAT_ERR_NOT_FOUND;
    // The VSI's next entry takes the erased one's place.
    run->second.latest = eraseWorkingUc(it, run->second);
    return PLAT_OK;
}

template <class Rec>
uint32_t BasicFib<Rec>::addMulticast(const McEntry& chunk)
{
    bool extend = chunkVsi_ == chunk.vsi && working_.mc.count(chunk.vsi) != 0;
    McEntry& e = working_.mc[chunk.vsi];
    std::vector<uint32_t> ports = extend ? e.ports : std::vector<uint32_t>{};
    for (uint32_t p : chunk.ports)
        if (std::find(ports.begin(), ports.end(), p) == ports.end()) ports.push_back(p);
    e = chunk;
    e.ports = std::move(ports);
    dirtyMc_.insert(chunk.vsi);
    staleMc_.erase(chunk.vsi);
    chunkVsi_ = chunk.vsi;
    return PLAT_OK;
}

template <class Rec>
uint32_t BasicFib<Rec>::delMulticast(uint32_t vsi)
{
    endChunk();
    dirtyMc_.insert(vsi);
    return working_.mc.erase(vsi) != 0 ? PLAT_OK : PLAT_ERR_NOT_FOUND;
}

template <class Rec>
uint32_t BasicFib<Rec>::addMcPort(uint32_t vsi, uint32_t port)
{
    endChunk();
    auto it = working_.mc.find(vsi);
    if (it == working_.mc.end()) return PLAT_ERR_NOT_FOUND;
    auto& ports = it->second.ports;
    if (std::find(ports.begin(), ports.end(), port) == ports.end()) ports.push_back(port);
    dirtyMc_.insert(vsi);
    staleMc_.erase(vsi);
    return PLAT_OK;
}

template <class Rec>
uint32_t BasicFib<Rec>::delMcPort(uint32_t vsi, uint32_t port)
{
    endChunk();
    auto it = working_.mc.find(vsi);
    if (it == working_.mc.end()) return PLAT_ERR_NOT_FOUND;
    auto& ports = it->second.ports;
    auto pos = std::find(ports.begin(), ports.end(), port);
    if (pos == ports.end()) return PLAT_ERR_NOT_FOUND;
    ports.erase(pos);
    dirtyMc_.insert(vsi);
    return PLAT_OK;
}

template <class Rec>
void BasicFib<Rec>::flush()
{
    endChunk();
    // The committed unicast table is the working one from now on.
    if (!keptUc_.empty()) {
        committedUcBehind_ = true;
        if (keptUc_.capacity() > kKeptRoom) {
            keptUc_ = {};
            keptAt_ = {};
        } else {
            keptUc_.clear();
            keptAt_.clear();
        }
    }
    if (keepsCommitted_) {
        for (uint32_t vsi : dirtyMc_) {
            auto it = working_.mc.find(vsi);
            if (it == working_.mc.end())
                committed_.mc.erase(vsi);
            else
                committed_.mc[vsi] = it->second;
        }
    }
    dirtyMc_.clear();
}

template <class Rec>
void BasicFib<Rec>::setPbbPort(uint32_t ifIndex, bool on)
{
    endChunk();
    stalePorts_.erase(ifIndex);
    if (on)
        pbbPorts_.insert(ifIndex);
    else
        pbbPorts_.erase(ifIndex);
}

template <class Rec>
void BasicFib<Rec>::setEncap(uint32_t vsi, uint32_t type)
{
    endChunk();
    encap_[vsi] = type;
    staleEncap_.erase(vsi);
}

template <class Rec>
uint32_t BasicFib<Rec>::encap(uint32_t vsi) const
{
    auto it = encap_.find(vsi);
    return it == encap_.end() ? L2VPN_ENCAP_DEFAULT : it->second;
}

template <class Rec>
void BasicFib<Rec>::openWindow()
{
    endChunk();
    window_ = true;
    staleUc_.clear();
    staleUcAt_.reset();
    staleMc_.clear();
    // Every key of either table once: the two ordered tables merged, each
    // key going in behind the one before.
    const Table& committedUc = committed().uc;
    auto w = working_.uc.begin();
    auto c = committedUc.begin();
    while (w != working_.uc.end() || c != committedUc.end()) {
        bool fromWorking = c == committedUc.end() || (w != working_.uc.end() && !UcKeyLess{}(c->first, w->first));
        const UcKey& key = fromWorking ? w->first : c->first;
        staleUc_.insert(staleUc_.end(), key);
        if (c != committedUc.end() && c->first == key) ++c;
        if (fromWorking) ++w;
    }
    for (const auto& [vsi, e] : working_.mc) staleMc_.insert(vsi);
    for (const auto& [vsi, e] : committed_.mc) staleMc_.insert(vsi);
    stalePorts_ = pbbPorts_;
    staleEncap_.clear();
    for (const auto& [vsi, type] : encap_) staleEncap_.insert(vsi);
}

template <class Rec>
void BasicFib<Rec>::closeWindow()
{
    endChunk();
    if (!window_) return;
    window_ = false;
    // Gone from both tables: the committed one no longer holds the key.
    for (const auto& key : staleUc_) {
        auto it = workingUcAt_.lowerBound(working_.uc, key);
        if (it != working_.uc.end() && it->first == key) eraseWorkingUc(it, workingUcVsi_[key.first]);
        if (Kept* k = findKept(key)) k->rec.reset();
    }
    committedUcBehind_ = keepsCommitted_;
    for (uint32_t vsi : staleMc_) {
        working_.mc.erase(vsi);
        committed_.mc.erase(vsi);
    }
    for (uint32_t port : stalePorts_) pbbPorts_.erase(port);
    for (uint32_t vsi : staleEncap_) encap_.erase(vsi);
    staleUc_.clear();
    staleUcAt_.reset();
    staleMc_.clear();
    stalePorts_.clear();
    staleEncap_.clear();
}

template <class Rec>
void BasicFib<Rec>::dropVsi(uint32_t vsi)
{
    endChunk();
    for (Tables* t : {&working_, &committed_}) {
        erase_if(t->uc, [vsi](const auto& kv) { return kv.first.first == vsi; });
        t->mc.erase(vsi);
    }
    for (Kept& k : keptUc_)
        if (k.key.first == vsi) k.rec.reset();
    workingUcAt_.reset();
    workingUcVsi_.erase(vsi);
    encap_.erase(vsi);
}

template class BasicFib<UcEntry>;
template class BasicFib<UcKeyOnly>;

}  // namespace sim
