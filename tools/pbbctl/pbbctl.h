// pbbctl: the operator's front end. Each subcommand lives in its own file
// and registers itself with a static Registrar.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <stdexcept>

namespace pbbctl {

// Options every subcommand shares.
struct Global {
    bool json = false;
    double timeout = 5.0;  // seconds to wait for the daemon and the switch
    int timeoutMs() const { return static_cast<int>(timeout * 1000); }
};
Global& global();

using AddCommand = std::function<void(CLI::App& app)>;
// Round 0 adds the commands; round 1 adds subcommands below them.
void registerCommand(AddCommand add, int round = 0);

struct Registrar {
    explicit Registrar(AddCommand add, int round = 0) { registerCommand(std::move(add), round); }
};

// Thrown by subcommands for an operator-facing failure: printed as
// "pbbctl: <message>" and exit status 1.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A command line that cannot be carried out as written (a name the switch
// does not know, a value out of range): "pbbctl: <message>", exit status 2.
struct Usage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Ends pbbctl with a given exit status and no further message (the
// subcommand has said what there is to say).
struct ExitStatus {
    int code;
};

}  // namespace pbbctl
