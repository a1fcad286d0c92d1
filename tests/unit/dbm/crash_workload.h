// Workload of the crash test: a deterministic stream of the daemon's kinds
// of writes (learned entries, VSI and uplink records, moves, recovery-like
// batches), generated from a seed and the current contents, and a model of
// what each write does to the stores. The child process performs the
// stream through the DBM_ calls; the parent regenerates it and compares
// the stores found after the kill with the model.
#pragma once

#include "platform/dbm.h"
#include "platform/dbm/dbm_image.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace crashtest {

struct Val {
    uint32_t type = 0;
    bool list = false;
    std::string bin;
    std::map<std::string, std::string> elems;  // sort field -> element
    bool operator==(const Val&) const = default;
};
using Db = std::map<std::string, Val>;

struct Model {
    Db cfg[2];  // used, unused
    Db run;
};

inline Db fromImage(const plat::dbm::Image& im)
{
    Db db;
    for (const auto& [k, e] : im.keys()) {
        Val v;
        v.type = e.valueType;
        v.list = e.kind == plat::dbm::Kind::List;
        v.bin = e.value;
        v.elems = e.elems;
        db[k] = v;
    }
    return db;
}

enum class Kind {
    RunInsert, RunRemove, RunDeleteKey, RunBatch,
    CfgSetVsi, CfgAddIfVsi, CfgRemoveIfVsi, CfgSetIf, CfgDeleteKey, CfgMove, CfgBatch,
    Idle,
};

struct Op {
    Kind kind = Kind::Idle;
    int db = 0;        // configuration database: 0 used, 1 unused
    std::string key;
    std::string data;  // value or element
    uint64_t salt = 0; // batch verdicts
    uint32_t ms = 0;   // idle time
};

inline bool isRun(const Op& op) { return op.kind <= Kind::RunBatch; }
inline bool isCfg(const Op& op) { return op.kind >= Kind::CfgSetVsi && op.kind <= Kind::CfgBatch; }

// Sort fields, as the daemon's descriptions define them: bytes 12-19 of a
// learned entry, the whole zero-padded 32-byte VSI name.
inline std::string fieldOf(const std::string& key, const std::string& elem)
{
    return key.rfind("ucpw.", 0) == 0 ? elem.substr(12, 8) : elem;
}

inline uint64_t mix(uint64_t x)
{
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    return x;
}

inline uint64_t hashKey(const std::string& k, uint64_t salt)
{
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : k) h = (h ^ c) * 1099511628211ULL;
    return mix(h ^ salt);
}

// What a batch handler does with a key: drop the list's first element
// (as recovery drops refused entries), then keep, delete or move it.
inline bool dropsFirst(const std::string& k, uint64_t salt) { return hashKey(k, salt) % 4 == 0; }
inline uint32_t verdictOf(const std::string& k, uint64_t salt, bool canMove)
{
    uint64_t v = (hashKey(k, salt) / 4) % 5;
    if (v == 0) return DBM_PROC_DELETE;
    if (v == 1 && canMove) return DBM_PROC_MOVE;
    return DBM_PROC_KEEP;
}

// Row types of the two batches: learned entries; VSIs, VSI lists, flags.
struct Row {
    uint32_t type;
    bool second;
};
inline const Row kRunRows[] = {{0, false}};
inline const Row kCfgRows[] = {{0, false}, {1, true}, {2, true}};

template <size_t N>
void batchModel(Db* first, Db* second, const Row (&rows)[N], uint64_t salt)
{
    for (const Row& r : rows) {
        std::map<std::string, bool> movedIn;
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 1 && (!r.second || second == nullptr)) break;
            Db& db = pass == 0 ? *first : *second;
            Db* other = pass == 0 ? second : first;
            std::vector<std::string> keys;
            for (auto& [k, v] : db)
                if (v.type == r.type && (pass == 0 || !movedIn.count(k))) keys.push_back(k);
            for (const auto& k : keys) {
                Val& v = db[k];
                if (v.list && !v.elems.empty() && dropsFirst(k, salt)) v.elems.erase(v.elems.begin());
                uint32_t verdict = verdictOf(k, salt, other != nullptr);
                if (verdict == DBM_PROC_DELETE) {
                    db.erase(k);
                } else if (verdict == DBM_PROC_MOVE) {
                    (*other)[k] = v;
                    db.erase(k);
                    if (pass == 0) movedIn[k] = true;
                }
            }
        }
    }
}

inline void apply(Model& m, const Op& op)
{
    Db* cfg = &m.cfg[op.db];
    switch (op.kind) {
    case Kind::RunInsert:
    case Kind::CfgAddIfVsi: {
        Db& db = op.kind == Kind::RunInsert ? m.run : *cfg;
        Val& v = db[op.key];
        v.list = true;
        v.type = op.kind == Kind::RunInsert ? 0 : 1;
        v.elems[fieldOf(op.key, op.data)] = op.data;
        break;
    }
    case Kind::RunRemove:
        m.run[op.key].elems.erase(fieldOf(op.key, op.data));
        break;
    case Kind::CfgRemoveIfVsi:
        (*cfg)[op.key].elems.erase(fieldOf(op.key, op.data));
        break;
    case Kind::RunDeleteKey:
        m.run.erase(op.key);
        break;
    case Kind::CfgDeleteKey:
        cfg->erase(op.key);
        break;
    case Kind::CfgSetVsi:
    case Kind::CfgSetIf:
        (*cfg)[op.key] = Val{op.kind == Kind::CfgSetVsi ? 0u : 2u, false, op.data, {}};
        break;
    case Kind::CfgMove:
        m.cfg[1 - op.db][op.key] = (*cfg)[op.key];
        cfg->erase(op.key);
        break;
    case Kind::RunBatch:
        batchModel(&m.run, nullptr, kRunRows, op.salt);
        break;
    case Kind::CfgBatch:
        batchModel(&m.cfg[0], &m.cfg[1], kCfgRows, op.salt);
        break;
    case Kind::Idle:
        break;
    }
}

// A random key of db that passes keep; empty when there is none.
template <class Keep>
std::string pickKey(const Db& db, std::mt19937_64& rng, Keep keep)
{
    std::vector<const std::string*> keys;
    for (const auto& [k, v] : db)
        if (keep(k, v)) keys.push_back(&k);
    return keys.empty() ? std::string() : *keys[rng() % keys.size()];
}

inline bool isVsi(const std::string& k) { return k.rfind("vsi.", 0) == 0; }

inline std::string ucpwKey(std::mt19937_64& rng)
{
    char k[128];
    std::snprintf(k, sizeof k, "ucpw.%u.%u.%hu.ge%u", unsigned(rng() % 4), unsigned(1 + rng() % 5),
                  static_cast<unsigned short>(10 * (1 + rng() % 2)), unsigned(rng() % 2));
    return k;
}

inline std::string ucpwElem(const std::string& key, std::mt19937_64& rng)
{
    unsigned vsi = 0, ifIndex = 0;
    unsigned short bvlan = 0;
    std::sscanf(key.c_str(), "ucpw.%u.%u.%hu", &vsi, &ifIndex, &bvlan);
    uint8_t e[20] = {};
    uint32_t isid = static_cast<uint32_t>(rng() % 1000);
    std::memcpy(e, &vsi, 4);
    std::memcpy(e + 4, &isid, 4);
    std::memcpy(e + 8, &ifIndex, 4);
    e[16] = static_cast<uint8_t>(rng() % 2);
    e[17] = static_cast<uint8_t>(rng() % 64);
    std::memcpy(e + 18, &bvlan, 2);
    return std::string(reinterpret_cast<char*>(e), 20);
}

inline std::string name32(const std::string& n)
{
    std::string s(32, '\0');
    std::memcpy(s.data(), n.data(), std::min<size_t>(n.size(), 31));
    return s;
}

// The next write, chosen from the seed's stream and the current contents;
// a burst is learned entries only, as fast as they come. A write that needs
// an existing key and finds none makes way for another roll.
inline Op next(const Model& m, std::mt19937_64& rng, bool burst)
{
    Op op;
    unsigned roll = static_cast<unsigned>(rng() % (burst ? 79 : 100));
    op.db = static_cast<int>(rng() % 2);
    const Db& cfg = m.cfg[op.db];
    auto onExisting = [&](Kind kind, const Db& db, auto keep) {
        op.kind = kind;
        op.key = pickKey(db, rng, keep);
        return !op.key.empty();
    };
    auto any = [](const std::string&, const Val&) { return true; };
    auto notVsi = [](const std::string& k, const Val&) { return !isVsi(k); };
    auto withElems = [](const std::string& k, const Val& v) { return v.list && !v.elems.empty() && !isVsi(k); };
    if (roll < 60) {
        op.kind = Kind::RunInsert;
        op.key = ucpwKey(rng);
        op.data = ucpwElem(op.key, rng);
    } else if (roll < 75) {
        if (!onExisting(Kind::RunRemove, m.run, withElems)) return next(m, rng, burst);
        const auto& elems = m.run.at(op.key).elems;
        op.data = std::next(elems.begin(), static_cast<long>(rng() % elems.size()))->second;
    } else if (roll < 78) {
        if (!onExisting(Kind::RunDeleteKey, m.run, any)) return next(m, rng, burst);
    } else if (roll < 79) {
        op.kind = Kind::RunBatch;
        op.salt = rng();
    } else if (roll < 82) {
        op.kind = Kind::CfgSetVsi;
        op.db = 0;
        op.key = "vsi.V" + std::to_string(rng() % 8);
        op.data.resize(16);
        for (auto& c : op.data) c = static_cast<char>(rng());
    } else if (roll < 86) {
        op.kind = Kind::CfgAddIfVsi;
        op.key = "ifvsi.ge1/0/" + std::to_string(rng() % 6);
        op.data = name32("V" + std::to_string(rng() % 8));
    } else if (roll < 88) {
        if (!onExisting(Kind::CfgRemoveIfVsi, cfg, withElems)) return next(m, rng, burst);
        op.data = cfg.at(op.key).elems.begin()->second;
    } else if (roll < 91) {
        op.kind = Kind::CfgSetIf;
        op.key = "if.ge1/0/" + std::to_string(rng() % 6);
        op.data = std::string("\x01\x00", 2);
    } else if (roll < 93) {
        if (!onExisting(Kind::CfgDeleteKey, cfg, any)) return next(m, rng, burst);
    } else if (roll < 95) {
        if (!onExisting(Kind::CfgMove, cfg, notVsi)) return next(m, rng, burst);
    } else if (roll < 96) {
        op.kind = Kind::CfgBatch;
        op.salt = rng();
    } else {
        op.kind = Kind::Idle;
        op.ms = static_cast<uint32_t>(1 + rng() % 8);
    }
    return op;
}

// The child's side: the handles it writes through.
struct Handles {
    uint32_t used, unused, run;
};

inline uint64_t g_batchSalt = 0;

inline uint32_t batchHandler(uint32_t h, const char* key, uint32_t len)
{
    std::string k(key);
    bool run = k.rfind("ucpw.", 0) == 0;
    if (dropsFirst(k, g_batchSalt) && k.rfind("vsi.", 0) != 0) {
        uint32_t elemLen = run ? 20 : 32;
        uint32_t iter = 0;
        char buf[32];
        if (DBM_GetNextSortList(h, key, len, &iter, 0, 0, elemLen, buf) > 0) DBM_RemoveSortList(h, key, len, elemLen, buf);
        DBM_FreeIterator(iter);
    }
    return verdictOf(k, g_batchSalt, !run);
}

inline void perform(const Op& op, const Handles& h)
{
    uint32_t db = op.db == 0 ? h.used : h.unused;
    const char* k = op.key.c_str();
    uint32_t len = static_cast<uint32_t>(op.key.size() + 1);
    switch (op.kind) {
    case Kind::RunInsert:
        if (DBM_IsKeyExist(h.run, k, len) != 1) DBM_SetSortWord(h.run, k, len, 1, 12, 8, 4, 0);
        DBM_InsertSortList(h.run, k, len, 20, op.data.data(), 0);
        break;
    case Kind::RunRemove:
        DBM_RemoveSortList(h.run, k, len, 20, op.data.data());
        break;
    case Kind::RunDeleteKey:
        DBM_DeleteKey(h.run, k, len);
        break;
    case Kind::RunBatch: {
        g_batchSalt = op.salt;
        const DBM_PROC_KEY_S rows[1] = {{0, batchHandler, nullptr}};
        DBM_Batch_Proc(h.run, DBM_INVALID_HANDLE, rows, 1);
        break;
    }
    case Kind::CfgSetVsi:
    case Kind::CfgSetIf:
        DBM_SetBinary(db, k, len, 0, static_cast<uint32_t>(op.data.size()), op.data.data(),
                      op.kind == Kind::CfgSetVsi ? 0 : 2);
        break;
    case Kind::CfgDeleteKey:
        DBM_DeleteKey(db, k, len);
        break;
    case Kind::CfgAddIfVsi:
        if (DBM_IsKeyExist(db, k, len) != 1) DBM_SetSortWord(db, k, len, 1, 0, 32, 5, 0);
        DBM_InsertSortList(db, k, len, 32, op.data.data(), 1);
        break;
    case Kind::CfgRemoveIfVsi:
        DBM_RemoveSortList(db, k, len, 32, op.data.data());
        break;
    case Kind::CfgMove:
        DBM_Move(db, k, len, op.db == 0 ? h.unused : h.used);
        break;
    case Kind::CfgBatch: {
        g_batchSalt = op.salt;
        const DBM_PROC_KEY_S rows[3] = {{0, batchHandler, nullptr}, {1, batchHandler, batchHandler},
                                        {2, batchHandler, batchHandler}};
        DBM_Batch_Proc(h.used, h.unused, rows, 3);
        break;
    }
    case Kind::Idle:
        // The daemon waiting for its next event.
        std::this_thread::sleep_for(std::chrono::milliseconds(op.ms));
        break;
    }
}

}  // namespace crashtest
