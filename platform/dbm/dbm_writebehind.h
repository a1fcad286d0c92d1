// Write-behind for stores of data that can be learned again: the calling
// thread queues each call's changes and goes on; a committer thread stores
// the queue in one transaction when `flushCalls` calls wait, when the
// oldest has waited `flushIntervalMs`, on flush() and on stop. Calls are
// committed in order and a call's changes are never split, so the file
// always holds the effect of a prefix of the calls. The calling thread
// waits when `maxPendingCalls` calls are queued or being committed, which
// bounds what a crash can lose.
//
// Waking the committer costs the calling thread a system call, and in a
// virtual machine an interrupt to the other CPU. So while calls come in
// batches (for one interval after a commit of `flushCalls` or more) the
// committer is paced: it looks at the queue every `pacedPollUs` by itself,
// and callers wake it only when they would pass the cap. Otherwise it
// sleeps until the first call (when the queue is empty), or until the
// oldest call's interval ends or `flushCalls` calls wait.
#pragma once

#include "platform/dbm.h"
#include "platform/dbm/dbm_writer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace plat::dbm {

class WriteBehind final : public Writer {
public:
    WriteBehind(StoreFile& file, const Tuning& tuning);
    ~WriteBehind() override;
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    uint32_t submit(std::span<const Op> ops) override;
    uint32_t flush() override;
    std::vector<std::string> takeErrors() override;
    bool hasErrors() const override { return m_hasErrors.load(std::memory_order_relaxed); }
    // Commits what is queued and ends the committer.
    uint32_t close() override;

private:
    using Clock = std::chrono::steady_clock;
    void run();
    bool commitDue(Clock::time_point now) const;

    StoreFile& m_file;
    const std::chrono::milliseconds m_interval;
    const uint32_t m_flushCalls;
    const std::chrono::microseconds m_pacedPoll;
    const uint32_t m_maxPending;
    const size_t m_foldAt;

    std::mutex m_mutex;
    std::condition_variable m_wake;  // the committer waits here
    std::condition_variable m_done;  // callers wait here for commits
    OpList m_queue;
    uint32_t m_queuedCalls = 0;
    uint32_t m_inflightCalls = 0;
    Clock::time_point m_oldest{};
    uint64_t m_submitted = 0;  // calls queued since the start
    uint64_t m_committed = 0;  // calls whose commit is over (stored or given up)
    bool m_flushWanted = false;
    bool m_idle = false;    // the committer sleeps until a call comes
    bool m_paced = false;   // the committer looks by itself
    Clock::time_point m_lastFullCommit{};
    bool m_stopping = false;
    bool m_failedSinceFlush = false;
    std::vector<std::string> m_errors;
    std::atomic<bool> m_hasErrors{false};
    std::thread m_thread;
};

}  // namespace plat::dbm
