#include <windows.h>

#include <atomic>
#include <bit>

#include "platform/system_info.h"

namespace platform {

namespace {

// sensapi.dll is on every Windows, but the 32-bit mingw toolchain has no
// import library for it, so the function is looked up once.
using IsNetworkAliveFn = BOOL(WINAPI*)(LPDWORD);
IsNetworkAliveFn isNetworkAliveFunction() {
  static const IsNetworkAliveFn fn = [] {
    HMODULE sens = LoadLibraryExW(L"sensapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (sens == nullptr) sens = LoadLibraryW(L"sensapi.dll");
    return sens == nullptr ? nullptr
                           : reinterpret_cast<IsNetworkAliveFn>(
                                 reinterpret_cast<void*>(GetProcAddress(sens, "IsNetworkAlive")));
  }();
  return fn;
}

bool askSens() {
  const IsNetworkAliveFn isNetworkAlive = isNetworkAliveFunction();
  if (isNetworkAlive == nullptr) return true;
  DWORD flags = 0;
  SetLastError(ERROR_SUCCESS);
  const BOOL alive = isNetworkAlive(&flags);
  // With the last error set SENS could not tell (its service stopped, for
  // one). A download then goes ahead: its own stall limit notices a real
  // outage, whereas "down" would end every download at once.
  if (GetLastError() != ERROR_SUCCESS) return true;
  return alive != FALSE;
}

}  // namespace

namespace detail {
bool networkAliveNow() { return askSens(); }
}  // namespace detail

int processorCount() {
  // A process given processors of several groups runs on all of them; its
  // affinity mask only covers the first group.
  USHORT groups[1] = {};
  USHORT groupCount = 1;
  const bool oneGroup = GetProcessGroupAffinity(GetCurrentProcess(), &groupCount, groups) ||
                        GetLastError() != ERROR_INSUFFICIENT_BUFFER;
  DWORD_PTR processMask = 0, systemMask = 0;
  if (oneGroup && GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask)) {
    const int n = std::popcount(static_cast<ULONG_PTR>(processMask));
    if (n > 0) return n;
  }
  const DWORD n = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  return n > 0 ? static_cast<int>(n) : 1;
}

bool is64BitOs() {
  if constexpr (sizeof(void*) == 8) {
    return true;
  } else {
    // A 32-bit program runs under WOW64 on every 64-bit Windows, x64 and
    // ARM64 alike.
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
  }
}

}  // namespace platform
