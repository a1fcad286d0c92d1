#include "tools/simcmd/frames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "platform/model/pbb_frame.h"

namespace simcmd {

namespace {

constexpr uint32_t kPcapMagic = 0xA1B2C3D4;         // microsecond timestamps
constexpr uint32_t kPcapMagicSwapped = 0xD4C3B2A1;
constexpr uint32_t kLinkTypeEthernet = 1;
constexpr uint32_t kSnapLen = 65535;
constexpr size_t kFileHeaderLen = 24;
constexpr size_t kRecordHeaderLen = 16;

uint64_t macValue(const sim::Mac& m)
{
    uint64_t v = 0;
    for (uint8_t b : m) v = v << 8 | b;
    return v;
}

sim::Mac macFromValue(uint64_t v)
{
    sim::Mac m;
    for (int i = 5; i >= 0; --i, v >>= 8) m[static_cast<size_t>(i)] = static_cast<uint8_t>(v);
    return m;
}

void putLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void putLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

uint32_t get32(const uint8_t* p, bool swapped)
{
    uint32_t le = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                  static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    return swapped ? __builtin_bswap32(le) : le;
}

std::vector<uint8_t> fileHeader()
{
    std::vector<uint8_t> h(kFileHeaderLen, 0);
    putLe32(&h[0], kPcapMagic);
    putLe16(&h[4], 2);      // version 2.4
    putLe16(&h[6], 4);
    putLe32(&h[16], kSnapLen);
    putLe32(&h[20], kLinkTypeEthernet);
    return h;
}

std::vector<uint8_t> recordHeader(size_t len)
{
    std::vector<uint8_t> h(kRecordHeaderLen, 0);
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    putLe32(&h[0], static_cast<uint32_t>(ts.tv_sec));
    putLe32(&h[4], static_cast<uint32_t>(ts.tv_nsec / 1000));
    putLe32(&h[8], static_cast<uint32_t>(len));
    putLe32(&h[12], static_cast<uint32_t>(len));
    return h;
}

void writeAll(int fd, const uint8_t* p, size_t n, const std::string& path)
{
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(path + ": " + std::strerror(errno));
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
}

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

}  // namespace

Frame buildFrame(const FrameFields& f)
{
    sim::PbbFrame pf;
    pf.bda = f.bda;
    pf.bsa = f.bsa;
    pf.bvid = f.bvid;
    pf.bpcp = f.bpcp;
    pf.itagFlags = f.itagFlags;
    pf.isid = f.isid;
    pf.cda = f.cda;
    pf.csa = f.csa;
    pf.rest = f.payload;
    Frame out = sim::encodeFrame(pf);
    out[12] = static_cast<uint8_t>(f.tpid >> 8);
    out[13] = static_cast<uint8_t>(f.tpid);
    return out;
}

std::vector<Frame> buildBurst(const FrameFields& base, uint32_t count)
{
    uint64_t first = macValue(base.bsa);
    if (count > 0 && first + (count - 1) > 0xFFFFFFFFFFFFull)
        throw std::invalid_argument("B-SA range from " + formatMac(base.bsa) + " for " + std::to_string(count) +
                                    " frames passes ff:ff:ff:ff:ff:ff");
    std::vector<Frame> out;
    out.reserve(count);
    FrameFields f = base;
    for (uint32_t i = 0; i < count; ++i) {
        f.bsa = macFromValue(first + i);
        out.push_back(buildFrame(f));
    }
    return out;
}

bool isPbbFrame(std::span<const uint8_t> frame)
{
    if (frame.size() < sim::kPbbHeaderLen + sim::kITagDataMin) return false;
    uint16_t tpid = get16(&frame[12]);
    if (tpid != sim::kBTagTpid && tpid != sim::kCTagTpid) return false;
    return get16(&frame[16]) == PKT_ETHERTYPE_ITAG;
}

std::optional<sim::Mac> parseMac(std::string_view text)
{
    if (text.size() != 17) return std::nullopt;
    sim::Mac m;
    char sep = text[2];
    if (sep != ':' && sep != '-') return std::nullopt;
    for (size_t i = 0; i < 6; ++i) {
        if (i > 0 && text[i * 3 - 1] != sep) return std::nullopt;
        unsigned v = 0;
        for (size_t k = 0; k < 2; ++k) {
            char c = text[i * 3 + k];
            unsigned d;
            if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
            else return std::nullopt;
            v = v << 4 | d;
        }
        m[i] = static_cast<uint8_t>(v);
    }
    return m;
}

std::string formatMac(const sim::Mac& mac)
{
    static const char* hex = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < mac.size(); ++i) {
        if (i) s += ':';
        s += hex[mac[i] >> 4];
        s += hex[mac[i] & 0xF];
    }
    return s;
}

sim::Mac macAdd(const sim::Mac& mac, uint64_t n) { return macFromValue((macValue(mac) + n) & 0xFFFFFFFFFFFFull); }

namespace {

// Reads at most max bytes of a regular file; throws when it holds more.
std::vector<uint8_t> readRegular(int fd, const std::string& name, size_t max)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw std::runtime_error(name + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw std::runtime_error(name + ": not a regular file");
    auto tooLarge = [&] {
        return std::runtime_error(name + ": larger than " + std::to_string(max) + " bytes, the most a pcap file may hold");
    };
    if (static_cast<uint64_t>(st.st_size) > max) throw tooLarge();
    std::vector<uint8_t> b(static_cast<size_t>(st.st_size) + 1);
    size_t got = 0;
    for (;;) {
        if (got == b.size()) {
            if (b.size() > max) throw tooLarge();  // it grew while being read
            b.resize(std::min(max + 1, b.size() * 2));
        }
        ssize_t n = ::pread(fd, b.data() + got, b.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error(name + ": " + std::strerror(errno));
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    if (got > max) throw tooLarge();
    b.resize(got);
    return b;
}

}  // namespace

std::vector<Frame> readPcap(const std::string& path)
{
    // Not blocking: a FIFO opens at once, and is then refused.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error(path + ": cannot open: " + std::strerror(errno));
    try {
        auto frames = readPcap(fd, path);
        ::close(fd);
        return frames;
    } catch (...) {
        ::close(fd);
        throw;
    }
}

std::vector<Frame> readPcap(int fd, const std::string& path)
{
    std::vector<uint8_t> b = readRegular(fd, path, kPcapBytesMax);
    if (b.size() < kFileHeaderLen) throw std::runtime_error(path + ": not a pcap file (too short for its header)");
    uint32_t magic = get32(&b[0], false);
    bool swapped;
    if (magic == kPcapMagic) swapped = false;
    else if (magic == kPcapMagicSwapped) swapped = true;
    else throw std::runtime_error(path + ": not a pcap file (unknown magic number)");
    uint32_t linkType = get32(&b[20], swapped) & 0x0FFFFFFF;
    if (linkType != kLinkTypeEthernet)
        throw std::runtime_error(path + ": link type " + std::to_string(linkType) + " is not Ethernet (1)");
    std::vector<Frame> out;
    size_t off = kFileHeaderLen;
    while (off < b.size()) {
        if (b.size() - off < kRecordHeaderLen)
            throw std::runtime_error(path + ": record " + std::to_string(out.size() + 1) + " is cut short");
        uint32_t caplen = get32(&b[off + 8], swapped);
        uint32_t origlen = get32(&b[off + 12], swapped);
        off += kRecordHeaderLen;
        if (caplen > b.size() - off)
            throw std::runtime_error(path + ": record " + std::to_string(out.size() + 1) + " is cut short");
        if (out.size() == kPcapFramesMax)
            throw std::runtime_error(path + ": more than " + std::to_string(kPcapFramesMax) +
                                     " frames, the most a pcap file may hold");
        if (caplen != origlen)
            throw std::runtime_error(path + ": record " + std::to_string(out.size() + 1) + " holds " +
                                     std::to_string(caplen) + " of " + std::to_string(origlen) +
                                     " bytes (truncated capture)");
        out.emplace_back(b.begin() + static_cast<std::ptrdiff_t>(off),
                         b.begin() + static_cast<std::ptrdiff_t>(off + caplen));
        off += caplen;
    }
    return out;
}

namespace {

std::vector<uint8_t> pcapBytes(const std::vector<Frame>& frames)
{
    std::vector<uint8_t> buf = fileHeader();
    for (const Frame& f : frames) {
        std::vector<uint8_t> h = recordHeader(f.size());
        buf.insert(buf.end(), h.begin(), h.end());
        buf.insert(buf.end(), f.begin(), f.end());
    }
    return buf;
}

// A new file at tmp, never through a link: a stale one (a file or a link
// left there) is removed first, and nothing is created if something
// appears there again meanwhile.
int createNew(const std::string& tmp)
{
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(tmp.c_str(), kFlags, 0644);
    if (fd < 0 && errno == EEXIST && ::unlink(tmp.c_str()) == 0) fd = ::open(tmp.c_str(), kFlags, 0644);
    return fd;
}

}  // namespace

void writePcap(const std::string& path, const std::vector<Frame>& frames)
{
    std::string tmp = path + ".tmp";
    {
        int fd = createNew(tmp);
        if (fd < 0) throw std::runtime_error(path + ": cannot create: " + std::strerror(errno));
        try {
            std::vector<uint8_t> buf = pcapBytes(frames);
            writeAll(fd, buf.data(), buf.size(), path);
        } catch (...) {
            ::close(fd);
            ::unlink(tmp.c_str());
            throw;
        }
        ::close(fd);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        int e = errno;
        ::unlink(tmp.c_str());
        throw std::runtime_error(path + ": cannot write: " + std::strerror(e));
    }
}

void writePcap(int fd, const std::string& name, const std::vector<Frame>& frames)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw std::runtime_error(name + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw std::runtime_error(name + ": not a regular file");
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) throw std::runtime_error(name + ": not open for writing");
    if ((flags & O_APPEND) != 0 && ::fcntl(fd, F_SETFL, flags & ~O_APPEND) != 0)
        throw std::runtime_error(name + ": " + std::strerror(errno));
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
        throw std::runtime_error(name + ": cannot write: " + std::strerror(errno));
    std::vector<uint8_t> buf = pcapBytes(frames);
    writeAll(fd, buf.data(), buf.size(), name);
}

}  // namespace simcmd
