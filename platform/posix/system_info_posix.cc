#include <ifaddrs.h>
#include <net/if.h>
#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/system_info.h"

namespace platform {

namespace {

// A non-loopback interface is up and has an address.
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

namespace detail {
bool networkAliveNow() { return askInterfaces(); }
}  // namespace detail

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

}  // namespace platform
