#include <ifaddrs.h>
#include <net/if.h>
#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/clock.h"
#include "platform/system_info.h"

namespace platform {

namespace {

// -1: ask the system; 0/1: forced by a test.
std::atomic<int> networkOverride{-1};

// The download watch asks every millisecond, and an interface list costs a
// netlink round trip; like the Windows service, answer from a state at most
// this old.
constexpr uint32_t kNetworkAnswerMaxAgeMs = 250;
std::atomic<uint32_t> networkCheckedAt{0};
std::atomic<int> networkAnswer{-1};  // -1: never asked

bool askInterfaces() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool alive = false;
  for (ifaddrs* a = list; a != nullptr && !alive; a = a->ifa_next) {
    if (a->ifa_addr == nullptr) continue;
    const int family = a->ifa_addr->sa_family;
    alive = (family == AF_INET || family == AF_INET6) && (a->ifa_flags & IFF_UP) &&
            !(a->ifa_flags & IFF_LOOPBACK);
  }
  freeifaddrs(list);
  return alive;
}

}  // namespace

int processorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

bool is64BitOs() {
  utsname u{};
  if (uname(&u) != 0) return sizeof(void*) == 8;
  const char* m = u.machine;
  return std::strstr(m, "64") != nullptr || std::strcmp(m, "s390x") == 0;
}

bool isNetworkAlive() {
  const int forced = networkOverride.load();
  if (forced >= 0) return forced == 1;
  const uint32_t now = tickCount();
  const int known = networkAnswer.load();
  if (known >= 0 && now - networkCheckedAt.load() < kNetworkAnswerMaxAgeMs) return known == 1;
  const bool alive = askInterfaces();
  networkAnswer.store(alive ? 1 : 0);
  networkCheckedAt.store(now);
  return alive;
}

void setNetworkAliveOverride(std::optional<bool> value) {
  networkOverride.store(value.has_value() ? (*value ? 1 : 0) : -1);
}

}  // namespace platform
