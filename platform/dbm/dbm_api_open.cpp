// Opening and closing databases, and the service's settings.
#include "platform/dbm/dbm_call.h"
#include "platform/dbm/dbm_iter.h"
#include "platform/dbm/dbm_log.h"
#include "platform/dbm/dbm_writebehind.h"
#include "platform/settings.h"

namespace plat::dbm {
namespace {

// Opens the store file of the named databases and hands out one handle per
// database, in order.
uint32_t openStore(const std::vector<std::string>& names, const std::string& group, const std::string& fileName,
                   bool writable, bool create, uint32_t cls, uint32_t* handles, const std::string& what)
{
    for (const auto& n : names) {
        if (isOpen(n, group)) {
            logError("cannot open " + what + ": database \"" + n + "\" is open already");
            return DBM_ERR_BUSY;
        }
    }
    StoreSpec spec;
    spec.path = storeRoot() + "/" + group + "/" + fileName;
    spec.names = names;
    spec.writable = writable;
    spec.create = create;
    spec.synchronous = cls == DBM_CLASS_DURABLE ? tuning().durableSynchronous : tuning().writeBehindSynchronous;
    spec.checkpointPages = cls == DBM_CLASS_DURABLE ? 1000 : 8192;
    auto store = std::make_shared<Store>();
    std::string error;
    uint32_t rc = StoreFile::open(spec, store->file, store->images, error);
    if (rc != DBM_OK) {
        logError("cannot open " + what + ": " + error);
        return rc;
    }
    if (writable) {
        if (cls == DBM_CLASS_DURABLE) store->writer = std::make_unique<DurableWriter>(*store->file);
        else store->writer = std::make_unique<WriteBehind>(*store->file, tuning());
    }
    for (size_t i = 0; i < names.size(); ++i) handles[i] = addDatabase(store, i, group);
    return DBM_OK;
}

}  // namespace

Tuning& tuning()
{
    static Tuning t;
    return t;
}

std::string storeRoot() { return plat::stateDir() + "/dbm"; }

uint32_t flush(uint32_t hDb)
{
    Database* db = databaseOf(hDb);
    if (db == nullptr) return DBM_ERR_HANDLE;
    if (db->store->writer == nullptr) return DBM_OK;
    uint32_t rc = db->store->writer->flush();
    reportErrors(*db->store);
    return rc;
}

}  // namespace plat::dbm

using namespace plat::dbm;

uint32_t DBM_OpenCfgDB(const char* szFirstName, const char* szSecondName, const char* szGroup, uint32_t uiFlags,
                       const DBM_PARAM_S* pstParam, uint32_t* phFirst, uint32_t* phSecond) noexcept
{
    if (auto f = plat::testing::fault("DBM_OpenCfgDB")) return static_cast<uint32_t>(*f);
    uint32_t cls = classOf(pstParam);
    if (plat::testing::recording()) {
        plat::testing::record("DBM_OpenCfgDB", std::string("first=") + (szFirstName ? szFirstName : "null") +
                                                   " second=" + (szSecondName ? szSecondName : "null") +
                                                   " group=" + (szGroup ? szGroup : "null") +
                                                   " flags=" + std::to_string(uiFlags) + " class=" + std::to_string(cls));
    }
    if (!validName(szFirstName) || !validName(szSecondName) || !validName(szGroup) ||
        std::string_view(szFirstName) == szSecondName || (uiFlags & ~DBM_CFG_READ_ONLY) != 0 || cls == 0 ||
        phFirst == nullptr || phSecond == nullptr)
        return DBM_ERR_PARAM;
    bool writable = (uiFlags & DBM_CFG_READ_ONLY) == 0;
    uint32_t handles[2];
    std::string what = std::string("configuration databases \"") + szFirstName + "\" and \"" + szSecondName +
                       "\" of group \"" + szGroup + "\"";
    uint32_t rc = openStore({szFirstName, szSecondName}, szGroup, std::string(szFirstName) + "+" + szSecondName + ".db",
                            writable, writable, cls, handles, what);
    if (rc != DBM_OK) return rc;
    *phFirst = handles[0];
    *phSecond = handles[1];
    return DBM_OK;
}

uint32_t DBM_Open(const char* szName, const char* szGroup, uint32_t uiMode, const DBM_PARAM_S* pstParam,
                  uint32_t* phDb) noexcept
{
    if (auto f = plat::testing::fault("DBM_Open")) return static_cast<uint32_t>(*f);
    uint32_t cls = classOf(pstParam);
    if (plat::testing::recording()) {
        plat::testing::record("DBM_Open", std::string("name=") + (szName ? szName : "null") +
                                              " group=" + (szGroup ? szGroup : "null") +
                                              " mode=" + std::to_string(uiMode) + " class=" + std::to_string(cls));
    }
    constexpr uint32_t kAll = DBM_OPEN_READ | DBM_OPEN_WRITE | DBM_OPEN_CREATE;
    bool writable = (uiMode & DBM_OPEN_WRITE) != 0;
    bool create = (uiMode & DBM_OPEN_CREATE) != 0;
    if (!validName(szName) || !validName(szGroup) || (uiMode & ~kAll) != 0 || (uiMode & DBM_OPEN_READ) == 0 ||
        (create && !writable) || cls == 0 || phDb == nullptr)
        return DBM_ERR_PARAM;
    uint32_t handle;
    std::string what = std::string("database \"") + szName + "\" of group \"" + szGroup + "\"";
    uint32_t rc = openStore({szName}, szGroup, std::string(szName) + ".db", writable, create, cls, &handle, what);
    if (rc != DBM_OK) return rc;
    *phDb = handle;
    return DBM_OK;
}

uint32_t DBM_Close(uint32_t hDb) noexcept
{
    if (auto f = plat::testing::fault("DBM_Close")) return static_cast<uint32_t>(*f);
    if (plat::testing::recording()) plat::testing::record("DBM_Close", "h=" + std::to_string(hDb));
    Database* db = databaseOf(hDb);
    if (db == nullptr) return DBM_ERR_HANDLE;
    std::shared_ptr<Store> store = db->store;
    if (store->batchDepth > 0) return DBM_ERR_BUSY;
    freeIteratorsOf(hDb);
    removeDatabase(hDb);
    if (store->openHandles > 0) return DBM_OK;
    uint32_t rc = DBM_OK;
    if (store->writer != nullptr) {
        rc = store->writer->close();
        reportErrors(*store);
    }
    return rc;
}
