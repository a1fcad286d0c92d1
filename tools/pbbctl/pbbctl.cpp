// pbbctl entry point: builds the command line from the registered
// subcommands and turns failures into a message and a non-zero status.
#include "tools/pbbctl/pbbctl.h"
#include "tools/pbbctl/pbbctl_client.h"

#include <cstdio>
#include <vector>

namespace pbbctl {

Global& global()
{
    static Global g;
    return g;
}

static std::vector<AddCommand>& commands(int round)
{
    static std::vector<AddCommand> v[2];
    return v[round];
}

void registerCommand(AddCommand add, int round) { commands(round).push_back(std::move(add)); }

}  // namespace pbbctl

int main(int argc, char** argv)
{
    CLI::App app{"pbbctl - control and inspect the PBB daemon"};
    app.require_subcommand(1);
    app.add_flag("--json", pbbctl::global().json, "Print results as JSON");
    app.add_option("--timeout", pbbctl::global().timeout, "Seconds to wait for the daemon's and the switch's answers")
        ->check(CLI::Range(0.001, 3600.0));
    // --json and --timeout are accepted after the command words too.
    app.fallthrough();
    app.footer("Exit status: 0 done, 1 refused by the daemon, 2 bad usage, 3 the daemon is not running or does not\n"
               "answer. 'pbbctl help' shows examples; 'pbbctl <command> --help' the options of one command.");
    for (int round : {0, 1})
        for (auto& add : pbbctl::commands(round)) add(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help is success; every usage error is status 2, as in the other tools.
        return app.exit(e) == 0 ? 0 : 2;
    } catch (const pbbctl::ExitStatus& e) {
        return e.code;
    } catch (const pbbctl::Usage& e) {
        std::fprintf(stderr, "pbbctl: %s\n", e.what());
        return 2;
    } catch (const pbbctl::NoAnswer& e) {
        std::fprintf(stderr, "pbbctl: %s\n", e.what());
        return 3;
    } catch (const pbbctl::Failure& e) {
        std::fprintf(stderr, "pbbctl: %s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pbbctl: %s\n", e.what());
        return 1;
    }
    return 0;
}
