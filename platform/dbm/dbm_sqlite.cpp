#include "platform/dbm/dbm_sqlite.h"

namespace plat::dbm::sql {

Connection::~Connection() { close(); }

int Connection::open(const std::string& uri, int flags)
{
    close();
    int rc = sqlite3_open_v2(uri.c_str(), &m_db, flags | SQLITE_OPEN_URI, nullptr);
    if (rc == SQLITE_OK) sqlite3_extended_result_codes(m_db, 1);
    return rc;
}

void Connection::close()
{
    if (m_db != nullptr) sqlite3_close_v2(m_db);
    m_db = nullptr;
}

int Connection::exec(const char* sqlText)
{
    return sqlite3_exec(m_db, sqlText, nullptr, nullptr, nullptr);
}

std::string Connection::error() const
{
    return m_db != nullptr ? std::string(sqlite3_errmsg(m_db)) : std::string("no connection");
}

Statement::~Statement() { finalize(); }

int Statement::prepare(Connection& c, const char* sqlText)
{
    finalize();
    return sqlite3_prepare_v3(c.get(), sqlText, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr);
}

void Statement::finalize()
{
    if (m_stmt != nullptr) sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
}

int Statement::run()
{
    int rc = sqlite3_step(m_stmt);
    reset();
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

std::string_view Statement::text(int col) const
{
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, col));
    return p == nullptr ? std::string_view() : std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(m_stmt, col)));
}

std::string_view Statement::blob(int col) const
{
    const auto* p = static_cast<const char*>(sqlite3_column_blob(m_stmt, col));
    return p == nullptr ? std::string_view() : std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(m_stmt, col)));
}

}  // namespace plat::dbm::sql
