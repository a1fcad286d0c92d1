// An ordered table kept in packed blocks: the switch model's unicast
// tables and their refresh marks, up to millions of small records.
//
// The records are in key order across a row of blocks, each a vector of
// at most kPerBlock records; beside them, each block's first key, so that
// a search reads the keys' array and one block instead of a tree node per
// step. A record costs its own size and a share of the block's unused room
// instead of a tree node and a heap chunk of its own.
//
// It answers as std::map (or std::set) does for what the tables use:
// lower_bound, find, count, emplace_hint, erase of a record, erase_if,
// in-order iteration both ways, equality. Unlike a tree, an insertion or
// an erasure moves records: it invalidates every iterator, pointer and
// reference into the table except the one it returns; a move of the table
// leaves its iterators behind with the table moved from. A map's record
// is a pair whose key is not const: changing it through an iterator
// breaks the order.
//
// Growth: a record past the end of a full last block starts a new block,
// so records added in key order fill their blocks; a record for a full
// block inside the row splits it in halves. A block left under a quarter
// full joins a neighbour that has room for it.
//
// Runs: keys may fall into runs (the unicast tables' VSIs), each growing
// at its own end while the others grow at theirs. A full block splits at
// the boundary of two runs where a record goes, and a record that follows
// a full block's last run starts a block of its own rather than going in
// front of the next run's records: from then on that run's records are
// added at the end of its own block, and none of another run's records
// move each time. Blocks that are not full are shared as before.
#pragma once

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <type_traits>
#include <utility>
#include <vector>

namespace sim {

// A map's record is a (key, value) pair; a set's is the key itself.
struct KeyOfFirst {
    template <class P>
    const auto& operator()(const P& p) const
    {
        return p.first;
    }
};
struct KeyOfSelf {
    template <class K>
    const K& operator()(const K& k) const
    {
        return k;
    }
};

// Every key in one run: the blocks as above, nothing kept apart.
struct OneRun {
    template <class K>
    bool operator()(const K&, const K&) const
    {
        return true;
    }
};

template <class Key, class Elem, class KeyOf, class Less, size_t BlockBytes = 4096, class SameRun = OneRun>
class PackedTable {
public:
    // Records a block holds: the largest power of two that fits the bytes,
    // at least four.
    static constexpr size_t kPerBlock = std::max<size_t>(4, std::bit_floor(BlockBytes / sizeof(Elem)));

    using key_type = Key;
    using value_type = Elem;

    // A record's key.
    static const Key& keyOf(const Elem& e) { return KeyOf{}(e); }

    template <bool Const>
    class Iter {
    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using value_type = Elem;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<Const, const Elem*, Elem*>;
        using reference = std::conditional_t<Const, const Elem&, Elem&>;
        using Table = std::conditional_t<Const, const PackedTable, PackedTable>;

        Iter() = default;
        Iter(const Iter&) = default;
        Iter& operator=(const Iter&) = default;
        Iter(Table* t, size_t block, size_t pos) : t_(t), block_(block), pos_(pos) {}
        // A table's iterator is also its const iterator.
        Iter(const Iter<false>& o) requires Const : t_(o.t_), block_(o.block_), pos_(o.pos_) {}

        reference operator*() const { return t_->blocks_[block_][pos_]; }
        pointer operator->() const { return &t_->blocks_[block_][pos_]; }
        Iter& operator++()
        {
            if (++pos_ == t_->blocks_[block_].size()) {
                ++block_;
                pos_ = 0;
            }
            return *this;
        }
        Iter operator++(int)
        {
            Iter was = *this;
            ++*this;
            return was;
        }
        Iter& operator--()
        {
            if (pos_ == 0)
                pos_ = t_->blocks_[--block_].size() - 1;
            else
                --pos_;
            return *this;
        }
        Iter operator--(int)
        {
            Iter was = *this;
            --*this;
            return was;
        }
        bool operator==(const Iter& o) const { return block_ == o.block_ && pos_ == o.pos_; }

    private:
        friend class PackedTable;
        friend class Iter<true>;
        Table* t_ = nullptr;
        size_t block_ = 0;  // blocks_.size() at the end
        size_t pos_ = 0;    // within the block; 0 at the end
    };
    using iterator = Iter<false>;
    using const_iterator = Iter<true>;

    PackedTable() = default;
    PackedTable(const PackedTable&) = default;
    PackedTable& operator=(const PackedTable&) = default;
    // A table moved from is empty.
    PackedTable(PackedTable&& o) noexcept
        : blocks_(std::move(o.blocks_)), firsts_(std::move(o.firsts_)), size_(std::exchange(o.size_, 0))
    {
        o.blocks_.clear();
        o.firsts_.clear();
    }
    PackedTable& operator=(PackedTable&& o) noexcept
    {
        if (this != &o) {
            blocks_ = std::move(o.blocks_);
            firsts_ = std::move(o.firsts_);
            size_ = std::exchange(o.size_, 0);
            o.blocks_.clear();
            o.firsts_.clear();
        }
        return *this;
    }

    Less key_comp() const { return {}; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    size_t blockCount() const { return blocks_.size(); }

    iterator begin() { return {this, 0, 0}; }
    iterator end() { return {this, blocks_.size(), 0}; }
    const_iterator begin() const { return {this, 0, 0}; }
    const_iterator end() const { return {this, blocks_.size(), 0}; }

    void clear()
    {
        blocks_ = {};
        firsts_ = {};
        size_ = 0;
    }

    // The place `it` named when it was taken (its block and position), in
    // the table as it is now: the record there, or the end when the table
    // has none. An iterator kept across changes names a place, not a record.
    template <bool C>
    iterator samePlace(const Iter<C>& it)
    {
        if (it.block_ < blocks_.size() && it.pos_ < blocks_[it.block_].size()) return {this, it.block_, it.pos_};
        return end();
    }

    // The key of the record at it (not the end). A block's first key is
    // kept beside the blocks: reading it there leaves the block unread, as
    // when a record goes past the end of the block before.
    const Key& keyAt(const_iterator it) const { return keyAt(Place{it.block_, it.pos_}); }

    iterator lower_bound(const Key& key) { return at(lowerPlace(key)); }
    // The same, looked for first in the block of `near` and the one before
    // it: a search of that block when the key falls between its first key
    // and the next block's, without the search of every block's first key.
    iterator lower_bound(const Key& key, const_iterator near)
    {
        size_t b = near.block_;
        if (b < blocks_.size() && Less{}(key, firsts_[b])) {
            if (b == 0) return begin();
            --b;
        } else if (b == blocks_.size()) {
            if (b == 0) return end();
            --b;
        }
        if (!Less{}(key, firsts_[b]) && (b + 1 == blocks_.size() || Less{}(key, firsts_[b + 1])))
            return at(placeInBlock(b, key));
        return lower_bound(key);
    }
    const_iterator lower_bound(const Key& key) const
    {
        auto [b, p] = lowerPlace(key);
        return {this, b, p};
    }
    const_iterator find(const Key& key) const
    {
        const_iterator it = lower_bound(key);
        return it != end() && !Less{}(key, keyAt(it)) ? it : end();
    }
    size_t count(const Key& key) const { return find(key) != end() ? 1 : 0; }

    // Inserts the record made of args unless its key is in; the iterator
    // is the record of that key. The hint is where the key belongs
    // (lower_bound's answer); any other hint costs a search.
    template <class... Args>
    iterator emplace_hint(const_iterator hint, Args&&... args)
    {
        Elem e(std::forward<Args>(args)...);
        const Key& key = KeyOf{}(e);
        std::pair<size_t, size_t> place{hint.block_, hint.pos_};
        if (!belongsAt(place, key)) place = lowerPlace(key);
        iterator it = at(place);
        if (it != end() && !Less{}(key, keyAt(it))) return it;
        return insertAt(place, std::move(e));
    }
    iterator insert(const_iterator hint, const Elem& e) { return emplace_hint(hint, e); }
    // Inserts the record made of args at pos, which must be where its key
    // belongs (lower_bound's answer) and must not hold the key: the caller
    // has just looked, so the place is not checked again.
    template <class... Args>
    iterator emplace_at(const_iterator pos, Args&&... args)
    {
        Elem e(std::forward<Args>(args)...);
        Place place{pos.block_, pos.pos_};
        assert(belongsAt(place, KeyOf{}(e)) &&
               (at(place) == end() || Less{}(KeyOf{}(e), keyAt(const_iterator(at(place))))));
        return insertAt(place, std::move(e));
    }
    template <class... Args>
    std::pair<iterator, bool> emplace(Args&&... args)
    {
        Elem e(std::forward<Args>(args)...);
        auto place = lowerPlace(KeyOf{}(e));
        iterator it = at(place);
        if (it != end() && !Less{}(KeyOf{}(e), keyAt(it))) return {it, false};
        return {insertAt(place, std::move(e)), true};
    }

    // Erases the record; returns the one after it.
    iterator erase(const_iterator pos)
    {
        size_t b = pos.block_, p = pos.pos_;
        auto& block = blocks_[b];
        block.erase(block.begin() + static_cast<std::ptrdiff_t>(p));
        --size_;
        if (block.empty()) {
            dropBlock(b);
            return {this, b, 0};
        }
        if (p == 0) firsts_[b] = KeyOf{}(block.front());
        if (block.size() < kPerBlock / 4) {
            // Join the next block, or the one before, when the two fit in one.
            if (b + 1 < blocks_.size() && block.size() + blocks_[b + 1].size() <= kPerBlock) {
                join(b);
            } else if (b > 0 && blocks_[b - 1].size() + block.size() <= kPerBlock) {
                p += blocks_[b - 1].size();
                join(--b);
            }
        }
        return at({b, p});
    }

    // Removes the records pred holds for; returns how many. The rest are
    // packed anew, each block full but the last.
    template <class Pred>
    friend size_t erase_if(PackedTable& t, Pred pred)
    {
        PackedTable kept;
        size_t gone = 0;
        for (auto& block : t.blocks_)
            for (auto& e : block) {
                if (pred(std::as_const(e)))
                    ++gone;
                else
                    kept.insertAt({kept.blocks_.size(), 0}, std::move(e));
            }
        t = std::move(kept);
        return gone;
    }

    friend bool operator==(const PackedTable& a, const PackedTable& b)
    {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }

private:
    using Place = std::pair<size_t, size_t>;  // block, position

    // The iterator of a place; a place just past a block's last record is
    // the next block's first.
    iterator at(Place p)
    {
        if (p.first < blocks_.size() && p.second == blocks_[p.first].size()) return {this, p.first + 1, 0};
        return {this, p.first, p.second};
    }

    const Key& keyAt(Place p) const
    {
        return p.second == 0 ? firsts_[p.first] : KeyOf{}(blocks_[p.first][p.second]);
    }

    // Where the first record not less than key is, or would go.
    Place lowerPlace(const Key& key) const
    {
        if (blocks_.empty()) return {0, 0};
        // The last block whose first key is not greater than key.
        auto f = std::upper_bound(firsts_.begin(), firsts_.end(), key, Less{});
        if (f == firsts_.begin()) return {0, 0};
        return placeInBlock(static_cast<size_t>(f - firsts_.begin()) - 1, key);
    }

    // Where the first record not less than key is, or would go, when it is
    // in block b or just past it: the block's first key is not greater
    // than key, the next block's (if any) is greater.
    Place placeInBlock(size_t b, const Key& key) const
    {
        const auto& block = blocks_[b];
        // A key past the block's last (a run growing at its end) needs no
        // search of the block.
        if (Less{}(KeyOf{}(block.back()), key)) return {b + 1, 0};
        auto it = std::lower_bound(block.begin(), block.end(), key,
                                   [](const Elem& e, const Key& k) { return Less{}(KeyOf{}(e), k); });
        if (it == block.end()) return {b + 1, 0};
        return {b, static_cast<size_t>(it - block.begin())};
    }

    // Whether key goes at place: not after the record there, not before
    // the one before it.
    bool belongsAt(Place p, const Key& key) const
    {
        auto [b, i] = p;
        if (b > blocks_.size() || (b == blocks_.size() && i != 0) || (b < blocks_.size() && i >= blocks_[b].size()))
            return false;
        if (b < blocks_.size() && Less{}(keyAt(p), key)) return false;
        if (i > 0) return Less{}(KeyOf{}(blocks_[b][i - 1]), key);
        return b == 0 || Less{}(KeyOf{}(blocks_[b - 1].back()), key);
    }

    // Inserts e at its place: the position of the first record after it,
    // or the end. A record that goes between two blocks joins the earlier
    // one while it has room.
    iterator insertAt(Place place, Elem&& e)
    {
        auto [b, i] = place;
        const Key& key = KeyOf{}(e);
        if (i == 0 && b > 0 && blocks_[b - 1].size() < kPerBlock) {
            --b;
            i = blocks_[b].size();
        } else if (b == blocks_.size() || (i == 0 && b > 0 && !SameRun{}(key, firsts_[b]))) {
            // Past a full last block, or into an empty table, or past a
            // full block and before another run's records: a new block.
            std::vector<Elem> block;
            block.reserve(1);
            firsts_.insert(firsts_.begin() + static_cast<std::ptrdiff_t>(b), key);
            blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b), std::move(block));
            i = 0;
        } else if (blocks_[b].size() == kPerBlock) {
            // A full block splits where the record ends a run before
            // another's, or else in halves; the record goes to its part.
            auto& full = blocks_[b];
            size_t cut = i > 0 && !SameRun{}(KeyOf{}(full[i - 1]), KeyOf{}(full[i])) &&
                                 !SameRun{}(key, KeyOf{}(full[i]))
                             ? i
                             : kPerBlock / 2;
            std::vector<Elem> upper(std::make_move_iterator(full.begin() + static_cast<std::ptrdiff_t>(cut)),
                                    std::make_move_iterator(full.end()));
            full.erase(full.begin() + static_cast<std::ptrdiff_t>(cut), full.end());
            firsts_.insert(firsts_.begin() + static_cast<std::ptrdiff_t>(b + 1), KeyOf{}(upper.front()));
            blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b + 1), std::move(upper));
            if (i > cut) {
                ++b;
                i -= cut;
            }
        }
        auto& block = blocks_[b];
        block.insert(block.begin() + static_cast<std::ptrdiff_t>(i), std::move(e));
        if (i == 0) firsts_[b] = KeyOf{}(block.front());
        ++size_;
        return {this, b, i};
    }

    void dropBlock(size_t b)
    {
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
        firsts_.erase(firsts_.begin() + static_cast<std::ptrdiff_t>(b));
    }

    // Moves block b+1's records to the end of block b.
    void join(size_t b)
    {
        auto& into = blocks_[b];
        auto& from = blocks_[b + 1];
        into.insert(into.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
        dropBlock(b + 1);
    }

    std::vector<std::vector<Elem>> blocks_;
    std::vector<Key> firsts_;  // each block's first key
    size_t size_ = 0;
};

}  // namespace sim
