// Writing a store file: a commit appends its changes to the change log, or
// folds them, after the changes logged before, into the key rows.
#include "platform/dbm.h"
#include "platform/dbm/dbm_fold.h"
#include "platform/dbm/dbm_rows.h"
#include "platform/dbm/dbm_store.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace plat::dbm {

namespace {

// Bytes in pages of their own, given back to the system at the end: the
// change log a fold reads holds up to a fold's worth of changes (4.6 MB for
// the 65,536 of learned entries), and the allocator would keep a block of
// that size in the committer's heap once freed.
class MappedBytes {
public:
    explicit MappedBytes(size_t size) : m_size(size)
    {
        if (size == 0) return;
        void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        m_data = p == MAP_FAILED ? nullptr : static_cast<char*>(p);
    }
    ~MappedBytes()
    {
        if (m_data != nullptr) ::munmap(m_data, m_size);
    }
    MappedBytes(const MappedBytes&) = delete;
    MappedBytes& operator=(const MappedBytes&) = delete;

    bool ok() const { return m_size == 0 || m_data != nullptr; }
    char* data() const { return m_data; }
    size_t size() const { return m_size; }

private:
    char* m_data = nullptr;
    size_t m_size;
};

}  // namespace

uint32_t StoreFile::prepareWrites(std::string& error)
{
    const std::string getKey = std::string("SELECT ") + kKeyColumns + " FROM dbm_keys WHERE db = ?1 AND key = ?2";
    const std::string putKey = std::string("INSERT OR REPLACE INTO dbm_keys(db, key, ") + kKeyColumns +
                               ") VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)";
    struct {
        sql::Statement* st;
        const char* text;
    } const all[] = {
        {&m_getKey, getKey.c_str()},
        {&m_putKey, putKey.c_str()},
        {&m_delKey, "DELETE FROM dbm_keys WHERE db = ?1 AND key = ?2"},
        {&m_addLog, "INSERT INTO dbm_log(changes) VALUES(?1)"},
        {&m_readLog, "SELECT changes FROM dbm_log ORDER BY seq"},
        {&m_clearLog, "DELETE FROM dbm_log"},
        {&m_begin, "BEGIN IMMEDIATE"},
        {&m_commit, "COMMIT"},
        {&m_rollback, "ROLLBACK"},
    };
    for (const auto& s : all) {
        if (s.st->prepare(m_conn, s.text) != SQLITE_OK) {
            error = "cannot prepare writes to store " + m_path + ": " + m_conn.error();
            return DBM_ERR_STORE;
        }
    }
    return DBM_OK;
}

uint32_t StoreFile::commit(const OpList& ops, size_t foldAt, std::string& error)
{
    if (ops.empty() && (foldAt > 0 || m_logged == 0)) return DBM_OK;
    if (!m_begin.ready()) {
        error = "store " + m_path + " is read-only";
        return DBM_ERR_READ_ONLY;
    }
    const bool folding = m_logged + ops.size() >= foldAt;
    const size_t logBytes = m_logBytes;
    std::string why;
    int rc = m_begin.run();
    if (rc == SQLITE_OK) rc = folding ? fold(ops, why) : appendLog(ops);
    if (rc == SQLITE_OK) rc = m_commit.run();
    if (rc != SQLITE_OK) {
        error = "cannot write store " + m_path + ": " + (why.empty() ? m_conn.error() : why);
        if (!sqlite3_get_autocommit(m_conn.get())) m_rollback.run();
        m_logBytes = logBytes;
        return DBM_ERR_STORE;
    }
    if (folding) m_logBytes = 0;
    m_logged = folding ? 0 : m_logged + ops.size();
    return DBM_OK;
}

int StoreFile::appendLog(const OpList& ops)
{
    m_logRow.clear();
    ops.encode(m_logRow);
    m_addLog.bindBlob(1, m_logRow);
    m_logBytes += m_logRow.size();
    return m_addLog.run();
}

int StoreFile::readLog(char* out, size_t size)
{
    size_t at = 0;
    int rc;
    while ((rc = m_readLog.step()) == SQLITE_ROW) {
        std::string_view changes = m_readLog.blob(0);
        if (changes.size() > size - at) {
            rc = SQLITE_CORRUPT;
            break;
        }
        std::memcpy(out + at, changes.data(), changes.size());
        at += changes.size();
    }
    m_readLog.reset();
    if (rc == SQLITE_DONE && at != size) rc = SQLITE_CORRUPT;
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int StoreFile::fold(const OpList& ops, std::string& why)
{
    // The keys the changes touch, per database, read from their rows when
    // first touched and written back once each, in key order.
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
    };
    std::vector<std::unordered_map<std::string, FoldKey, Hash, std::equal_to<>>> keys(m_ids.size());
    auto touch = [&](uint32_t db, std::string_view key, FoldKey*& out) {
        out = nullptr;
        for (size_t i = 0; i < m_ids.size(); ++i) {
            if (m_ids[i] != db) continue;
            auto it = keys[i].find(key);
            if (it != keys[i].end()) {
                out = &it->second;
                return SQLITE_OK;
            }
            out = &keys[i].emplace(std::string(key), FoldKey{}).first->second;
            m_getKey.bind(1, static_cast<int64_t>(db));
            m_getKey.bind(2, key);
            int rc = m_getKey.step();
            std::string_view elems;
            if (rc == SQLITE_ROW) {
                out->exists = headFromRow(m_getKey, 0, key, out->head, elems, why);
                out->base = std::string(elems);
                rc = out->exists ? SQLITE_OK : SQLITE_CORRUPT;
            }
            m_getKey.reset();
            return rc == SQLITE_DONE ? SQLITE_OK : rc;
        }
        return SQLITE_OK;  // an unknown database: the change is refused below
    };
    auto change = [&](const Op& op) {
        FoldKey *key = nullptr, *to = nullptr;
        int rc = touch(op.db, op.key, key);
        if (rc == SQLITE_OK && op.kind == OpKind::MoveKey) rc = touch(op.toDb, op.key, to);
        if (rc == SQLITE_OK && (key == nullptr || !validKeyText(op.key) || !foldChange(*key, to, op))) {
            why = "a change for key \"" + std::string(op.key) + "\" that no call makes";
            rc = SQLITE_CORRUPT;
        }
        return rc;
    };
    // The changes logged since the last fold are read back from the file:
    // kept in memory they would hold up to a fold's worth of changes (4.6
    // MB for the 65,536 of learned entries) for reading them once. The
    // keys keep views of them, which stay put until the fold is over.
    MappedBytes log(m_logBytes);
    int rc = !log.ok() ? SQLITE_NOMEM : log.size() > 0 ? readLog(log.data(), log.size()) : SQLITE_OK;
    if (rc == SQLITE_CORRUPT) why = "a change log other than the one committed";
    Op op;
    for (std::string_view logged(log.data(), log.size()); rc == SQLITE_OK && !logged.empty();) {
        rc = takeChange(logged, op) ? change(op) : SQLITE_CORRUPT;
        if (rc == SQLITE_CORRUPT && why.empty()) why = "a malformed entry of the change log";
    }
    for (size_t i = 0; rc == SQLITE_OK && i < ops.size(); ++i) rc = change(ops[i]);
    std::vector<std::pair<const std::string, FoldKey>*> rows;
    for (size_t i = 0; i < keys.size(); ++i) {
        rows.clear();
        for (auto& row : keys[i]) rows.push_back(&row);
        std::sort(rows.begin(), rows.end(), [](auto* a, auto* b) { return a->first < b->first; });
        for (auto it = rows.begin(); rc == SQLITE_OK && it != rows.end(); ++it) {
            auto& [key, k] = **it;
            if (!k.exists) {
                m_delKey.bind(1, static_cast<int64_t>(m_ids[i]));
                m_delKey.bind(2, std::string_view(key));
                rc = m_delKey.run();
                continue;
            }
            std::string value = k.value();
            bindRow(m_putKey, m_ids[i], key, k.head, value);
            rc = m_putKey.run();
        }
    }
    if (rc == SQLITE_OK && log.size() > 0) rc = m_clearLog.run();
    return rc;
}

}  // namespace plat::dbm
