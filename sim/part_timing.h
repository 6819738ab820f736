#pragma once
// How long a real MSP430F5xx USB part takes for what the simulated devices do, at typical and
// at worst-case figures. The simulated loader keeps this time on the active clock: erasing and
// programming keep it busy (the host's next report waits, as an endpoint that NAKs makes it),
// and it leaves and comes back on the bus only after these delays.
//
// Sources:
// - flash: the F55xx/F552x datasheets' flash tables: segment, bank and mass erase 23 ms typical,
//   32 ms at most; word programming 64-85 us per 16-bit word (the RAM loader writes word by word);
// - bus: our own kernel USB stage (dummy_hcd, hidapi's hidraw back end): an unbind until the
//   loader's gadget is visible to hidapi takes 0.6-1.0 s, a bound gadget until both hidraw nodes
//   are present 0.8-1.6 s (an unbound interface is gone for hidapi after 0.12 s; the simulated
//   one goes at once, which only makes the host's "gone" come sooner);
// - CRC: the RAM loader feeds the CRC module a byte at a time; about 1 us a byte at the part's
//   8 MHz, 2 us assumed at worst (no datasheet figure; an estimate of ours).

#include <chrono>

namespace talkgate::sim {

struct PartTiming {
  std::chrono::microseconds segmentErase{0};  // one Erase Segment (main or information)
  std::chrono::microseconds massErase{0};     // Mass Erase, and the one after a wrong password
  std::chrono::microseconds wordProgram{0};   // each 16-bit word written to flash
  std::chrono::microseconds crcPerByte{0};    // each byte a CRC Check covers
  // From the report that makes the part leave (Load PC, the reset, command 9) until hidapi
  // lists the new interface (RAM loader, Talkgate, ROM loader). The old one goes at once.
  std::chrono::milliseconds ramLoaderBack{0};  // after Load PC
  std::chrono::milliseconds talkgateBack{0};   // after the reset into new firmware
  std::chrono::milliseconds romLoaderBack{0};  // after command 9 (the Talkgate's own switch)

  bool instant() const { return *this == PartTiming{}; }
  bool operator==(const PartTiming&) const = default;
};

// Everything at once: for tests of logic that does not depend on time.
inline constexpr PartTiming kInstantPart{};

inline constexpr PartTiming kTypicalPart{
    std::chrono::microseconds(23000), std::chrono::microseconds(23000),
    std::chrono::microseconds(64),    std::chrono::microseconds(1),
    std::chrono::milliseconds(600),   std::chrono::milliseconds(800),
    std::chrono::milliseconds(600)};

inline constexpr PartTiming kWorstPart{
    std::chrono::microseconds(32000), std::chrono::microseconds(32000),
    std::chrono::microseconds(85),    std::chrono::microseconds(2),
    std::chrono::milliseconds(1000),  std::chrono::milliseconds(1600),
    std::chrono::milliseconds(1000)};

}  // namespace talkgate::sim
