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

// The RAM loader: well-formed TI-TXT, short enough for the loader's buffer, every byte inside
// the RAM of every known part, its four version bytes at 0x2500 followed by code at 0x2504
// (at least one instruction word), and, unless version is empty, those bytes equal to it
// ("00.06.05.34" stands for 00 06 05 34).
std::string ramLoaderImageProblem(std::string_view text, std::string_view version = {});
// What the check above found in a usable RAM loader, for the operator ("version 00.06.05.34
// at 0x2500, code from 0x2504, 2793 bytes inside RAM 0x2400-0x33FF").
std::string ramLoaderImageSummary(std::string_view text);

// The version the RAM loader must report, in the form "00.06.05.34" (hexadecimal digits).
std::string ramLoaderVersionProblem(std::string_view version);

}  // namespace talkgate::firmware
