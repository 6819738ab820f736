// talkgatectl image check: what an upgrade would send, and whether it would be accepted,
// without touching any device.

#include <cstdio>
#include <optional>

#include "cli/command.h"
#include "cli/json.h"
#include "cli/text.h"
#include "firmware/crc.h"
#include "firmware/flash_layout.h"
#include "firmware/image_check.h"
#include "firmware/ti_txt.h"

namespace talkgate::cli {

namespace {

using firmware::TiTxtImage;

std::string hex(std::uint32_t value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", digits, value);
  return buf;
}

// The reset vector the image sets, when it holds both of its bytes.
std::optional<std::uint16_t> resetVectorOf(const TiTxtImage& image) {
  std::uint8_t low = 0;
  std::uint8_t high = 0;
  if (!image.contains(firmware::kResetVectorAddress, &low) ||
      !image.contains(firmware::kResetVectorAddress + 1, &high)) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(low | (high << 8));
}

// What the loader answers to a CRC Check over the whole section.
std::uint16_t sectionCrc(const firmware::TiTxtSection& section) {
  return firmware::crc16(section.data.data(), section.data.size());
}

void printText(Context& ctx, const TiTxtImage& image, const std::string& refusal,
               bool unreadable) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& s : image.sections) {
    rows.push_back({hex(s.address, 5) + "-" + hex(s.end() - 1, 5), std::to_string(s.data.size()),
                    hex(sectionCrc(s), 4)});
  }
  if (!rows.empty()) printColumns(ctx.out(), {"SECTION", "BYTES", "CRC-16"}, rows);
  // An image that cannot be read has no sections and no reset vector to tell of.
  if (!unreadable) {
    const auto vector = resetVectorOf(image);
    ctx.out() << "Reset vector: " << (vector ? hex(*vector, 4) : std::string("none")) << '\n';
  }
  if (refusal.empty()) {
    ctx.out() << "Accepted: an upgrade would send this image.\n";
  } else {
    ctx.out() << "Refused: " << refusal << ".\n";
  }
}

void printJson(Context& ctx, const std::string& file, const TiTxtImage& image,
               const std::string& refusal) {
  JsonWriter json(ctx.out());
  json.beginObject();
  json.key("image");
  json.value(file);
  json.key("accepted");
  json.value(refusal.empty());
  json.key("reason");
  if (refusal.empty()) {
    json.nullValue();
  } else {
    json.value(refusal);
  }
  json.key("sections");
  json.beginArray();
  for (const auto& s : image.sections) {
    json.beginObject();
    json.key("start");
    json.value(static_cast<long long>(s.address));
    json.key("end");
    json.value(static_cast<long long>(s.end() - 1));
    json.key("bytes");
    json.value(static_cast<long long>(s.data.size()));
    json.key("crc16");
    json.value(static_cast<int>(sectionCrc(s)));
    json.endObject();
  }
  json.endArray();
  json.key("reset_vector");
  const auto vector = resetVectorOf(image);
  if (vector) {
    json.value(static_cast<int>(*vector));
  } else {
    json.nullValue();
  }
  json.endObject();
  json.finish();
}

int runImage(Context& ctx) {
  const auto& args = ctx.args();
  if (args.empty() || args[0] != "check") {
    return ctx.badInput(args.empty() ? "'image' needs 'check IMAGE'."
                                     : "Unknown 'image' action '" + printableBytes(args[0]) +
                                           "'; use 'image check IMAGE'.");
  }
  if (args.size() != 2) return ctx.badInput("'image check' takes one image file.");
  const std::string& file = args[1];

  TiTxtImage image;
  firmware::TiTxtError error;
  std::string refusal;
  const bool unreadable = !firmware::readTiTxtFile(file, image, error);
  if (unreadable) {
    refusal = error.text();  // unreadable or malformed: nothing to list
  } else if (!firmware::checkFirmwareImage(image, firmware::FlashLayout{}, error)) {
    refusal = error.text();
  }
  if (ctx.json()) {
    printJson(ctx, file, image, refusal);
  } else {
    printText(ctx, image, refusal, unreadable);
  }
  return refusal.empty() ? kExitOk : kExitBadInput;
}

}  // namespace

void registerImageCommands(CommandRegistry& registry) {
  registry.add({"image",
                {{"image check IMAGE",
                  "Read the TI-TXT firmware image IMAGE and show what an upgrade would send: "
                  "each section (address range, size, the CRC-16 the loader computes over it), "
                  "the reset vector, and whether the image would be accepted, with the reason "
                  "when not. Exit 0 when accepted, 2 when refused or unreadable. Touches no "
                  "device."}},
                {},
                runImage,
                {"talkgatectl image check sim/images/talkgate_fw_1.1.0.txt",
                 "talkgatectl image check talkgate_fw_1.1.0.txt --json"},
                ""});
}

}  // namespace talkgate::cli
