// The in-process switch: a switch model owned by this process behind the
// platform calls. Every unit test starts from plat::inproc::reset().
//
//   auto& sw = plat::inproc::reset();
//   sw.addSlot(1, {.minm = true});
//   uint32_t p1 = sw.addPort("eth-1/0/1", 1);
//   sw.setVlans(p1, {10, 20});
//   sw.addVsi(0, "vsi-a", 100);
//
// Model changes queue events on the service's descriptor while the client
// has registered for them; the client's dispatch call delivers them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/model/switch_model.h"

namespace plat::inproc {

// A fresh switch model and fresh client state. Descriptors of the previous
// one are closed, registrations and private data forgotten.
sim::SwitchModel& reset();
sim::SwitchModel& model();

// Events waiting on a service's descriptor, and the descriptor (-1 when none).
size_t pending(sim::Service service);
int channelFd(sim::Service service);

// Hands a datagram [PKT_SOCKADDR_S][PKT_CTRL_S][data] to the packet sockets
// as it is, whatever it holds; returns how many sockets took it.
size_t deliverDatagram(std::span<const uint8_t> datagram);

}  // namespace plat::inproc
