// pbb-simctl: drives a running pbb-sim. The words after the options are one
// command of the simulator's command language (the same as in topology
// files; "pbb-simctl help" lists them); -f runs a file of commands, one per
// line. The command's output goes to stdout, its error to stderr, and its
// status is the exit status: 0 done, 1 failed, 2 bad input, 3 pbb-sim is
// not running or does not answer.
//
// A file a command names (a pcap to read or write) is opened here, with the
// operator's rights, and passed to pbb-sim with the command; pbb-sim opens
// no path it is given.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "platform/model/unique_fd.h"
#include "platform/settings.h"
#include "platform/transport/control.h"
#include "platform/transport/paths.h"
#include "tools/simcmd/simcmd.h"

namespace {

constexpr int kNotRunning = 3;

std::string currentDir()
{
    std::vector<char> buf(4096);
    return ::getcwd(buf.data(), buf.size()) != nullptr ? std::string(buf.data()) : std::string();
}

// The file of one command, open: a pcap to read must be a regular file
// (a FIFO or a device is refused without blocking); one to write is made
// when missing, and removed again if the command fails.
struct OpenFile {
    plat::UniqueFd fd;
    std::string path;
    bool created = false;
};

std::optional<OpenFile> openFile(const simcmd::FileArgument& f, std::string* error)
{
    OpenFile o;
    o.path = f.path;
    if (f.write) {
        o.fd.reset(::open(f.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        o.created = o.fd.valid();
        if (!o.fd.valid() && errno == EEXIST) o.fd.reset(::open(f.path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    } else {
        o.fd.reset(::open(f.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    }
    if (!o.fd.valid()) {
        *error = f.path + ": cannot open: " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(o.fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = f.path + ": not a regular file";
        return std::nullopt;
    }
    return o;
}

void print(const plat::transport::ControlReply& r)
{
    if (!r.out.empty()) {
        std::fputs(r.out.c_str(), stdout);
        if (r.out.back() != '\n') std::fputc('\n', stdout);
    }
    if (!r.err.empty()) std::fprintf(stderr, "pbb-simctl: %s%s", r.err.c_str(), r.err.back() == '\n' ? "" : "\n");
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"pbb-simctl - drive the running simulated switch (pbb-sim)\n"
                 "  pbb-simctl [options] <command words...>    'pbb-simctl help' lists the commands"};
    bool json = false;
    std::string runDir, file;
    double timeout = 30;
    app.add_flag("--json", json, "Ask for JSON output (also accepted after the command)");
    app.add_option("--run-dir", runDir, "The platform's run directory (default: PBB_RUN_DIR or /run/pbb)");
    app.add_option("--timeout", timeout, "Seconds to wait for pbb-sim's answer (0: no limit)")->check(CLI::Range(0.0, 86400.0));
    app.add_option("-f,--file", file, "Run the commands of a file, one per line ('-': standard input); stops at the first that fails");
    app.prefix_command();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help is not an error; a bad option is bad input.
        return app.exit(e) == 0 ? 0 : 2;
    }

    std::vector<std::string> words;
    for (auto& w : app.remaining()) {
        if (w == "--json")
            json = true;
        else
            words.push_back(w);
    }
    if (words.empty() == file.empty()) {
        std::fprintf(stderr, "pbb-simctl: give one command, or -f with a file of commands\n%s",
                     app.help().c_str());
        return 2;
    }
    if (!runDir.empty()) plat::setRunDir(runDir);

    // The lines to run, each with where it came from.
    std::vector<std::pair<std::vector<std::string>, std::string>> commands;
    if (!file.empty()) {
        std::ifstream in;
        std::istream* src = &std::cin;
        if (file != "-") {
            in.open(file);
            if (!in) {
                std::fprintf(stderr, "pbb-simctl: cannot read %s\n", file.c_str());
                return 2;
            }
            src = &in;
        }
        std::string line;
        for (int n = 1; std::getline(*src, line); ++n) {
            std::vector<std::string> w;
            try {
                w = simcmd::split(line);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "pbb-simctl: %s:%d: %s\n", file.c_str(), n, e.what());
                return 2;
            }
            if (!w.empty()) commands.emplace_back(std::move(w), file + ":" + std::to_string(n));
        }
    } else {
        commands.emplace_back(std::move(words), "");
    }

    plat::transport::ControlClient client;
    std::string error;
    const int timeoutMs = static_cast<int>(timeout * 1000);
    if (!client.connect(plat::transport::controlSocketPath(), &error, timeoutMs)) {
        std::fprintf(stderr, "pbb-simctl: %s\n", error.c_str());
        return kNotRunning;
    }
    const std::string cwd = currentDir();
    for (auto& [w, where] : commands) {
        plat::transport::ControlRequest req{w, json, cwd, ""};
        std::optional<OpenFile> file;
        if (auto f = simcmd::fileArgument(w)) {
            file = openFile(*f, &error);
            if (!file) {
                std::fprintf(stderr, "pbb-simctl: %s%s\n", where.empty() ? "" : (where + ": ").c_str(), error.c_str());
                return 2;
            }
            req.file = f->path;
        }
        auto reply = client.call(req, timeoutMs, &error, file ? file->fd.get() : -1);
        bool failed = !reply || reply->status != 0;
        if (failed && file && file->created) ::unlink(file->path.c_str());
        if (!reply) {
            std::fprintf(stderr, "pbb-simctl: %s\n", error.c_str());
            return 1;
        }
        if (reply->status != 0 && !where.empty()) reply->err = where + ": " + reply->err;
        print(*reply);
        if (reply->status != 0) return reply->status;
    }
    return 0;
}
