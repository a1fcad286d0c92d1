// Thin RAII wrapper over the SQLite C interface: a connection and prepared
// statements, with the error text of the last failure at hand.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace plat::dbm::sql {

class Statement;

class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // flags: SQLITE_OPEN_* (SQLITE_OPEN_URI is always added).
    int open(const std::string& uri, int flags);
    void close();
    sqlite3* get() const { return m_db; }
    // Runs statements without results; SQLITE_OK or the failing code.
    int exec(const char* sqlText);
    std::string error() const;

private:
    sqlite3* m_db = nullptr;
};

class Statement {
public:
    Statement() = default;
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    int prepare(Connection& c, const char* sqlText);
    void finalize();
    bool ready() const { return m_stmt != nullptr; }

    void bind(int i, int64_t v) { sqlite3_bind_int64(m_stmt, i, v); }
    void bind(int i, std::string_view text) { sqlite3_bind_text(m_stmt, i, text.data(), static_cast<int>(text.size()), SQLITE_STATIC); }
    void bindBlob(int i, std::string_view bytes)
    {
        sqlite3_bind_blob(m_stmt, i, bytes.empty() ? "" : bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
    }
    void bindNull(int i) { sqlite3_bind_null(m_stmt, i); }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return sqlite3_step(m_stmt); }
    // Runs a statement without results to its end and resets it.
    int run();
    void reset()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

    int64_t integer(int col) const { return sqlite3_column_int64(m_stmt, col); }
    std::string_view text(int col) const;
    std::string_view blob(int col) const;
    int type(int col) const { return sqlite3_column_type(m_stmt, col); }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace plat::dbm::sql
