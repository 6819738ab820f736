#pragma once
// How talkgatectl upgrade shows its progress, as it happens: a redrawn bar with the log lines
// above it on a terminal, the log lines alone when the output is a file or pipe, one JSON
// object per line and step with --json. Every line is flushed at once, so a pipe (| tee log)
// or a log file shows how far an upgrade came even when it is stopped.

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace talkgate::cli {

enum class ProgressStyle {
  Bar,        // a terminal
  Lines,      // plain log lines
  JsonLines,  // {"progress": 70, "lines": ["Sending ..."]} per step
  Quiet,      // collect only
};

class UpgradeOutput {
 public:
  static constexpr int kBarWidth = 40;

  UpgradeOutput(std::ostream& out, ProgressStyle style) : out_(out), style_(style) {}
  UpgradeOutput(const UpgradeOutput&) = delete;
  UpgradeOutput& operator=(const UpgradeOutput&) = delete;

  // One progress report of the programming sequence: the percentage and a message that holds
  // zero or more log lines, each ended by "\r\n" (the last one may lack it).
  void progress(int percent, std::string_view message);
  // A log line of the tool's own (no line break); redraws the bar only while one is shown.
  void log(std::string_view line);
  // Ends the bar's line, if one is drawn.
  void finish();

  // Every log line so far, in order.
  const std::vector<std::string>& lines() const { return lines_; }
  int percent() const { return percent_; }

  // The bar as drawn: "[#####...]  45%".
  static std::string bar(int percent);

 private:
  void addLine(std::string_view line);
  void writeJsonStep(std::size_t firstNewLine);
  void drawBar();

  std::ostream& out_;
  ProgressStyle style_;
  std::vector<std::string> lines_;
  int percent_ = 0;
  bool barShown_ = false;
};

}  // namespace talkgate::cli
