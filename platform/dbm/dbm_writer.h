// How a store's changes reach its file. A durable writer commits each
// call's changes before the call returns; a write-behind writer queues
// them for its committer thread (dbm_writebehind.h).
#pragma once

#include "platform/dbm.h"
#include "platform/dbm/dbm_ops.h"
#include "platform/dbm/dbm_store.h"

#include <span>
#include <string>
#include <vector>

namespace plat::dbm {

class Writer {
public:
    virtual ~Writer() = default;
    // The changes of one call, copied; committed together.
    virtual uint32_t submit(std::span<const Op> ops) = 0;
    // Returns once everything submitted so far is committed; DBM_ERR_STORE
    // when a commit failed since the last flush.
    virtual uint32_t flush() = 0;
    // Failure reports of the committer, for the caller's thread to log.
    virtual std::vector<std::string> takeErrors() = 0;
    virtual bool hasErrors() const = 0;
    // Stores what is pending and ends the writer's work.
    virtual uint32_t close() = 0;
};

class DurableWriter final : public Writer {
public:
    explicit DurableWriter(StoreFile& file) : m_file(file) {}
    uint32_t submit(std::span<const Op> ops) override;
    uint32_t flush() override { return DBM_OK; }
    std::vector<std::string> takeErrors() override;
    bool hasErrors() const override { return !m_errors.empty(); }
    uint32_t close() override { return DBM_OK; }

private:
    StoreFile& m_file;
    OpList m_group;
    std::vector<std::string> m_errors;
};

}  // namespace plat::dbm
