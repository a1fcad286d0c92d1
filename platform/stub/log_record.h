// The payload vsyslog2 leaves in the call log (plat::testing) for each
// line it takes: the priority word with its flags, identity, tag and the
// formatted text as one string (line ends included).
#pragma once

#include <cstdint>
#include <string>

namespace plat {

struct LogRecord {
    uint32_t uiPriority = 0;
    std::string ident;
    std::string tag;
    std::string text;
};

}  // namespace plat
