// Parses arbitrary configuration values the way a restore does.

#include <string>

#include "config/utility_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  int value = 0;
  talkgate::config::parseDecimal(text, value);
  talkgate::KeyTable table{};
  talkgate::config::parseCodeTable(text, table);
  return 0;
}
