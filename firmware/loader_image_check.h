#pragma once
// Checks of the loader images before any of them is sent: a password the device refuses costs
// it its firmware (the loader mass-erases), and whatever is loaded as the RAM loader is started
// at 0x2504 and runs as code. Each check returns why the text cannot be used, as a predicate
// to follow its name ("is not 32 bytes at 0xFFE0"), or an empty text when it can.

#include <string>
#include <string_view>

#include "firmware/flash_layout.h"

namespace talkgate::firmware {

// The password: well-formed TI-TXT holding exactly the 32 bytes at 0xFFE0, short enough for
// the loader's buffer.
std::string passwordImageProblem(std::string_view text);

// The RAM loader: well-formed TI-TXT, every byte inside the part's RAM, a byte at its start
// address 0x2504, short enough for the loader's buffer.
std::string ramLoaderImageProblem(std::string_view text, const FlashLayout& layout = {});

// The version the RAM loader must report, in the form "00.06.05.34" (hexadecimal digits).
std::string ramLoaderVersionProblem(std::string_view version);

}  // namespace talkgate::firmware
