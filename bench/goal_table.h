#pragma once
// The benchmark's one table: each measure with its measured value, its goal and whether the
// goal is met. Rows without a goal carry figures that explain the others.

#include <string>
#include <vector>

namespace talkgate::bench {

enum class Mark { Pass, Fail, Info, Error };

struct Row {
  std::string measure;
  std::string measured;
  std::string goal;  // "-" for an information row
  Mark mark = Mark::Info;
  bool title = false;  // a group title spanning the row
};

// A row whose goal is met when value <= limit (or >= limit); the texts show both with
// `decimals` places and the unit after them.
Row atMost(std::string measure, double value, double limit, int decimals, const std::string& unit);
Row atLeast(std::string measure, double value, double limit, int decimals, const std::string& unit);
// A row with a figure and no goal.
Row info(std::string measure, std::string measured);
// A row for a measure that could not be taken; counts as a missed goal.
Row error(std::string measure, std::string why, std::string goal = "-");

// "12.35" with the given number of decimals.
std::string fixed(double value, int decimals);

class GoalTable {
 public:
  void add(Row row) { rows_.push_back(std::move(row)); }
  // A line of its own between groups of rows.
  void section(std::string title);
  const std::vector<Row>& rows() const { return rows_; }
  // True when no row failed or could not be measured.
  bool allMet() const;
  // Number of rows with a goal, and of those met.
  int goals() const;
  int met() const;
  // Plain-text table, columns padded to their widest cell.
  std::string render() const;

 private:
  std::vector<Row> rows_;
};

}  // namespace talkgate::bench
