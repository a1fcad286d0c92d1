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
};
Global& global();

using AddCommand = std::function<void(CLI::App& app)>;
void registerCommand(AddCommand add);

struct Registrar {
    explicit Registrar(AddCommand add) { registerCommand(std::move(add)); }
};

// Thrown by subcommands for an operator-facing failure: printed as
// "pbbctl: <message>" and exit status 1.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Ends pbbctl with a given exit status and no further message (the
// subcommand has said what there is to say).
struct ExitStatus {
    int code;
};

}  // namespace pbbctl
