// Reading a store file into images, and changing a format 1 store (one row
// per element) to format 2 (a list's elements in its key row).
#include "platform/dbm.h"
#include "platform/dbm/dbm_apply.h"
#include "platform/dbm/dbm_rows.h"
#include "platform/dbm/dbm_store.h"

namespace plat::dbm {

uint32_t StoreFile::load(std::vector<Image>& images, std::string& error)
{
    // Every table is read in one read transaction: a reader beside a
    // running writer (the operator's dump) sees one committed state, never
    // keys of one commit and the log of the next.
    if (m_conn.exec("BEGIN") != SQLITE_OK) {
        error = "cannot read store " + m_path + ": " + m_conn.error();
        return DBM_ERR_STORE;
    }
    struct EndRead {
        sql::Connection& conn;
        ~EndRead() { (void)conn.exec("COMMIT"); }
    } endRead{m_conn};
    images.clear();
    images.resize(m_names.size());
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
    auto readError = [&](int rc) {
        error = "cannot read store " + m_path + ": " + m_conn.error();
        return (rc & 0xFF) == SQLITE_CORRUPT ? damaged(m_conn.error()) : DBM_ERR_STORE;
    };
    sql::Statement st;
    std::string keys = std::string("SELECT db, key, ") + kKeyColumns + " FROM dbm_keys ORDER BY db, key";
    if (st.prepare(m_conn, keys.c_str()) != SQLITE_OK) return readError(SQLITE_ERROR);
    int rc;
    std::string why;
    while ((rc = st.step()) == SQLITE_ROW) {
        int idx = indexOf(st.integer(0));
        if (idx < 0) continue;  // a database of the file that this open did not ask for
        std::string_view key = st.text(1);
        KeyEntry e;
        if (!entryFromRow(st, 2, key, e, why)) return damaged(why);
        images[static_cast<size_t>(idx)].put(key, std::move(e));
    }
    if (rc != SQLITE_DONE) return readError(rc);
    if (m_elementRows) {
        if (st.prepare(m_conn, "SELECT db, key, field, elem FROM dbm_elements ORDER BY db, key, field") != SQLITE_OK)
            return readError(SQLITE_ERROR);
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
            cur->elems.put(field, elem, fieldInElement(cur->desc));
        }
        if (rc != SQLITE_DONE) return readError(rc);
        m_logged = 0;
        m_logBytes = 0;
        return DBM_OK;
    }
    // The changes committed since the last fold, in order. Writable opens
    // name every database of their file, so every change has its image.
    if (st.prepare(m_conn, "SELECT changes FROM dbm_log ORDER BY seq") != SQLITE_OK) return readError(SQLITE_ERROR);
    size_t logged = 0;
    m_logBytes = 0;
    while ((rc = st.step()) == SQLITE_ROW) {
        Op change;
        m_logBytes += st.blob(0).size();
        for (std::string_view changes = st.blob(0); !changes.empty(); ++logged) {
            if (!takeChange(changes, change)) return damaged("a malformed entry of the change log");
            if (!applyChange(images, m_ids, change)) return damaged("a change of the change log that no call makes");
        }
    }
    if (rc != SQLITE_DONE) return readError(rc);
    m_logged = logged;
    return DBM_OK;
}

uint32_t StoreFile::upgrade(const std::vector<Image>& images, std::string& error)
{
    // One transaction: a crash leaves format 1 as it was.
    bool ok = m_conn.exec("BEGIN IMMEDIATE") == SQLITE_OK;
    sql::Statement put;
    ok = ok && put.prepare(m_conn, "UPDATE dbm_keys SET value = ?3 WHERE db = ?1 AND key = ?2") == SQLITE_OK;
    for (size_t i = 0; ok && i < images.size(); ++i) {
        for (const auto& [key, e] : images[i].keys()) {
            if (e.kind != Kind::List) continue;
            std::string value = rowValue(e);
            put.bind(1, static_cast<int64_t>(m_ids[i]));
            put.bind(2, std::string_view(key));
            put.bindBlob(3, value);
            ok = put.run() == SQLITE_OK;
        }
    }
    put.finalize();
    ok = ok && m_conn.exec("DROP TABLE dbm_elements") == SQLITE_OK && m_conn.exec(kLogTable) == SQLITE_OK &&
         m_conn.exec("UPDATE dbm_meta SET value = '2' WHERE name = 'format'") == SQLITE_OK;
    if (!ok || m_conn.exec("COMMIT") != SQLITE_OK) {
        error = "cannot change store " + m_path + " to format 2: " + m_conn.error();
        m_conn.exec("ROLLBACK");
        return DBM_ERR_STORE;
    }
    m_elementRows = false;
    return DBM_OK;
}

}  // namespace plat::dbm
