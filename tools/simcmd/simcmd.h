// The simulated switch's command language: one command per line, split into
// words. Topology files and pbb-simctl speak the same commands; `help` lists
// them all. A command checks all its arguments before it changes anything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/model/switch_model.h"

namespace simcmd {

// status 0 ok, 2 bad input (err names the argument), 1 failed
struct Outcome {
    int status = 0;
    std::string out;
    std::string err;
};

// Services the simulator process provides to commands that need more than the model.
class Host {
public:
    virtual ~Host() = default;
    // Fault injection on the platform calls the simulator serves: the name as in
    // the platform headers (e.g. "L2VPN_AddMinMEntry"); times 0: from now on.
    virtual Outcome failCall(const std::string& call, int64_t result, unsigned times) = 0;
    virtual Outcome clearFaults() = 0;
    // Frames: sends these to the model at `rate` frames per second (0: as fast
    // as possible); returns at once, progress shown by 'show stats'.
    virtual Outcome injectFrames(uint32_t port, std::vector<std::vector<uint8_t>> frames, double rate) = 0;
    // Binds/unbinds a real Linux interface (optionally inside a network
    // namespace) to a simulated port.
    virtual Outcome bindLink(const std::string& linuxIf, const std::string& netns, uint32_t port) = 0;
    virtual Outcome unbindLink(const std::string& linuxIf) = 0;
    // A file the command names (a pcap to read or write): the descriptor
    // the command's client opened and passed along, or -1 when the command
    // is to open the path itself. A host that opens no paths for its
    // clients throws BadInput for a file that did not come with the command.
    virtual int passedFile(const std::string& path)
    {
        (void)path;
        return -1;
    }
    // Daemon connected?, frames injected/delivered, calls served ...
    virtual nlohmann::json stats() const = 0;
    // The data plane: counters, customer MAC table, backbone addresses
    // followed; null when there is none.
    virtual nlohmann::json dataplane() const { return nullptr; }
};

// Runs one command (already split into words) against the model. host may be
// null (topology files, unit tests): commands that need it then fail with a
// clear message. No exception escapes.
Outcome run(sim::SwitchModel& model, Host* host, const std::vector<std::string>& words, bool json);

// The file a command names, which its client opens and passes to the
// simulator (pbb-simctl does): its path and whether the command writes it.
// nullopt for a command that names none (or is malformed: the simulator
// then says what is wrong).
struct FileArgument {
    std::string path;
    bool write = false;
};
std::optional<FileArgument> fileArgument(const std::vector<std::string>& words);

// Splits a command line into words (quotes allowed), "#" starts a comment.
// An unterminated quote throws std::invalid_argument.
std::vector<std::string> split(const std::string& line);

// Loads a topology: every line is a command; on the first bad line nothing is
// applied (the text is tried on a fresh model first) and err names the file
// and line number.
Outcome loadTopology(sim::SwitchModel& model, const std::string& text, const std::string& sourceName);

// The embedded default topology text.
std::string defaultTopology();

}  // namespace simcmd
