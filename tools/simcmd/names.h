// The words the command language uses for the switch's codes: port types,
// spanning-tree states, services, VLAN lists.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "platform/model/records.h"

namespace simcmd {

// "ge", "xge", ... or a number; BadInput otherwise.
uint32_t parsePortType(const std::string& word);
std::string portTypeName(uint32_t type);

uint16_t parseStpState(const std::string& word);
std::string stpStateName(uint16_t state);

sim::Service parseService(const std::string& word);
std::string serviceName(sim::Service s);

// "10,20,100-110"; "none" for the empty set.
std::string formatVlanList(const std::set<uint16_t>& vlans);

}  // namespace simcmd
