#pragma once
// The program's start: the splash window, then the main window and its message loop.

#include <functional>

namespace dorrin_usb_encoder {
class Form1;
}

namespace talkgate::app {

// Runs the utility until "Exit"; prepare, when given, sees the main window before it is shown.
// Returns the program's result.
int runUtility(int argc, char** argv,
               const std::function<void(dorrin_usb_encoder::Form1&)>& prepare = {});
// The same within an application that already exists: splash, main window, message loop. Returns
// once the loop has ended and every window is gone.
int runWindows(const std::function<void(dorrin_usb_encoder::Form1&)>& prepare = {});

}  // namespace talkgate::app
