// The operator's view of the stored databases: every store file under the
// store folder, opened read-only, with every database, key, value type and
// value, the daemon's records decoded. Nothing is written to the stores.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace plat::dbm {

struct Dump {
    nlohmann::ordered_json json;  // {"root", "stores": [{"file", "error"?, "databases": [...]}]}
    bool anyStore = false;
    bool anyError = false;
};

// Reads every store under root (normally storeRoot()).
Dump dumpStores(const std::string& root);
// Human-readable form of a dump.
std::string dumpText(const Dump& d);

}  // namespace plat::dbm
