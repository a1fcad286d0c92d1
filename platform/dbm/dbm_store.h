// One store file: an SQLite database in WAL mode holding one or more named
// databases (a configuration pair shares a file, so that moves between its
// two databases are single transactions). Opening checks the file
// (quick_check, schema, every row) before anything is written to it, so a
// damaged store is reported and left as it is, never emptied.
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
    // Write-ahead log pages between checkpoints: larger batches of scattered
    // writes (learned entries) gain from copying each page back once.
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
    // Applies the changes in one transaction; all or nothing.
    uint32_t apply(const OpList& ops, std::string& error);

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
    uint32_t prepareWrites(std::string& error);
    uint32_t runOp(const Op& op);

    std::string m_path;
    std::vector<std::string> m_names;
    std::vector<uint32_t> m_ids;
    int m_lockFd = -1;
    sql::Connection m_conn;
    sql::Statement m_putKey, m_delKey, m_delElems, m_putElem, m_delElem, m_moveKey, m_moveElems;
    sql::Statement m_begin, m_commit, m_rollback;
};

}  // namespace plat::dbm
