#pragma once
// Decides whether a parsed firmware image may be programmed at all, before the device is
// touched: a bad image must never cost the device its working firmware.

#include "firmware/flash_layout.h"
#include "firmware/ti_txt.h"

namespace talkgate::firmware {

// True when the image is not empty, every byte lies in the part's flash, none in the loader's
// own area 0x1000-0x17FF nor in information segment A 0x1980-0x19FF (locked on these parts),
// and it sets a reset vector at 0xFFFE that points into main flash the image itself programs. Otherwise false with the first
// problem (and the line of the section that holds it) in error.
bool checkFirmwareImage(const TiTxtImage& image, const FlashLayout& layout, TiTxtError& error);

}  // namespace talkgate::firmware
