#pragma once
// CPU cost of the pieces an upgrade and a settings session repeat: one transport exchange
// with the simulated Talkgate, reading TI-TXT text, and the table-free CRC.

#include <cstdint>
#include <string>
#include <vector>

#include "bench/cpu_time.h"

namespace talkgate::bench {

struct MicroResult {
  bool ok = false;
  std::string failure;
  double value = 0.0;  // seconds per exchange, or bytes per second
};

// CPU seconds per status request (command 1) answered by the simulated Talkgate over the
// virtual bus, framing and checks of both sides included.
MicroResult exchangeCpu(const SamplerSettings& settings);

// Bytes of TI-TXT text parsed per CPU second; the text must parse to expectedBytes data bytes.
MicroResult tiTxtThroughput(const std::string& text, std::size_t expectedBytes,
                            const SamplerSettings& settings);

// Bytes per CPU second through crc16 (after checking its known answers).
MicroResult crcThroughput(const std::vector<std::uint8_t>& bytes, const SamplerSettings& settings);

}  // namespace talkgate::bench
