#pragma once
// Power coming back to the simulated part after it left the bus half-way through an upgrade.

#include "sim/sim_bsl_device.h"
#include "sim/sim_world.h"

namespace scen {

// The part runs the application in flash when its reset vector is programmed, and waits in
// its ROM loader when the vector is erased (an interrupted upgrade), as a blank part does.
inline void powerUp(talkgate::sim::SimWorld& world) {
  constexpr std::uint32_t kResetVector = 0xFFFE;
  const auto vector = world.loader().readMemory(kResetVector, 2);
  if (vector[0] == 0xFF && vector[1] == 0xFF) {
    world.loader().plugIn();
    return;
  }
  auto state = world.talkgate().state();
  if (auto version = talkgate::sim::SimBslDevice::firmwareVersionOf(world.loader().memory())) {
    state.firmwareVersion = *version;
  }
  world.talkgate().setState(state);
  world.talkgate().plugIn();
}

}  // namespace scen
