#pragma once
// The demo's Simulator menu: unplug and plug in the simulated Talkgate and its bootstrap
// loader, and arm one loader failure for the next upgrade, to rehearse an interrupted one.

namespace dorrin_usb_encoder {
class Form1;
}
namespace talkgate::sim {
class SimWorld;
}

namespace talkgate::app {

void addSimulatorMenu(dorrin_usb_encoder::Form1& window, sim::SimWorld& world);

}  // namespace talkgate::app
