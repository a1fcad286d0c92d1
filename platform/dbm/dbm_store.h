// One store file: an SQLite database in WAL mode holding one or more named
// databases (a configuration pair shares a file, so that moves between its
// two databases are single transactions). Opening checks the file
// (quick_check, schema, every row) before anything is written to it, so a
// damaged store is reported and left as it is, never emptied.
//
// A key is one row; a sort list's row holds its elements in sort order. A
// commit either appends the calls' changes to the file's change log, one
// row per commit, or folds them, with everything logged before, into the
// key rows (and empties the log); loading reads the key rows and replays
// the log. Appending costs a commit the size of its changes, wherever
// their keys lie, and a fold rewrites each key it touches once.
#pragma once

#include "platform/dbm/dbm_image.h"
#include "platform/dbm/dbm_ops.h"
#include "platform/dbm/dbm_sqlite.h"

#include <memory>
#include <string>
#include <vector>

namespace plat::dbm {

struct StoreSpec {
    std::string path;
    // Databases wanted, in order; a new file is created holding exactly
    // these. Empty (read-only use only): every database of the file.
    std::vector<std::string> names;
    bool writable = true;
    bool create = true;
    int synchronous = 2;  // SQLite synchronous level: 1 NORMAL, 2 FULL
    // Write-ahead log pages between checkpoints.
    uint32_t checkpointPages = 1000;
};

class StoreFile {
public:
    ~StoreFile();
    StoreFile(const StoreFile&) = delete;
    StoreFile& operator=(const StoreFile&) = delete;

    // Opens, checks and loads: images[i] is database names()[i]. On failure
    // returns a DBM_ERR_ code and a message naming the file.
    static uint32_t open(const StoreSpec& spec, std::unique_ptr<StoreFile>& out, std::vector<Image>& images,
                         std::string& error);

    // Reads every database of the file again into images.
    uint32_t load(std::vector<Image>& images, std::string& error);
    // Commits the changes in one transaction, all or nothing: appended to
    // the change log, or, once the log would hold `foldAt` changes or more,
    // folded into the key rows with the log's changes (0: always folded).
    uint32_t commit(const OpList& ops, size_t foldAt, std::string& error);
    // Changes in the change log.
    size_t logged() const { return m_logged; }

    const std::string& path() const { return m_path; }
    const std::vector<std::string>& names() const { return m_names; }
    // Number of database names()[i] inside the file (Op::db).
    uint32_t dbId(size_t i) const { return m_ids[i]; }

private:
    StoreFile() = default;
    uint32_t openFile(const StoreSpec& spec, bool exists, std::string& error);
    uint32_t check(std::string& error);
    uint32_t createSchema(const std::vector<std::string>& names, std::string& error);
    uint32_t readDatabases(const StoreSpec& spec, std::string& error);
    uint32_t upgrade(const std::vector<Image>& images, std::string& error);
    uint32_t prepareWrites(std::string& error);
    int appendLog(const OpList& ops);
    // Reads the change log's entries, in order, into the `size` bytes at
    // out; SQLITE_CORRUPT unless they fill them exactly (m_logBytes).
    int readLog(char* out, size_t size);
    int fold(const OpList& ops, std::string& why);

    std::string m_path;
    std::vector<std::string> m_names;
    std::vector<uint32_t> m_ids;
    bool m_elementRows = false;  // format 1
    size_t m_logged = 0;    // changes in the change log
    size_t m_logBytes = 0;  // and their bytes
    // The change-log row being written: its room is kept from commit to
    // commit (at most the calls the queue holds).
    std::string m_logRow;
    int m_lockFd = -1;
    sql::Connection m_conn;
    sql::Statement m_getKey, m_putKey, m_delKey, m_addLog, m_readLog, m_clearLog;
    sql::Statement m_begin, m_commit, m_rollback;
};

}  // namespace plat::dbm
