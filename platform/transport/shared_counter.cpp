#include "platform/transport/shared_counter.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace plat::transport {

namespace {
constexpr size_t kSize = 4096;
}

SharedCounter::SharedCounter()
{
    fd_.reset(::memfd_create("pbb-sim-counter", MFD_CLOEXEC));
    if (!fd_.valid() || ::ftruncate(fd_.get(), kSize) != 0)
        throw std::system_error(errno, std::generic_category(), "shared counter");
    void* p = ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_.get(), 0);
    if (p == MAP_FAILED) throw std::system_error(errno, std::generic_category(), "shared counter");
    value_ = static_cast<uint64_t*>(p);
}

SharedCounter::~SharedCounter()
{
    if (value_ != nullptr) ::munmap(value_, kSize);
}

bool CounterView::attach(UniqueFd fd)
{
    detach();
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || static_cast<size_t>(st.st_size) < kSize) return false;
    void* p = ::mmap(nullptr, kSize, PROT_READ, MAP_SHARED, fd.get(), 0);
    if (p == MAP_FAILED) return false;
    value_ = static_cast<const uint64_t*>(p);
    return true;
}

void CounterView::detach()
{
    if (value_ != nullptr) ::munmap(const_cast<uint64_t*>(value_), kSize);
    value_ = nullptr;
}

}  // namespace plat::transport
