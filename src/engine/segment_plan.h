#ifndef WEBSETUP_ENGINE_SEGMENT_PLAN_H_
#define WEBSETUP_ENGINE_SEGMENT_PLAN_H_

// Which segments idle workers start from, and how far each one's request
// runs. A request covers a run of consecutive segments, so a whole file
// costs about one request per worker instead of one per 4 MiB segment; on
// a link with a long round trip that is most of the time saved.

#include <cstddef>
#include <vector>

namespace engine {

// What the driver knows of one segment when it plans.
struct SegmentView {
  bool waiting = false;  // status 0: nobody holds it
  bool untouched = false;  // nothing of it written yet
  // The busy worker whose run will reach this segment (it lies after that
  // worker's current segment, within its run), or -1.
  int reservedBy = -1;
};

// One run for an idle worker: segments first..last (indexes), all waiting.
// `victim` >= 0 names the busy worker whose reserved tail this run was cut
// from; that worker must stop before `first`.
struct PlannedRun {
  size_t first = 0;
  size_t last = 0;
  int victim = -1;
};

// Plans at most `idleWorkers` runs over `segments` (in file order):
//  1. The free runs: a waiting segment nobody has reserved, followed by
//     the untouched waiting unreserved segments after it (a segment with
//     bytes in it starts a run of its own, since a request can only
//     continue into a segment at its first byte).
//  2. While there are fewer runs than idle workers, the longest run of two
//     or more segments is halved (front half first).
//  3. Still short of runs: the longest reserved tail of two or more
//     segments is halved, the back half going to an idle worker. Shorter
//     tails stay with their worker: cutting a request costs the bytes it
//     has in flight, which only pays for a long tail.
// Pure function; any thread.
std::vector<PlannedRun> planRuns(const std::vector<SegmentView>& segments, size_t idleWorkers);

}  // namespace engine

#endif  // WEBSETUP_ENGINE_SEGMENT_PLAN_H_
