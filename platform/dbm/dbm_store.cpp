#include "platform/dbm/dbm_store.h"

#include "platform/dbm.h"
#include "platform/dbm/dbm_rows.h"
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

// Format 2: a sort list's elements are its key row's value, and committed
// changes not yet folded into the key rows are in dbm_log. Format 1 kept
// each element in a row of dbm_elements; such a store is read as it is and
// changed to format 2 when it is opened for writing.
constexpr const char* kFormat = "2";
constexpr const char* kFormatElementRows = "1";
constexpr const char* kSchema =
    "CREATE TABLE dbm_meta(name TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE dbm_databases(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
    "CREATE TABLE dbm_keys(db INTEGER NOT NULL, key TEXT NOT NULL, value_type INTEGER NOT NULL,"
    " kind INTEGER NOT NULL, value BLOB, sort_kind INTEGER NOT NULL DEFAULT 0,"
    " sort_offset INTEGER NOT NULL DEFAULT 0, sort_length INTEGER NOT NULL DEFAULT 0,"
    " sort_compare INTEGER NOT NULL DEFAULT 0, sort_flags INTEGER NOT NULL DEFAULT 0,"
    " elem_len INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(db, key)) WITHOUT ROWID;";

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

}  // namespace

StoreFile::~StoreFile()
{
    for (auto* s : {&m_getKey, &m_putKey, &m_delKey, &m_addLog, &m_readLog, &m_clearLog, &m_begin, &m_commit, &m_rollback})
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
                              "; PRAGMA cache_size=-1024; PRAGMA journal_size_limit=67108864;"
                              " PRAGMA wal_autocheckpoint=" + std::to_string(spec.checkpointPages) + ";";
        if (f->m_conn.exec(pragmas.c_str()) != SQLITE_OK) {
            error = "cannot set up store " + spec.path + ": " + f->m_conn.error();
            rc = DBM_ERR_STORE;
        }
    }
    if (rc == DBM_OK) rc = f->load(images, error);
    if (rc == DBM_OK && spec.writable && f->m_elementRows) rc = f->upgrade(images, error);
    if (rc == DBM_OK && spec.writable) rc = f->prepareWrites(error);
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
    bool ok = m_conn.exec(kSchema) == SQLITE_OK && m_conn.exec(kLogTable) == SQLITE_OK;
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
    bool elementRows = false;
    if (st.prepare(m_conn, "SELECT name FROM sqlite_schema WHERE type = 'table'") == SQLITE_OK) {
        while (st.step() == SQLITE_ROW) {
            ++tables;
            std::string_view n = st.text(0);
            elementRows = elementRows || n == "dbm_elements";
            ours += (n == "dbm_meta" || n == "dbm_databases" || n == "dbm_keys" || n == "dbm_elements" || n == "dbm_log");
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
    if ((format != kFormat || elementRows) && (format != kFormatElementRows || !elementRows)) {
        error = "store " + m_path + " is damaged (unknown format \"" + format + "\")";
        return DBM_ERR_CORRUPT;
    }
    m_elementRows = format == kFormatElementRows;
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

}  // namespace plat::dbm
