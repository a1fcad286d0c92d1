#include "platform/transport/record_ring.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace plat::transport {

namespace {

static_assert(RecordRing::kAskAt + sizeof(uint64_t) <= RecordRing::kDataOffset);

bool powerOfTwo(size_t n) { return n != 0 && (n & (n - 1)) == 0; }

uint8_t* mapShared(int fd, size_t bytes)
{
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
}

std::atomic_ref<uint64_t> at(uint64_t* p) { return std::atomic_ref<uint64_t>(*p); }

}  // namespace

RecordRing::RecordRing(size_t capacity) : capacity_(capacity)
{
    if (!powerOfTwo(capacity) || capacity < kMinCapacity) throw std::invalid_argument("record ring capacity");
    fd_.reset(::memfd_create("pbb-sim-records", MFD_CLOEXEC));
    if (!fd_.valid() || ::ftruncate(fd_.get(), static_cast<off_t>(kDataOffset + capacity)) != 0)
        throw std::system_error(errno, std::generic_category(), "record ring");
    base_ = mapShared(fd_.get(), kDataOffset + capacity);
    if (base_ == nullptr) throw std::system_error(errno, std::generic_category(), "record ring");
    *counter(kCapacityAt) = capacity;
    // Nobody looks yet: the first writer rings.
    *counter(kAskAt) = 1;
}

RecordRing::RecordRing(UniqueFd fd, uint8_t* base, size_t capacity)
    : fd_(std::move(fd)), base_(base), capacity_(capacity)
{
}

std::unique_ptr<RecordRing> RecordRing::attach(UniqueFd fd)
{
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || static_cast<size_t>(st.st_size) < kDataOffset + kMinCapacity)
        return nullptr;
    const size_t capacity = static_cast<size_t>(st.st_size) - kDataOffset;
    uint8_t* base = mapShared(fd.get(), static_cast<size_t>(st.st_size));
    if (base == nullptr) return nullptr;
    uint64_t said = 0;
    std::memcpy(&said, base + kCapacityAt, sizeof said);
    if (!powerOfTwo(capacity) || said != capacity) {
        ::munmap(base, static_cast<size_t>(st.st_size));
        return nullptr;
    }
    return std::unique_ptr<RecordRing>(new RecordRing(std::move(fd), base, capacity));
}

RecordRing::~RecordRing()
{
    if (base_ != nullptr) ::munmap(base_, kDataOffset + capacity_);
}

bool RecordRing::put(std::span<const uint8_t> bytes)
{
    const uint64_t taken = at(counter(kTakenAt)).load(std::memory_order_acquire);
    if (taken > written_ || written_ - taken > capacity_ || bytes.size() > capacity_ - (written_ - taken))
        return false;
    const size_t pos = static_cast<size_t>(written_ & (capacity_ - 1));
    const size_t first = std::min(bytes.size(), capacity_ - pos);
    uint8_t* data = base_ + kDataOffset;
    std::memcpy(data + pos, bytes.data(), first);
    std::memcpy(data, bytes.data() + first, bytes.size() - first);
    written_ += bytes.size();
    at(counter(kWrittenAt)).store(written_, std::memory_order_release);
    return true;
}

bool RecordRing::takeRingRequest()
{
    // Against askToRing: either pbb-sim's next take finds what was just
    // written, or this finds its ask.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    auto ask = at(counter(kAskAt));
    return ask.load(std::memory_order_relaxed) != 0 && ask.exchange(0, std::memory_order_acq_rel) != 0;
}

bool RecordRing::take(std::vector<uint8_t>& out)
{
    std::atomic_thread_fence(std::memory_order_seq_cst);
    const uint64_t written = at(counter(kWrittenAt)).load(std::memory_order_acquire);
    if (written < taken_ || written - taken_ > capacity_) return false;
    const size_t n = static_cast<size_t>(written - taken_);
    const size_t pos = static_cast<size_t>(taken_ & (capacity_ - 1));
    const size_t first = std::min(n, capacity_ - pos);
    const uint8_t* data = base_ + kDataOffset;
    out.insert(out.end(), data + pos, data + pos + first);
    out.insert(out.end(), data, data + (n - first));
    taken_ = written;
    at(counter(kTakenAt)).store(taken_, std::memory_order_release);
    return true;
}

void RecordRing::askToRing() { at(counter(kAskAt)).store(1, std::memory_order_seq_cst); }

void RecordRing::withdrawAsk() { at(counter(kAskAt)).store(0, std::memory_order_relaxed); }

}  // namespace plat::transport
