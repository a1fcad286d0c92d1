#include "platform/dbm/dbm_registry.h"

#include "platform/dbm.h"
#include "platform/dbm/dbm_log.h"

#include <algorithm>

namespace plat::dbm {
namespace {

std::vector<std::unique_ptr<Database>> g_databases;
uint32_t g_lastHandle = 0;

uint32_t nextHandle()
{
    do {
        ++g_lastHandle;
    } while (g_lastHandle == 0 || g_lastHandle == DBM_INVALID_HANDLE || findDatabase(g_lastHandle) != nullptr);
    return g_lastHandle;
}

}  // namespace

uint32_t addDatabase(const std::shared_ptr<Store>& store, size_t index, const std::string& group)
{
    auto db = std::make_unique<Database>();
    db->handle = nextHandle();
    db->store = store;
    db->index = index;
    db->dbId = store->file->dbId(index);
    db->name = store->file->names()[index];
    db->group = group;
    ++store->openHandles;
    g_databases.push_back(std::move(db));
    return g_databases.back()->handle;
}

Database* findDatabase(uint32_t handle)
{
    for (auto& d : g_databases)
        if (d->handle == handle) return d.get();
    return nullptr;
}

void removeDatabase(uint32_t handle)
{
    auto it = std::find_if(g_databases.begin(), g_databases.end(), [&](auto& d) { return d->handle == handle; });
    if (it == g_databases.end()) return;
    --(*it)->store->openHandles;
    g_databases.erase(it);
}

bool isOpen(const std::string& name, const std::string& group)
{
    return std::any_of(g_databases.begin(), g_databases.end(),
                       [&](auto& d) { return d->name == name && d->group == group; });
}

void reportErrors(Store& store)
{
    if (store.writer == nullptr || !store.writer->hasErrors()) return;
    for (const auto& e : store.writer->takeErrors()) logError(e);
}

static uint32_t afterSubmit(Store& store, uint32_t rc)
{
    if (rc != DBM_OK && dynamic_cast<DurableWriter*>(store.writer.get()) != nullptr) {
        std::string error;
        if (store.file->load(store.images, error) != DBM_OK)
            logError("cannot read back " + store.file->path() + " after a failed write: " + error);
    }
    reportErrors(store);
    return rc;
}

uint32_t write(Store& store, std::span<const Op> ops)
{
    if (store.batchDepth > 0) {
        store.batchOps.append(ops);
        return DBM_OK;
    }
    return afterSubmit(store, store.writer->submit(ops));
}

uint32_t endBatch(Store& store)
{
    if (store.batchDepth == 0 || --store.batchDepth > 0) return DBM_OK;
    if (store.batchOps.empty()) return DBM_OK;
    std::vector<Op> ops = store.batchOps.views();
    uint32_t rc = store.writer->submit(ops);
    store.batchOps = OpList{};  // a batch can be large: its buffer is not kept
    return afterSubmit(store, rc);
}

}  // namespace plat::dbm
