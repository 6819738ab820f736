// talkgate-utility: the configuration utility on the real HID bus.

#include "app/run_utility.h"

int main(int argc, char** argv) {
  return talkgate::app::runUtility(argc, argv);
}
