// Open stores and the handles onto their databases. A store is one file
// (a configuration pair, or a single database) with the images of its
// databases and its writer; a handle names one database of a store.
#pragma once

#include "platform/dbm/dbm_image.h"
#include "platform/dbm/dbm_store.h"
#include "platform/dbm/dbm_writer.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace plat::dbm {

struct Store {
    std::unique_ptr<StoreFile> file;
    std::vector<Image> images;      // one per database of the file, in names() order
    std::unique_ptr<Writer> writer;  // null when read-only
    uint32_t openHandles = 0;
    uint32_t batchDepth = 0;         // inside DBM_Batch_Proc: changes gather in batchOps
    OpList batchOps;
};

struct Database {
    uint32_t handle = 0;
    std::shared_ptr<Store> store;
    size_t index = 0;  // into store->images
    uint32_t dbId = 0; // inside the file
    std::string name;
    std::string group;

    Image& image() { return store->images[index]; }
    bool writable() const { return store->writer != nullptr; }
};

// Handle of a new database of the store.
uint32_t addDatabase(const std::shared_ptr<Store>& store, size_t index, const std::string& group);
Database* findDatabase(uint32_t handle);
// Forgets the handle; the store closes with its last handle.
void removeDatabase(uint32_t handle);
// Is a database of that name and group open?
bool isOpen(const std::string& name, const std::string& group);

// Hands one call's changes to the store: gathered while a batch runs,
// otherwise submitted to the writer. When a durable commit fails the
// images are read again from the file, so that they never show what the
// file does not hold.
uint32_t write(Store& store, std::span<const Op> ops);
// Ends a batch: submits everything it gathered as one call.
uint32_t endBatch(Store& store);
// Logs what the store's committer reported.
void reportErrors(Store& store);

}  // namespace plat::dbm
