#include "cli/upgrade_output.h"

#include <algorithm>

#include "cli/json.h"
#include "cli/text.h"

namespace talkgate::cli {

namespace {

constexpr char kClearLine[] = "\r\033[K";

}  // namespace

std::string UpgradeOutput::bar(int percent) {
  percent = std::clamp(percent, 0, 100);
  const int filled = percent * kBarWidth / 100;
  std::string text = "[";
  text.append(static_cast<std::size_t>(filled), '#');
  text.append(static_cast<std::size_t>(kBarWidth - filled), '.');
  text += "] ";
  const std::string number = std::to_string(percent);
  text.append(3 - number.size(), ' ');
  return text + number + "%";
}

void UpgradeOutput::progress(int percent, std::string_view message) {
  percent_ = std::clamp(percent, 0, 100);
  const std::size_t before = lines_.size();
  while (!message.empty()) {
    const std::size_t end = message.find("\r\n");
    addLine(message.substr(0, end));
    message = end == std::string_view::npos ? std::string_view() : message.substr(end + 2);
  }
  writeJsonStep(before);
  drawBar();
}

void UpgradeOutput::writeJsonStep(std::size_t firstNewLine) {
  if (style_ != ProgressStyle::JsonLines) return;
  out_ << "{\"progress\": " << percent_ << ", \"lines\": [";
  for (std::size_t i = firstNewLine; i < lines_.size(); ++i) {
    out_ << (i == firstNewLine ? "" : ", ") << jsonString(lines_[i]);
  }
  out_ << "]}\n";
  out_.flush();
}

void UpgradeOutput::log(std::string_view line) {
  // The bar belongs to the programming; lines before and after it stand alone.
  const bool barWasShown = barShown_;
  const std::size_t before = lines_.size();
  addLine(line);
  if (lines_.size() > before) writeJsonStep(before);
  if (barWasShown) drawBar();
}

void UpgradeOutput::finish() {
  if (style_ == ProgressStyle::Bar && barShown_) out_ << '\n';
  barShown_ = false;
  out_.flush();
}

void UpgradeOutput::addLine(std::string_view line) {
  if (line.empty()) return;
  lines_.emplace_back(line);
  if (style_ == ProgressStyle::Quiet || style_ == ProgressStyle::JsonLines) return;
  // A path in a line may hold any bytes; none may steer the terminal.
  if (style_ == ProgressStyle::Bar && barShown_) out_ << kClearLine;
  out_ << printablePath(line) << '\n';
  out_.flush();
  barShown_ = false;
}

void UpgradeOutput::drawBar() {
  if (style_ != ProgressStyle::Bar) return;
  out_ << kClearLine << bar(percent_);
  out_.flush();
  barShown_ = true;
}

}  // namespace talkgate::cli
