// What one daemon's platform library knows of the switch's queryable state:
// the encoded records sent to it so far. changes() compares them with the
// model and returns the messages that bring the library up to date (all of
// it the first time: the snapshot). Deletions come before additions, so
// that a name given to another interface is never held by two.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/model/switch_model.h"
#include "platform/transport/wire.h"

namespace pbbsim {

using Message = std::pair<plat::wire::Msg, std::vector<uint8_t>>;

class StateCopy {
public:
    std::vector<Message> changes(const sim::SwitchModel& model);

private:
    using Bytes = std::vector<uint8_t>;
    std::optional<Bytes> scalars_;
    std::optional<uint32_t> down_;
    std::map<uint16_t, Bytes> slots_;
    std::map<uint32_t, Bytes> ifs_;
    std::map<uint32_t, Bytes> vsis_;
};

}  // namespace pbbsim
