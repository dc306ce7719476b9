#include "engine/segment_plan.h"

#include <algorithm>

namespace engine {
namespace {

size_t length(const PlannedRun& r) { return r.last - r.first + 1; }

std::vector<PlannedRun> freeRuns(const std::vector<SegmentView>& s) {
  std::vector<PlannedRun> runs;
  auto open = [&s](size_t i) { return s[i].waiting && s[i].reservedBy < 0; };
  for (size_t i = 0; i < s.size();) {
    if (!open(i)) {
      ++i;
      continue;
    }
    size_t last = i;
    while (last + 1 < s.size() && open(last + 1) && s[last + 1].untouched) ++last;
    runs.push_back({i, last, -1});
    i = last + 1;
  }
  return runs;
}

// The untouched waiting segments each busy worker has reserved, as runs
// whose victim is that worker.
std::vector<PlannedRun> reservedTails(const std::vector<SegmentView>& s) {
  std::vector<PlannedRun> tails;
  for (size_t i = 0; i < s.size();) {
    const int holder = s[i].reservedBy;
    if (holder < 0 || !s[i].waiting || !s[i].untouched) {
      ++i;
      continue;
    }
    size_t last = i;
    while (last + 1 < s.size() && s[last + 1].reservedBy == holder && s[last + 1].waiting &&
           s[last + 1].untouched) {
      ++last;
    }
    tails.push_back({i, last, holder});
    i = last + 1;
  }
  return tails;
}

// The longest run of at least two segments (the first of equals), or
// runs.end().
std::vector<PlannedRun>::iterator longestSplittable(std::vector<PlannedRun>* runs) {
  auto best = runs->end();
  for (auto it = runs->begin(); it != runs->end(); ++it) {
    if (length(*it) >= 2 && (best == runs->end() || length(*it) > length(*best))) best = it;
  }
  return best;
}

}  // namespace

std::vector<PlannedRun> planRuns(const std::vector<SegmentView>& segments, size_t idleWorkers) {
  std::vector<PlannedRun> runs = freeRuns(segments);
  while (runs.size() < idleWorkers) {
    auto it = longestSplittable(&runs);
    if (it == runs.end()) break;
    PlannedRun back = *it;
    back.first = it->first + (length(*it) - length(*it) / 2);
    it->last = back.first - 1;
    runs.insert(it + 1, back);
  }
  std::vector<PlannedRun> tails = reservedTails(segments);
  while (runs.size() < idleWorkers) {
    auto it = longestSplittable(&tails);
    if (it == tails.end()) break;
    PlannedRun back = *it;
    back.first = it->first + (length(*it) - length(*it) / 2);
    it->last = back.first - 1;
    // What the victim keeps stays in `tails`, so a further idle worker may
    // halve it again.
    runs.push_back(back);
  }
  if (runs.size() > idleWorkers) runs.resize(idleWorkers);
  return runs;
}

}  // namespace engine
