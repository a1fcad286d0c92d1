// Frames into the switch, real Linux interfaces bound to ports, and faults
// of platform calls: the commands that need the running simulator.
#include <cctype>

#include "platform/model/pbb_frame.h"
#include "tools/simcmd/command.h"
#include "tools/simcmd/frames.h"

namespace simcmd {

namespace {

using Words = std::vector<std::string>;

constexpr uint32_t kMaxBurst = 1000000;
constexpr uint64_t kRawDataMax = 4096;


const std::map<std::string, bool> kFieldOptions = {
    {"--bda", true}, {"--bsa", true},  {"--bvlan", true}, {"--pcp", true},     {"--tpid", true},
    {"--isid", true}, {"--flags", true}, {"--cda", true},  {"--csa", true},     {"--payload", true},
};

std::map<std::string, bool> withFields(std::map<std::string, bool> more)
{
    more.insert(kFieldOptions.begin(), kFieldOptions.end());
    return more;
}

const char* kFieldUsage =
    "--isid N [--bda MAC] [--bsa MAC] [--bvlan N] [--pcp N] [--tpid 0x88a8|0x8100] [--flags N] [--cda MAC] "
    "[--csa MAC] [--payload HEX]";

// The frame's fields from the options; the I-SID is required (0 when it
// may be left out), everything else has a default (B-DA: the I-SID's group
// address).
FrameFields fields(const Args& a, bool isidRequired = true)
{
    FrameFields f;
    auto isid = a.value("--isid");
    if (!isid && isidRequired) throw BadInput("--isid is required; usage: " + a.usage());
    f.isid = isid ? static_cast<uint32_t>(parseUnsigned(*isid, "--isid", 0, 0xFFFFFF)) : 0;
    f.bda = sim::groupAddress(f.isid);
    f.bsa = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    f.bvid = 1;
    f.cda = {0x02, 0x00, 0x00, 0x00, 0x01, 0x02};
    f.csa = {0x02, 0x00, 0x00, 0x00, 0x01, 0x01};
    f.payload.assign(48, 0);
    f.payload[0] = 0x88;   // a local experimental EtherType, then zeros to a minimum-size customer frame
    f.payload[1] = 0xB5;
    if (auto v = a.value("--bda")) f.bda = parseMacArg(*v, "--bda");
    if (auto v = a.value("--bsa")) f.bsa = parseMacArg(*v, "--bsa");
    if (auto v = a.value("--bvlan")) f.bvid = static_cast<uint16_t>(parseUnsigned(*v, "--bvlan", 0, 4095));
    if (auto v = a.value("--pcp")) f.bpcp = static_cast<uint8_t>(parseUnsigned(*v, "--pcp", 0, 7));
    if (auto v = a.value("--tpid")) f.tpid = static_cast<uint16_t>(parseUnsigned(*v, "--tpid", 0, 0xFFFF));
    if (auto v = a.value("--flags")) f.itagFlags = static_cast<uint8_t>(parseUnsigned(*v, "--flags", 0, 0xFF));
    if (auto v = a.value("--cda")) f.cda = parseMacArg(*v, "--cda");
    if (auto v = a.value("--csa")) f.csa = parseMacArg(*v, "--csa");
    if (auto v = a.value("--payload")) f.payload = parseHex(*v, "--payload");
    return f;
}

double rate(const Args& a)
{
    auto v = a.value("--rate");
    return v ? parseRate(*v, "--rate") : 0.0;
}

std::vector<Frame> burst(const FrameFields& f, uint32_t count)
{
    try {
        return buildBurst(f, count);
    } catch (const std::invalid_argument& e) {
        throw BadInput(std::string("--bsa: ") + e.what());
    }
}

// The descriptor the command's client passed for path, or -1: the path is
// opened here (a topology file, a test).
int passed(const Context& c, const std::string& path) { return c.host != nullptr ? c.host->passedFile(path) : -1; }

void save(const Context& c, const std::string& path, const std::vector<Frame>& frames)
{
    int fd = passed(c, path);
    if (fd >= 0)
        writePcap(fd, path, frames);
    else
        writePcap(path, frames);
}

void keep(const Context& c, const Args& a, const std::vector<Frame>& frames)
{
    auto path = a.value("--pcap-out");
    if (!path) return;
    try {
        save(c, *path, frames);
    } catch (const std::runtime_error& e) {
        throw BadInput(std::string("--pcap-out: ") + e.what());
    }
}

// A burst is refused before it is built when its frames would take more
// than this.
constexpr uint64_t kBurstBytesMax = 128u << 20;

void checkBurstSize(const FrameFields& f, uint32_t count)
{
    uint64_t bytes = static_cast<uint64_t>(buildFrame(f).size()) * count;
    if (bytes > kBurstBytesMax)
        throw BadInput(std::to_string(count) + " frames of this size take " + std::to_string(bytes) +
                       " bytes; a burst holds at most " + std::to_string(kBurstBytesMax));
}

Outcome inject(Context& c, const Args& a, uint32_t port, std::vector<Frame> frames, const std::string& command)
{
    Host& h = c.needHost(command);
    keep(c, a, frames);
    return h.injectFrames(port, std::move(frames), rate(a));
}

Outcome frameSend(Context& c, const Words& w)
{
    Args a(w, 2, std::string("frame send <port> ") + kFieldUsage + " [--pcap-out FILE]",
           withFields({{"--pcap-out", true}}));
    a.expect(1);
    uint32_t port = resolvePort(c.model, a[0]);
    std::vector<Frame> frames{buildFrame(fields(a))};
    return inject(c, a, port, std::move(frames), "frame send");
}

Outcome frameBurst(Context& c, const Words& w)
{
    Args a(w, 2, std::string("frame burst <port> <count> ") + kFieldUsage + " [--rate N] [--pcap-out FILE]",
           withFields({{"--pcap-out", true}, {"--rate", true}}));
    a.expect(2);
    uint32_t port = resolvePort(c.model, a[0]);
    auto count = static_cast<uint32_t>(parseUnsigned(a[1], "count", 1, kMaxBurst));
    FrameFields f = fields(a);
    rate(a);
    checkBurstSize(f, count);
    return inject(c, a, port, burst(f, count), "frame burst");
}

Outcome framePcap(Context& c, const Words& w)
{
    Args a(w, 2, "frame pcap <port> <file> [--rate N]", {{"--rate", true}});
    a.expect(2);
    uint32_t port = resolvePort(c.model, a[0]);
    rate(a);
    Host& h = c.needHost("frame pcap");
    std::vector<Frame> frames;
    try {
        int fd = passed(c, a[1]);
        frames = fd >= 0 ? readPcap(fd, a[1]) : readPcap(a[1]);
    } catch (const std::runtime_error& e) {
        throw BadInput(std::string("pcap file: ") + e.what());
    }
    return h.injectFrames(port, std::move(frames), rate(a));
}

Outcome frameWrite(Context& c, const Words& w)
{
    Args a(w, 2, std::string("frame write <file> [--count N] ") + kFieldUsage, withFields({{"--count", true}}));
    a.expect(1);
    uint32_t count = 1;
    if (auto v = a.value("--count")) count = static_cast<uint32_t>(parseUnsigned(*v, "--count", 1, kMaxBurst));
    FrameFields f = fields(a);
    checkBurstSize(f, count);
    auto frames = burst(f, count);
    try {
        save(c, a[0], frames);
    } catch (const std::runtime_error& e) {
        throw BadInput(std::string("pcap file: ") + e.what());
    }
    return done(c, std::to_string(count) + " frames written to " + a[0], {{"frames", count}, {"file", a[0]}});
}

constexpr const char* kRawUsage =
    "frame raw <port> [--ifindex N] [--ctrl-type N] [--no-ctrl] [--ethertype N] [--data HEX] [--len N] [--isid N] "
    "[--bda MAC] [--bsa MAC] [--bvlan N] [--flags N] [--cda MAC] [--csa MAC] [--payload HEX]";

// One packet-socket datagram made by hand and handed to the packet sockets
// as it is: the name record from the frame's outer header, a control record
// of any type and ifIndex (or none), data of any length.
Outcome frameRaw(Context& c, const Words& w)
{
    Args a(w, 2, kRawUsage,
           withFields({{"--ifindex", true},
                       {"--ctrl-type", true},
                       {"--no-ctrl", false},
                       {"--ethertype", true},
                       {"--data", true},
                       {"--len", true}}));
    a.expect(1);
    uint32_t port = resolvePort(c.model, a[0]);
    FrameFields f = fields(a, false);
    sim::Datagram d;
    d.addr.ucLen = sizeof(d.addr);
    d.addr.ucFamily = PKT_AF_PACKET;
    d.addr.usEtherType = PKT_ETHERTYPE_ITAG;
    if (auto v = a.value("--ethertype"))
        d.addr.usEtherType = static_cast<uint16_t>(parseUnsigned(*v, "--ethertype", 0, 0xFFFF));
    std::copy(f.bsa.begin(), f.bsa.end(), d.addr.aucSrcMac);
    std::copy(f.bda.begin(), f.bda.end(), d.addr.aucDstMac);
    d.addr.usVlanId = f.bvid;

    const sim::Interface* ifc = c.model.findIf(port);
    uint32_t ingress = ifc != nullptr && ifc->aggregate != 0 ? ifc->aggregate : port;
    if (auto v = a.value("--ifindex")) ingress = static_cast<uint32_t>(parseUnsigned(*v, "--ifindex", 0, 0xFFFFFFFF));
    uint32_t type = PKT_CTRL_IFINDEX;
    if (auto v = a.value("--ctrl-type")) type = static_cast<uint32_t>(parseUnsigned(*v, "--ctrl-type", 0, 0xFFFFFFFF));
    d.ctrl = PKT_CTRL_S{sizeof(PKT_CTRL_S), PKT_SOL_PACKET, type, ingress};
    if (a.flag("--no-ctrl")) d.ctrl = PKT_CTRL_S{0, 0, 0, 0};

    // The data: what follows the I-Tag EtherType in the frame, or as given.
    Frame frame = buildFrame(f);
    d.data.assign(frame.begin() + static_cast<std::ptrdiff_t>(sim::kPbbHeaderLen), frame.end());
    if (auto v = a.value("--data")) d.data = parseHex(*v, "--data");
    if (auto v = a.value("--len")) d.data.resize(parseUnsigned(*v, "--len", 0, kRawDataMax), 0);
    if (d.data.size() > kRawDataMax)
        throw BadInput("--data: at most " + std::to_string(kRawDataMax) + " bytes");

    c.needHost("frame raw");
    std::vector<uint8_t> bytes = sim::packDatagram(d);
    if (!c.model.deliverDatagram(bytes)) return {1, "", "the packet service is down"};
    return done(c,
                "one datagram of " + std::to_string(d.data.size()) + " data bytes for ifIndex " +
                    std::to_string(ingress) + " (control type " + std::to_string(type) + ")",
                {{"dataBytes", d.data.size()}, {"ifIndex", ingress}, {"ctrlType", type}});
}

std::string linuxIfName(const std::string& w)
{
    if (w.empty() || w.size() > 15 || w.find('/') != std::string::npos || w.find(' ') != std::string::npos)
        throw BadInput("Linux interface name " + q(w) + " is not 1 to 15 characters without '/' or spaces");
    return w;
}

Outcome linkBind(Context& c, const Words& w)
{
    Args a(w, 2, "link bind <linux-interface> <port> [--netns NAME]", {{"--netns", true}});
    a.expect(2);
    std::string ifName = linuxIfName(a[0]);
    uint32_t port = resolvePort(c.model, a[1]);
    std::string ns = a.value("--netns").value_or("");
    if (a.value("--netns") && (ns.empty() || ns.find('/') != std::string::npos))
        throw BadInput("--netns " + q(ns) + " is not a network namespace name");
    return c.needHost("link bind").bindLink(ifName, ns, port);
}

Outcome linkUnbind(Context& c, const Words& w)
{
    Args a(w, 2, "link unbind <linux-interface>");
    a.expect(1);
    std::string ifName = linuxIfName(a[0]);
    return c.needHost("link unbind").unbindLink(ifName);
}

Outcome failCall(Context& c, const Words& w)
{
    if (w.size() >= 2 && w[1] == "clear") {
        Args a(w, 2, "fail clear");
        a.expect(0);
        return c.needHost("fail clear").clearFaults();
    }
    Args a(w, 1, "fail <call> [--result N] [--times N]", {{"--result", true}, {"--times", true}});
    a.expect(1);
    const std::string& call = a[0];
    bool ident = !call.empty() && std::isalpha(static_cast<unsigned char>(call[0]));
    for (char ch : call) ident = ident && (std::isalnum(static_cast<unsigned char>(ch)) || ch == '_');
    if (!ident) throw BadInput("call " + q(call) + " is not a platform call name (like L2VPN_AddMinMEntry)");
    int64_t result = 1;
    if (auto v = a.value("--result")) result = parseSigned(*v, "--result");
    unsigned times = 1;
    if (auto v = a.value("--times")) times = static_cast<unsigned>(parseUnsigned(*v, "--times", 0, 0xFFFFFFFF));
    return c.needHost("fail").failCall(call, result, times);
}

}  // namespace

std::optional<FileArgument> fileArgument(const std::vector<std::string>& words)
{
    if (words.size() < 2 || words[0] != "frame") return std::nullopt;
    try {
        const std::string& sub = words[1];
        if (sub == "pcap") {
            Args a(words, 2, "", {{"--rate", true}});
            if (a.count() == 2) return FileArgument{a[1], false};
        } else if (sub == "write") {
            Args a(words, 2, "", withFields({{"--count", true}}));
            if (a.count() == 1) return FileArgument{a[0], true};
        } else if (sub == "send" || sub == "burst") {
            Args a(words, 2, "", withFields({{"--pcap-out", true}, {"--rate", true}}));
            if (auto out = a.value("--pcap-out")) return FileArgument{*out, true};
        }
    } catch (const BadInput&) {
        // Malformed: the simulator says what is wrong.
    }
    return std::nullopt;
}

std::vector<CommandSpec> frameCommands()
{
    return {
        {"frame", "send", std::string("frame send <port> ") + kFieldUsage + " [--pcap-out FILE]",
         "one I-tagged frame arrives on the port (also kept in a pcap file with --pcap-out)", frameSend},
        {"frame", "burst", std::string("frame burst <port> <count> ") + kFieldUsage + " [--rate N] [--pcap-out FILE]",
         "count frames with B-SAs counting up from --bsa, at N frames per second (0: as fast as possible)",
         frameBurst},
        {"frame", "pcap", "frame pcap <port> <file> [--rate N]", "the frames of a pcap file arrive on the port",
         framePcap},
        {"frame", "write", std::string("frame write <file> [--count N] ") + kFieldUsage,
         "writes frames (B-SAs counting up) to a pcap file without sending them", frameWrite},
        {"frame", "raw", kRawUsage,
         "one packet-socket datagram as given, past the switch's checks: any control type and ifIndex (or no "
         "control record), any data length",
         frameRaw},
        {"link", "bind", "link bind <linux-interface> <port> [--netns NAME]",
         "frames received on the Linux interface (in the network namespace) arrive on the port", linkBind},
        {"link", "unbind", "link unbind <linux-interface>", "stops taking frames from the Linux interface",
         linkUnbind},
        {"fail", "clear", "fail clear", "no platform call fails any more", failCall},
        {"fail", "", "fail <call> [--result N] [--times N]",
         "the next N calls (default 1; 0: every call until 'fail clear') of the named platform call fail "
         "with the result (default 1)",
         failCall},
    };
}

}  // namespace simcmd
