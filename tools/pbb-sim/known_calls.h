// The platform calls of the switch services by name, as the platform
// headers declare them: the names pbb-simctl's fault injection accepts.
#pragma once

#include <string_view>
#include <vector>

namespace pbbsim {

const std::vector<std::string_view>& knownCalls();
bool isKnownCall(std::string_view name);

}  // namespace pbbsim
