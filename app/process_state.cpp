#include "app/process_state.h"

namespace dorrin_usb_encoder {

std::array<std::uint8_t, kKeyCodeArraySize> keyCodeArray{};
std::array<QString, kStatusLineCount> configArray{};

}  // namespace dorrin_usb_encoder
