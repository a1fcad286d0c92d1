// pbbctl db dump: every stored database, key, value type and value, the
// daemon's records decoded. Reads the store files read-only; never changes
// them. Exit status 1 when a store cannot be read.
#include "tools/pbbctl/pbbctl.h"

#include "platform/dbm.h"
#include "platform/dbm/dbm_dump.h"
#include "platform/settings.h"

#include <cstdio>

namespace {

struct DbOptions {
    std::string stateDir;
    bool json = false;
};

void runDump(const DbOptions& o)
{
    if (!o.stateDir.empty()) plat::setStateDir(o.stateDir);
    plat::dbm::Dump d = plat::dbm::dumpStores(plat::dbm::storeRoot());
    if (o.json || pbbctl::global().json) {
        nlohmann::ordered_json j = d.json;
        if (!d.anyStore) j["message"] = "no database store under " + plat::dbm::storeRoot();
        std::printf("%s\n", j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
    } else {
        std::fputs(plat::dbm::dumpText(d).c_str(), stdout);
    }
    if (d.anyError) throw pbbctl::ExitStatus{1};
}

pbbctl::Registrar regDb([](CLI::App& app) {
    auto o = std::make_shared<DbOptions>();
    auto* db = app.add_subcommand("db", "Inspect the stored databases");
    db->require_subcommand(1);
    auto* dump = db->add_subcommand("dump", "List every database, key, value type and value (read-only)");
    dump->add_option("--state-dir", o->stateDir, "The platform's state directory (default: the platform setting)");
    dump->add_flag("--json", o->json, "Print the result as JSON");
    dump->callback([o] { runDump(*o); });
});

}  // namespace
