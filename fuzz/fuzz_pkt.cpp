// Frames from the packet socket: the input is a run of datagrams, each
// [2-byte length, big-endian][PKT_SOCKADDR_S][PKT_CTRL_S][frame data] as
// the socket hands them over, whatever the addresses, control record,
// ifIndex, I-SID, B-VLAN and length say (the EtherType is the I-tag's: the
// socket is bound to it). The daemon reads them through its loop and learns
// what it accepts; afterwards driver, tables and multicast entries agree.
#include "fuzz/fuzz_daemon.h"

#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    (void)fuzzd::start();
    size_t pos = 0;
    for (int n = 0; n < 64 && pos + 2 <= size; ++n) {
        size_t len = std::min<size_t>((size_t{data[pos]} << 8) | data[pos + 1], size - pos - 2);
        std::vector<uint8_t> datagram(data + pos + 2, data + pos + 2 + len);
        pos += 2 + len;
        if (datagram.size() >= sizeof(PKT_SOCKADDR_S)) {
            const uint16_t itag = PKT_ETHERTYPE_ITAG;
            std::memcpy(datagram.data() + offsetof(PKT_SOCKADDR_S, usEtherType), &itag, sizeof itag);
        }
        (void)plat::inproc::deliverDatagram(datagram);
        fuzzd::serve();
    }
    fuzzd::check();
    fuzzd::stop();
    return 0;
}
