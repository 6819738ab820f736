#pragma once
// --sim-fault KIND[@N]: one failure of the simulated bootstrap loader, for rehearsing an
// interrupted upgrade.

#include <string>
#include <string_view>

#include "sim/sim_bsl_device.h"

namespace talkgate::cli {

struct SimFault {
  sim::LoaderFault kind = sim::LoaderFault::Unplug;
  int report = 1;  // the loader report (counted from 1 in this run) the fault strikes at
};

// "unplug@70", "refuse-password", "corrupt-byte@90", "stop-answering@40", "erase-fails",
// "second-loader@5", "other-port@2" (N counts the loader's arrivals on the bus: 1 is the loader
// the Talkgate switches to, 2 the RAM loader); false with the reason when the kind or the
// number is not one of these.
bool parseSimFault(std::string_view text, SimFault& out, std::string& error);

// The kinds, as the help text lists them.
std::string simFaultKinds();

}  // namespace talkgate::cli
