#include "tools/pbb-sim/dataplane/drop_reason.h"

#include <array>

namespace dp {

std::string_view dropName(Drop d)
{
    static constexpr std::array<std::string_view, kDropCount> names = {
        "none",     "runt",      "tagged", "stackedTags", "badTag",       "notItagged", "groupSource",
        "ownSource", "samePort", "portDown", "noService", "noVsi",        "vsiDown",    "notVsiPort",
        "bvlanMismatch", "stpBlocked", "notForUs", "splitHorizon",
    };
    auto i = static_cast<size_t>(d);
    return i < names.size() ? names[i] : "unknown";
}

}  // namespace dp
