// The control protocol between pbb-simctl (or a test) and pbb-sim.
//
// A stream connection to <run dir>/sim-ctl.sock carries one JSON object
// per line each way. A request names the command's words, whether the
// answer should be JSON, and the client's working directory (files named
// by relative paths are found from there):
//   {"words":["link","down","eth-1/0/1"],"json":false,"cwd":"/root"}
// The reply carries the command's status (0 done, 1 failed, 2 bad input),
// what it printed and its error text:
//   {"status":0,"out":"...","err":""}
// A connection may carry any number of requests, answered in order.
//
// pbb-sim opens no file a client names: a command that reads or writes one
// (a pcap file) comes with the descriptor, opened by the client and passed
// along with the request's line (SCM_RIGHTS), and the request names its
// path in "file":
//   {"words":["frame","pcap","eth-1/0/1","a.pcap"],"json":false,"cwd":"/root","file":"a.pcap"}
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plat::transport {

// The longest request line pbb-sim accepts.
constexpr size_t kControlLineMax = 1 << 20;

struct ControlRequest {
    ControlRequest() = default;
    ControlRequest(std::vector<std::string> w, bool j, std::string dir, std::string f = {})
        : words(std::move(w)), json(j), cwd(std::move(dir)), file(std::move(f))
    {
    }

    std::vector<std::string> words;
    bool json = false;
    std::string cwd;
    std::string file;  // the path whose descriptor comes with the request; empty: none
};

struct ControlReply {
    int status = 0;
    std::string out;
    std::string err;
};

// One line, without its newline.
std::string encodeRequest(const ControlRequest& r);
std::string encodeReply(const ControlReply& r);
// nullopt, with what is wrong in *error, for a line that is not one.
std::optional<ControlRequest> decodeRequest(const std::string& line, std::string* error);
std::optional<ControlReply> decodeReply(const std::string& line, std::string* error);

// A client connection to pbb-sim's control socket.
class ControlClient {
public:
    ControlClient() = default;
    ~ControlClient();
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    // False with a message for the operator ("pbb-sim is not running (no
    // control socket at ...)") when it cannot connect. A pbb-sim that does
    // not take the connection within timeoutMs (0: no limit) counts as not
    // answering.
    bool connect(const std::string& path, std::string* error, int timeoutMs = 0);
    // Sends one request (with fileFd, the descriptor of req.file, when >= 0)
    // and waits at most timeoutMs for the reply (0: no limit); nullopt with
    // *error when there is none.
    std::optional<ControlReply> call(const ControlRequest& req, int timeoutMs, std::string* error, int fileFd = -1);

private:
    int fd_ = -1;
    std::string pending_;
};

}  // namespace plat::transport
