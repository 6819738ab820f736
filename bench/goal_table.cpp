#include "bench/goal_table.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace talkgate::bench {
namespace {

const char* markText(Mark mark) {
  switch (mark) {
    case Mark::Pass:
      return "PASS";
    case Mark::Fail:
      return "FAIL";
    case Mark::Info:
      return "";
    case Mark::Error:
      return "ERROR";
  }
  return "?";
}

Row goalRow(std::string measure, double value, double limit, int decimals, const std::string& unit,
            bool met, const char* relation) {
  const std::string suffix = unit.empty() ? "" : " " + unit;
  return Row{std::move(measure), fixed(value, decimals) + suffix,
             std::string(relation) + " " + fixed(limit, decimals) + suffix,
             met ? Mark::Pass : Mark::Fail};
}

}  // namespace

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", std::clamp(decimals, 0, 9), value);
  return text;
}

Row atMost(std::string measure, double value, double limit, int decimals, const std::string& unit) {
  return goalRow(std::move(measure), value, limit, decimals, unit, value <= limit, "<=");
}

Row atLeast(std::string measure, double value, double limit, int decimals,
            const std::string& unit) {
  return goalRow(std::move(measure), value, limit, decimals, unit, value >= limit, ">=");
}

Row info(std::string measure, std::string measured) {
  return Row{std::move(measure), std::move(measured), "-", Mark::Info};
}

Row error(std::string measure, std::string why, std::string goal) {
  return Row{std::move(measure), std::move(why), std::move(goal), Mark::Error};
}

void GoalTable::section(std::string title) {
  rows_.push_back(Row{std::move(title), "", "", Mark::Info, true});
}

bool GoalTable::allMet() const {
  return std::none_of(rows_.begin(), rows_.end(),
                      [](const Row& r) { return r.mark == Mark::Fail || r.mark == Mark::Error; });
}

int GoalTable::goals() const {
  return static_cast<int>(
      std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return r.mark != Mark::Info; }));
}

int GoalTable::met() const {
  return static_cast<int>(
      std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return r.mark == Mark::Pass; }));
}

std::string GoalTable::render() const {
  const std::array<std::string, 4> header = {"Measure", "Measured", "Goal", "Result"};
  std::array<std::size_t, 4> width{};
  for (std::size_t c = 0; c < header.size(); ++c) width[c] = header[c].size();
  for (const Row& r : rows_) {
    if (r.title) {
      width[0] = std::max(width[0], r.measure.size() + 4);
      continue;
    }
    width[0] = std::max(width[0], r.measure.size());
    width[1] = std::max(width[1], r.measured.size());
    width[2] = std::max(width[2], r.goal.size());
  }
  const auto line = [&](const std::array<std::string, 4>& cells) {
    std::string text = "|";
    for (std::size_t c = 0; c < cells.size(); ++c) {
      text +=
          " " + cells[c] + std::string(width[c] - std::min(width[c], cells[c].size()), ' ') + " |";
    }
    return text + "\n";
  };
  std::string rule = "|";
  for (std::size_t w : width) rule += std::string(w + 2, '-') + "|";
  rule += "\n";

  std::string text = line(header) + rule;
  for (const Row& r : rows_) {
    if (r.title) {
      text += line({"**" + r.measure + "**", "", "", ""});
    } else {
      text += line({r.measure, r.measured, r.goal, markText(r.mark)});
    }
  }
  return text;
}

}  // namespace talkgate::bench
