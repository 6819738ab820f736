#include "bench/phase_split.h"

#include <algorithm>

namespace talkgate::bench {

const char* phaseName(Phase phase) {
  switch (phase) {
    case Phase::RamLoader:
      return "RAM loader";
    case Phase::Erase:
      return "erase";
    case Phase::Send:
      return "send";
    case Phase::Verify:
      return "verify";
    case Phase::Reset:
      return "reset";
  }
  return "?";
}

PhaseSplitter::PhaseSplitter(Counters counters) : counters_(std::move(counters)) {
  marks_[0] = counters_();
}

void PhaseSplitter::onProgress(int percent) {
  if (next_ < kPhaseStartPercent.size() && percent == kPhaseStartPercent[next_]) {
    marks_[next_ + 1] = counters_();
    ++next_;
    return;
  }
  // A boundary passed without its own report (the erase step after a mass erase) leaves
  // the split incomplete rather than folding one phase into another.
  if (next_ < kPhaseStartPercent.size() && percent > kPhaseStartPercent[next_]) {
    outOfOrder_ = true;
  }
}

void PhaseSplitter::finish() {
  marks_.back() = counters_();
}

bool PhaseSplitter::complete() const {
  return !outOfOrder_ && std::all_of(marks_.begin(), marks_.end(),
                                     [](const auto& mark) { return mark.has_value(); });
}

ReportCount PhaseSplitter::phase(Phase phase) const {
  const auto i = static_cast<std::size_t>(phase);
  if (outOfOrder_ || !marks_[i] || !marks_[i + 1]) return {};
  return {marks_[i + 1]->written - marks_[i]->written, marks_[i + 1]->read - marks_[i]->read};
}

ReportCount PhaseSplitter::total() const {
  if (!marks_.front() || !marks_.back()) return {};
  return {marks_.back()->written - marks_.front()->written,
          marks_.back()->read - marks_.front()->read};
}

}  // namespace talkgate::bench
