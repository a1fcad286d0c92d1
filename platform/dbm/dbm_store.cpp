#include "platform/dbm/dbm_store.h"

#include "platform/dbm.h"
#include "platform/settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat::dbm {
namespace {

constexpr const char* kFormat = "1";

constexpr const char* kSchema =
    "CREATE TABLE dbm_meta(name TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE dbm_databases(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
    "CREATE TABLE dbm_keys(db INTEGER NOT NULL, key TEXT NOT NULL, value_type INTEGER NOT NULL,"
    " kind INTEGER NOT NULL, value BLOB, sort_kind INTEGER NOT NULL DEFAULT 0,"
    " sort_offset INTEGER NOT NULL DEFAULT 0, sort_length INTEGER NOT NULL DEFAULT 0,"
    " sort_compare INTEGER NOT NULL DEFAULT 0, sort_flags INTEGER NOT NULL DEFAULT 0,"
    " elem_len INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(db, key)) WITHOUT ROWID;"
    "CREATE TABLE dbm_elements(db INTEGER NOT NULL, key TEXT NOT NULL, field BLOB NOT NULL,"
    " elem BLOB NOT NULL, PRIMARY KEY(db, key, field)) WITHOUT ROWID;";

bool fileExists(const std::string& p)
{
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0;
}

// "file:" URI of a path, with the characters that URIs reserve escaped.
std::string uriOf(const std::string& path, const char* query)
{
    std::string u = "file:";
    for (char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
            u += buf;
        } else {
            u += c;
        }
    }
    if (query != nullptr && *query != '\0') {
        u += '?';
        u += query;
    }
    return u;
}

void syncDir(const std::string& file)
{
    std::string dir = file.substr(0, file.rfind('/'));
    int fd = ::open(dir.empty() ? "/" : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool validKeyText(std::string_view k)
{
    return !k.empty() && k.size() < DBM_MAX_KEY_LEN && k.find('\0') == std::string_view::npos;
}

}  // namespace

StoreFile::~StoreFile()
{
    for (auto* s : {&m_putKey, &m_delKey, &m_delElems, &m_putElem, &m_delElem, &m_moveKey, &m_moveElems, &m_begin,
                    &m_commit, &m_rollback})
        s->finalize();
    m_conn.close();
    if (m_lockFd >= 0) ::close(m_lockFd);
}

uint32_t StoreFile::open(const StoreSpec& spec, std::unique_ptr<StoreFile>& out, std::vector<Image>& images,
                         std::string& error)
{
    std::unique_ptr<StoreFile> f(new StoreFile());
    f->m_path = spec.path;
    bool exists = fileExists(spec.path);
    if (!exists && (!spec.create || !spec.writable)) {
        error = "no store " + spec.path;
        return DBM_ERR_MISSING;
    }
    if (spec.writable) {
        std::string dir = spec.path.substr(0, spec.path.rfind('/'));
        // The state directory and the store's folder: ours, and nobody
        // else's to write.
        const std::string state = plat::stateDir();
        std::string why;
        if (spec.path.starts_with(state + "/")) why = plat::ensureDirProblem(state);
        if (why.empty()) why = plat::ensureDirProblem(dir);
        if (!why.empty()) {
            error = "cannot use the store folder " + dir + ": " + why;
            return DBM_ERR_STORE;
        }
        // One writer per store: a second open, in this process or another,
        // would keep an image of its own and overwrite the first one's work.
        std::string lock = spec.path + ".lock";
        f->m_lockFd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (f->m_lockFd < 0) {
            error = "cannot open the lock file " + lock + ": " + std::strerror(errno);
            return DBM_ERR_STORE;
        }
        if (::flock(f->m_lockFd, LOCK_EX | LOCK_NB) != 0) {
            error = "store " + spec.path + " is open already (lock " + lock + " held)";
            return DBM_ERR_BUSY;
        }
    }
    uint32_t rc = f->openFile(spec, exists, error);
    if (rc == DBM_OK) rc = f->check(error);
    if (rc == DBM_OK) rc = f->readDatabases(spec, error);
    if (rc == DBM_OK && spec.writable) {
        std::string pragmas = "PRAGMA journal_mode=WAL; PRAGMA synchronous=" + std::to_string(spec.synchronous) +
                              "; PRAGMA cache_size=-16384; PRAGMA journal_size_limit=67108864;"
                              " PRAGMA wal_autocheckpoint=" + std::to_string(spec.checkpointPages) + ";";
        if (f->m_conn.exec(pragmas.c_str()) != SQLITE_OK) {
            error = "cannot set up store " + spec.path + ": " + f->m_conn.error();
            rc = DBM_ERR_STORE;
        }
    }
    if (rc == DBM_OK && spec.writable) rc = f->prepareWrites(error);
    if (rc == DBM_OK) rc = f->load(images, error);
    if (rc == DBM_OK && !spec.writable && exists && fileExists(spec.path + "-wal")) {
        // Opened as immutable while the file had no write-ahead log, and a
        // writer has started since: read again through the log.
        rc = f->openFile(spec, true, error);
        if (rc == DBM_OK) rc = f->load(images, error);
    }
    if (rc != DBM_OK) return rc;
    if (!exists) syncDir(spec.path);
    out = std::move(f);
    return DBM_OK;
}

uint32_t StoreFile::openFile(const StoreSpec& spec, bool exists, std::string& error)
{
    int rc;
    if (spec.writable) {
        // A new store is created here, readable by this user only, before
        // SQLite opens it; its log and index files take the same mode.
        if (!exists) {
            int fd = ::open(spec.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0) {
                error = "cannot create store " + spec.path + ": " + std::strerror(errno);
                return DBM_ERR_STORE;
            }
            ::close(fd);
        }
        rc = m_conn.open(uriOf(spec.path, nullptr), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX);
    } else {
        // Read-only: through the write-ahead log when there is one (a
        // writer is or was active), else as an immutable file so that
        // nothing, not even the log's index, is created beside it.
        bool hasWal = fileExists(spec.path + "-wal");
        rc = m_conn.open(uriOf(spec.path, hasWal ? "mode=ro" : "immutable=1"), SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
    }
    if (rc != SQLITE_OK) {
        error = "cannot open store " + spec.path + ": " + (m_conn.get() ? m_conn.error() : sqlite3_errstr(rc));
        return DBM_ERR_STORE;
    }
    sqlite3_busy_timeout(m_conn.get(), 5000);
    return DBM_OK;
}

uint32_t StoreFile::check(std::string& error)
{
    sql::Statement st;
    int rc = st.prepare(m_conn, "PRAGMA quick_check(1)");
    std::string verdict;
    if (rc == SQLITE_OK) {
        rc = st.step();
        if (rc == SQLITE_ROW) verdict = std::string(st.text(0));
    }
    if ((rc != SQLITE_ROW && rc != SQLITE_DONE) || (rc == SQLITE_ROW && verdict != "ok")) {
        int primary = rc & 0xFF;
        std::string why = verdict.empty() ? m_conn.error() : verdict;
        if (primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR || primary == SQLITE_PERM || primary == SQLITE_BUSY) {
            error = "cannot read store " + m_path + ": " + why;
            return DBM_ERR_STORE;
        }
        error = "store " + m_path + " is damaged (" + why + ")";
        return DBM_ERR_CORRUPT;
    }
    return DBM_OK;
}

uint32_t StoreFile::createSchema(const std::vector<std::string>& names, std::string& error)
{
    // Only a file without any table gets here: a new file, or one whose
    // creation was interrupted before its first transaction committed.
    if (m_conn.exec("PRAGMA journal_mode=WAL") != SQLITE_OK || m_conn.exec("BEGIN IMMEDIATE") != SQLITE_OK) {
        error = "cannot create store " + m_path + ": " + m_conn.error();
        return DBM_ERR_STORE;
    }
    bool ok = m_conn.exec(kSchema) == SQLITE_OK;
    sql::Statement meta, db;
    ok = ok && meta.prepare(m_conn, "INSERT INTO dbm_meta(name, value) VALUES('format', ?1)") == SQLITE_OK;
    if (ok) {
        meta.bind(1, std::string_view(kFormat));
        ok = meta.run() == SQLITE_OK;
    }
    ok = ok && db.prepare(m_conn, "INSERT INTO dbm_databases(id, name) VALUES(?1, ?2)") == SQLITE_OK;
    for (size_t i = 0; ok && i < names.size(); ++i) {
        db.bind(1, static_cast<int64_t>(i + 1));
        db.bind(2, std::string_view(names[i]));
        ok = db.run() == SQLITE_OK;
    }
    meta.finalize();
    db.finalize();
    if (!ok || m_conn.exec("COMMIT") != SQLITE_OK) {
        error = "cannot create store " + m_path + ": " + m_conn.error();
        m_conn.exec("ROLLBACK");
        return DBM_ERR_STORE;
    }
    return DBM_OK;
}

uint32_t StoreFile::readDatabases(const StoreSpec& spec, std::string& error)
{
    sql::Statement st;
    int tables = 0, ours = 0;
    if (st.prepare(m_conn, "SELECT name FROM sqlite_schema WHERE type = 'table'") == SQLITE_OK) {
        while (st.step() == SQLITE_ROW) {
            ++tables;
            std::string_view n = st.text(0);
            ours += (n == "dbm_meta" || n == "dbm_databases" || n == "dbm_keys" || n == "dbm_elements");
        }
    }
    st.finalize();
    if (tables == 0) {
        if (!spec.writable || spec.names.empty()) {
            error = "store " + m_path + " holds no databases";
            return DBM_ERR_MISSING;
        }
        uint32_t rc = createSchema(spec.names, error);
        if (rc != DBM_OK) return rc;
    } else if (ours != 4 || tables != 4) {
        error = "store " + m_path + " is damaged (not a database store: unexpected tables)";
        return DBM_ERR_CORRUPT;
    }
    std::string format;
    if (st.prepare(m_conn, "SELECT value FROM dbm_meta WHERE name = 'format'") == SQLITE_OK && st.step() == SQLITE_ROW)
        format = std::string(st.text(0));
    st.finalize();
    if (format != kFormat) {
        error = "store " + m_path + " is damaged (unknown format \"" + format + "\")";
        return DBM_ERR_CORRUPT;
    }
    std::vector<std::pair<uint32_t, std::string>> inFile;
    if (st.prepare(m_conn, "SELECT id, name FROM dbm_databases ORDER BY id") == SQLITE_OK) {
        while (st.step() == SQLITE_ROW)
            inFile.emplace_back(static_cast<uint32_t>(st.integer(0)), std::string(st.text(1)));
    }
    st.finalize();
    m_names.clear();
    m_ids.clear();
    if (spec.names.empty()) {
        for (auto& [id, name] : inFile) {
            m_ids.push_back(id);
            m_names.push_back(name);
        }
        return DBM_OK;
    }
    for (const auto& want : spec.names) {
        bool found = false;
        for (auto& [id, name] : inFile) {
            if (name == want) {
                m_ids.push_back(id);
                m_names.push_back(name);
                found = true;
            }
        }
        if (!found) {
            error = "store " + m_path + " is damaged (it does not hold database \"" + want + "\")";
            return DBM_ERR_CORRUPT;
        }
    }
    return DBM_OK;
}

uint32_t StoreFile::prepareWrites(std::string& error)
{
    struct {
        sql::Statement* st;
        const char* text;
    } const all[] = {
        {&m_putKey,
         "INSERT OR REPLACE INTO dbm_keys(db, key, value_type, kind, value, sort_kind, sort_offset, sort_length,"
         " sort_compare, sort_flags, elem_len) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)"},
        {&m_delKey, "DELETE FROM dbm_keys WHERE db = ?1 AND key = ?2"},
        {&m_delElems, "DELETE FROM dbm_elements WHERE db = ?1 AND key = ?2"},
        {&m_putElem, "INSERT OR REPLACE INTO dbm_elements(db, key, field, elem) VALUES(?1, ?2, ?3, ?4)"},
        {&m_delElem, "DELETE FROM dbm_elements WHERE db = ?1 AND key = ?2 AND field = ?3"},
        {&m_moveKey, "UPDATE dbm_keys SET db = ?3 WHERE db = ?1 AND key = ?2"},
        {&m_moveElems, "UPDATE dbm_elements SET db = ?3 WHERE db = ?1 AND key = ?2"},
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

uint32_t StoreFile::load(std::vector<Image>& images, std::string& error)
{
    // Every table is read in one read transaction: a reader beside a
    // running writer (the operator's dump) sees one committed state, never
    // keys of one commit and elements of the next.
    if (m_conn.exec("BEGIN") != SQLITE_OK) {
        error = "cannot read store " + m_path + ": " + m_conn.error();
        return DBM_ERR_STORE;
    }
    struct EndRead {
        sql::Connection& conn;
        ~EndRead() { (void)conn.exec("COMMIT"); }
    } endRead{m_conn};
    images.assign(m_names.size(), Image{});
    auto indexOf = [this](int64_t id) -> int {
        for (size_t i = 0; i < m_ids.size(); ++i)
            if (m_ids[i] == id) return static_cast<int>(i);
        return -1;
    };
    auto damaged = [&](const std::string& what) {
        error = "store " + m_path + " is damaged (" + what + ")";
        for (auto& im : images) im.clear();
        return DBM_ERR_CORRUPT;
    };
    sql::Statement st;
    if (st.prepare(m_conn,
                   "SELECT db, key, value_type, kind, value, sort_kind, sort_offset, sort_length, sort_compare,"
                   " sort_flags, elem_len FROM dbm_keys ORDER BY db, key") != SQLITE_OK) {
        error = "cannot read store " + m_path + ": " + m_conn.error();
        return DBM_ERR_STORE;
    }
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) {
        int idx = indexOf(st.integer(0));
        if (idx < 0) continue;  // a database of the file that this open did not ask for
        std::string_view key = st.text(1);
        if (!validKeyText(key)) return damaged("a key of " + std::to_string(key.size()) + " characters");
        int64_t vt = st.integer(2);
        if (vt < 0 || vt > 0xFFFFFFFFLL) return damaged("key \"" + std::string(key) + "\" has value type " + std::to_string(vt));
        KeyEntry e;
        e.valueType = static_cast<uint32_t>(vt);
        int64_t kind = st.integer(3);
        if (kind == static_cast<int64_t>(Kind::Binary)) {
            e.kind = Kind::Binary;
            e.value = std::string(st.blob(4));
            if (e.value.size() > DBM_MAX_VALUE_LEN) return damaged("key \"" + std::string(key) + "\" has an oversized value");
        } else if (kind == static_cast<int64_t>(Kind::List)) {
            e.kind = Kind::List;
            auto u32 = [&](int col) { return static_cast<uint32_t>(st.integer(col)); };
            e.desc = SortDesc{u32(5), u32(6), u32(7), u32(8), u32(9)};
            e.elemLen = u32(10);
            if (!validSortDesc(e.desc) || !fitsElement(e.desc, e.elemLen))
                return damaged("key \"" + std::string(key) + "\" has a bad sort description");
        } else {
            return damaged("key \"" + std::string(key) + "\" is of kind " + std::to_string(kind));
        }
        images[static_cast<size_t>(idx)].put(key, std::move(e));
    }
    if (rc != SQLITE_DONE) {
        error = "cannot read store " + m_path + ": " + m_conn.error();
        return (rc & 0xFF) == SQLITE_CORRUPT ? damaged(m_conn.error()) : DBM_ERR_STORE;
    }
    if (st.prepare(m_conn, "SELECT db, key, field, elem FROM dbm_elements ORDER BY db, key, field") != SQLITE_OK) {
        error = "cannot read store " + m_path + ": " + m_conn.error();
        return DBM_ERR_STORE;
    }
    KeyEntry* cur = nullptr;
    int64_t curDb = -1;
    std::string curKey;
    while ((rc = st.step()) == SQLITE_ROW) {
        int64_t db = st.integer(0);
        std::string_view key = st.text(1);
        if (cur == nullptr || db != curDb || key != curKey) {
            int idx = indexOf(db);
            curDb = db;
            curKey = std::string(key);
            cur = idx < 0 ? nullptr : images[static_cast<size_t>(idx)].find(key);
            if (idx >= 0 && (cur == nullptr || cur->kind != Kind::List))
                return damaged("an element under \"" + curKey + "\", which is no sort list");
            if (idx < 0) continue;
        }
        if (cur == nullptr) continue;
        std::string_view field = st.blob(2), elem = st.blob(3);
        if (elem.size() != cur->elemLen ||
            sortField(cur->desc, reinterpret_cast<const uint8_t*>(elem.data())) != field)
            return damaged("an element under \"" + curKey + "\" does not match its list");
        cur->elems.emplace_hint(cur->elems.end(), std::string(field), std::string(elem));
    }
    if (rc != SQLITE_DONE) {
        error = "cannot read store " + m_path + ": " + m_conn.error();
        return (rc & 0xFF) == SQLITE_CORRUPT ? damaged(m_conn.error()) : DBM_ERR_STORE;
    }
    return DBM_OK;
}

uint32_t StoreFile::runOp(const Op& op)
{
    auto keyOnly = [&](sql::Statement& s) {
        s.bind(1, static_cast<int64_t>(op.db));
        s.bind(2, op.key);
        return s.run();
    };
    switch (op.kind) {
    case OpKind::PutBinary:
    case OpKind::PutList: {
        bool list = op.kind == OpKind::PutList;
        m_putKey.bind(1, static_cast<int64_t>(op.db));
        m_putKey.bind(2, op.key);
        m_putKey.bind(3, static_cast<int64_t>(op.valueType));
        m_putKey.bind(4, static_cast<int64_t>(list ? Kind::List : Kind::Binary));
        if (list) m_putKey.bindNull(5);
        else m_putKey.bindBlob(5, op.data);
        m_putKey.bind(6, static_cast<int64_t>(op.desc.kind));
        m_putKey.bind(7, static_cast<int64_t>(op.desc.offset));
        m_putKey.bind(8, static_cast<int64_t>(op.desc.length));
        m_putKey.bind(9, static_cast<int64_t>(op.desc.compare));
        m_putKey.bind(10, static_cast<int64_t>(op.desc.flags));
        m_putKey.bind(11, static_cast<int64_t>(op.elemLen));
        return m_putKey.run();
    }
    case OpKind::DeleteKey: {
        int rc = keyOnly(m_delKey);
        return rc != SQLITE_OK ? rc : keyOnly(m_delElems);
    }
    case OpKind::PutElem:
    case OpKind::DeleteElem: {
        sql::Statement& s = op.kind == OpKind::PutElem ? m_putElem : m_delElem;
        s.bind(1, static_cast<int64_t>(op.db));
        s.bind(2, op.key);
        s.bindBlob(3, op.field);
        if (op.kind == OpKind::PutElem) s.bindBlob(4, op.data);
        return s.run();
    }
    case OpKind::MoveKey: {
        Op drop;
        drop.kind = OpKind::DeleteKey;
        drop.db = op.toDb;
        drop.key = op.key;
        int rc = runOp(drop);
        for (sql::Statement* s : {&m_moveKey, &m_moveElems}) {
            if (rc != SQLITE_OK) break;
            s->bind(1, static_cast<int64_t>(op.db));
            s->bind(2, op.key);
            s->bind(3, static_cast<int64_t>(op.toDb));
            rc = s->run();
        }
        return rc;
    }
    }
    return SQLITE_MISUSE;
}

uint32_t StoreFile::apply(const OpList& ops, std::string& error)
{
    if (ops.empty()) return DBM_OK;
    if (!m_begin.ready()) {
        error = "store " + m_path + " is read-only";
        return DBM_ERR_READ_ONLY;
    }
    int rc = m_begin.run();
    for (size_t i = 0; rc == SQLITE_OK && i < ops.size(); ++i) rc = runOp(ops[i]);
    if (rc == SQLITE_OK) rc = m_commit.run();
    if (rc != SQLITE_OK) {
        error = "cannot write store " + m_path + ": " + m_conn.error();
        if (!sqlite3_get_autocommit(m_conn.get())) m_rollback.run();
        return DBM_ERR_STORE;
    }
    return DBM_OK;
}

}  // namespace plat::dbm
