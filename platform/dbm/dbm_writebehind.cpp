#include "platform/dbm/dbm_writebehind.h"

#include <malloc.h>

namespace plat::dbm {

namespace {

// Blocks of a megabyte or more (the rows a fold reads and writes for a long
// list, SQLite's buffers for them) get mappings of their own and go back to
// the system when freed. Left to itself the allocator raises that threshold
// to the largest block freed so far; the next fold's blocks then come from
// the committer's heap, whose top no trim gives back: a fold's worth of
// free memory stayed resident in one run in four or five (30 bytes an entry
// at 256,000). Set once, for the process.
void giveBackLargeBlocks()
{
    static const bool set = mallopt(M_MMAP_THRESHOLD, 1 << 20) == 1;
    (void)set;
}

}  // namespace

WriteBehind::WriteBehind(StoreFile& file, const Tuning& tuning)
    : m_file(file),
      m_interval(tuning.flushIntervalMs),
      m_flushCalls(tuning.flushCalls == 0 ? 1 : tuning.flushCalls),
      m_pacedPoll(tuning.pacedPollUs == 0 ? 1 : tuning.pacedPollUs),
      m_maxPending(tuning.maxPendingCalls == 0 ? 1 : tuning.maxPendingCalls),
      m_foldAt(tuning.foldChanges == 0 ? 1 : tuning.foldChanges)
{
    giveBackLargeBlocks();
    m_thread = std::thread([this] { run(); });
}

WriteBehind::~WriteBehind() { close(); }

uint32_t WriteBehind::submit(std::span<const Op> ops)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_queuedCalls + m_inflightCalls >= m_maxPending) {
        m_flushWanted = true;
        m_wake.notify_one();
        m_done.wait(lock, [this] { return m_queuedCalls + m_inflightCalls < m_maxPending; });
    }
    bool wasEmpty = m_queuedCalls == 0;
    if (wasEmpty) m_oldest = Clock::now();
    m_queue.append(ops);
    ++m_queuedCalls;
    ++m_submitted;
    if ((m_idle && wasEmpty) || (!m_paced && m_queuedCalls == m_flushCalls)) m_wake.notify_one();
    return DBM_OK;
}

uint32_t WriteBehind::flush()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    uint64_t target = m_submitted;
    if (m_committed < target) {
        m_flushWanted = true;
        m_wake.notify_one();
        m_done.wait(lock, [&] { return m_committed >= target; });
    }
    bool failed = m_failedSinceFlush;
    m_failedSinceFlush = false;
    return failed ? DBM_ERR_STORE : DBM_OK;
}

uint32_t WriteBehind::close()
{
    if (!m_thread.joinable()) return DBM_OK;
    uint32_t rc = flush();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
    // What the log holds goes into the key rows, so that the next open
    // reads rows only.
    std::string error;
    if (m_file.commit(OpList{}, 0, error) != DBM_OK) {
        m_errors.push_back(error);
        m_hasErrors.store(true, std::memory_order_relaxed);
        rc = DBM_ERR_STORE;
    }
    return rc;
}

std::vector<std::string> WriteBehind::takeErrors()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> out;
    out.swap(m_errors);
    m_hasErrors.store(false, std::memory_order_relaxed);
    return out;
}

bool WriteBehind::commitDue(Clock::time_point now) const
{
    return m_stopping || m_flushWanted || m_queuedCalls >= m_flushCalls ||
           m_queuedCalls + m_inflightCalls >= m_maxPending || now >= m_oldest + m_interval;
}

void WriteBehind::run()
{
    OpList batch;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        Clock::time_point now = Clock::now();
        m_paced = now < m_lastFullCommit + m_interval;
        if (m_queuedCalls == 0) {
            m_flushWanted = false;
            if (m_stopping) return;
            if (m_paced) {
                m_wake.wait_until(lock, now + m_pacedPoll);
            } else {
                m_idle = true;
                m_wake.wait(lock);
                m_idle = false;
            }
            continue;
        }
        if (!commitDue(now)) {
            m_wake.wait_until(lock, m_paced ? std::min(m_oldest + m_interval, now + m_pacedPoll) : m_oldest + m_interval);
            continue;
        }
        m_flushWanted = false;
        batch.swap(m_queue);
        uint32_t calls = m_queuedCalls;
        uint64_t upTo = m_submitted;
        m_queuedCalls = 0;
        m_inflightCalls = calls;
        lock.unlock();

        std::string error;
        uint32_t rc = m_file.commit(batch, m_foldAt, error);
        if (rc != DBM_OK) {
            // One more try after a pause (a passing I/O error); then the
            // calls are given up so that the daemon's thread never waits
            // on a store that cannot be written.
            lock.lock();
            m_wake.wait_for(lock, m_interval, [this] { return m_stopping; });
            lock.unlock();
            rc = m_file.commit(batch, m_foldAt, error);
        }
        batch.clear();

        lock.lock();
        if (rc != DBM_OK) {
            m_errors.push_back(error + "; " + std::to_string(calls) + " queued calls were not stored");
            m_hasErrors.store(true, std::memory_order_relaxed);
            m_failedSinceFlush = true;
        }
        m_inflightCalls = 0;
        m_committed = upTo;
        if (calls >= m_flushCalls) m_lastFullCommit = Clock::now();
        m_done.notify_all();
    }
}

}  // namespace plat::dbm
