// Capture files given to pbb-sim (frame pcap): a file is read or refused
// with std::runtime_error, and the frames read fit in the file.
#include "fuzz/fuzz_check.h"
#include "tools/simcmd/frames.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace {

// The reader takes a path: the input goes into an anonymous memory file
// named through /proc, so nothing lands on disk.
struct MemFile {
    MemFile() : fd(::memfd_create("fuzz-pcap", MFD_CLOEXEC)) { FUZZ_CHECK(fd >= 0); }
    ~MemFile() { ::close(fd); }
    void fill(const uint8_t* data, size_t size)
    {
        FUZZ_CHECK(::ftruncate(fd, 0) == 0);
        FUZZ_CHECK(::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd); }
    int fd;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static MemFile file;
    file.fill(data, size);
    try {
        size_t bytes = 0;
        for (const simcmd::Frame& f : simcmd::readPcap(file.path())) bytes += f.size();
        FUZZ_CHECK(bytes <= size);
    } catch (const std::runtime_error&) {
    }
    return 0;
}
