#include "platform/system_info.h"

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace platform {
namespace {

// -1: ask the system; 0/1: forced by a test.
std::atomic<int> networkOverride{-1};

// The download watch asks every few milliseconds, and each question costs
// the system a round trip (a netlink dump on Linux, a call into the SENS
// service on Windows), so an answer this young is reused.
constexpr uint32_t kNetworkAnswerMaxAgeMs = 250;
std::atomic<uint32_t> networkCheckedAt{0};
std::atomic<int> networkAnswer{-1};  // -1: never asked

}  // namespace

bool isNetworkAlive() {
  const int forced = networkOverride.load();
  if (forced >= 0) return forced == 1;
  const uint32_t now = tickCount();
  const int known = networkAnswer.load();
  if (known >= 0 && now - networkCheckedAt.load() < kNetworkAnswerMaxAgeMs) return known == 1;
  const bool alive = detail::networkAliveNow();
  networkAnswer.store(alive ? 1 : 0);
  networkCheckedAt.store(now);
  return alive;
}

void setNetworkAliveOverride(std::optional<bool> value) {
  networkOverride.store(value.has_value() ? (*value ? 1 : 0) : -1);
}

}  // namespace platform
