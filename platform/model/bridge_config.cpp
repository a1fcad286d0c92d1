#include "platform/model/bridge_config.h"

namespace sim {

Mac derivedBridgeAddress(std::string_view name)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : name) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return Mac{0x02, static_cast<uint8_t>(h >> 32), static_cast<uint8_t>(h >> 24), static_cast<uint8_t>(h >> 16),
               static_cast<uint8_t>(h >> 8), static_cast<uint8_t>(h)};
}

void BridgeConfig::setFallbackName(std::string name)
{
    fallback_ = std::move(name);
    update();
}

void BridgeConfig::setName(std::string name)
{
    name_ = std::move(name);
    update();
}

void BridgeConfig::setAddress(std::optional<Mac> mac)
{
    mac_ = mac;
    update();
}

}  // namespace sim
