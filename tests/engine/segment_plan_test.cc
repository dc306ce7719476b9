#include "engine/segment_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace engine {
namespace {

// Segments written as text, one letter each: w waiting and untouched, p
// waiting with bytes in it, x held or done, a digit: waiting, untouched and
// reserved by that busy worker.
std::vector<SegmentView> segments(const std::string& text) {
  std::vector<SegmentView> out;
  for (char c : text) {
    SegmentView v;
    v.waiting = c != 'x';
    v.untouched = c != 'p' && c != 'x';
    if (c >= '0' && c <= '9') v.reservedBy = c - '0';
    out.push_back(v);
  }
  return out;
}

// Runs as "first-last" (victim after a colon), in the planner's order.
std::string show(const std::vector<PlannedRun>& runs) {
  std::string out;
  for (const PlannedRun& r : runs) {
    if (!out.empty()) out += " ";
    out += std::to_string(r.first) + "-" + std::to_string(r.last);
    if (r.victim >= 0) out += ":" + std::to_string(r.victim);
  }
  return out;
}

// Catches plans that cost a request per segment, send two workers into
// one segment, or cut a worker's request where that cannot pay.
TEST(SegmentPlanTest, SplitsWaitingSegmentsIntoOneRunPerIdleWorker) {
  const struct {
    const char* what;
    std::string segments;
    size_t idle;
    std::string want;
  } kCases[] = {
      {"a fresh file is quartered", "wwwwwwwwwwwwwwww", 4, "0-3 4-7 8-11 12-15"},
      {"uneven halves keep the front larger", "wwwwwww", 2, "0-3 4-6"},
      {"fewer segments than workers", "www", 4, "0-0 1-1 2-2"},
      {"one worker takes the whole file", "wwwwww", 1, "0-5"},
      {"a segment with bytes starts a run of its own", "pwpwwx", 3, "0-1 2-3 4-4"},
      {"done segments end runs", "wwxww", 2, "0-1 3-4"},
      {"nothing waits", "xxx", 4, ""},
      {"a long reserved tail is halved, the back going to the idle worker", "x0000", 1, "3-4:0"},
      {"the longest tail is cut first", "x00x1111", 1, "6-7:1"},
      {"a single reserved segment stays with its worker", "x0x1", 2, ""},
      {"free segments go before any cut", "x000w", 1, "4-4"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(show(planRuns(segments(c.segments), c.idle)), c.want) << c.what;
  }
}

}  // namespace
}  // namespace engine
