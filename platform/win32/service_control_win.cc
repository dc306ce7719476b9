#include "platform/service_control.h"

#include <algorithm>
#include <chrono>

#include "platform/win32/win_util.h"

namespace platform {
namespace {

// The most a stop may take before it counts as not taken, as long as the
// systemctl stop the Linux build waits for.
constexpr auto kStopLimit = std::chrono::minutes(2);

// Service handles close with CloseServiceHandle, not CloseHandle.
class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE h) : h_(h) {}
  ~ServiceHandle() {
    if (h_ != nullptr) CloseServiceHandle(h_);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE get() const { return h_; }

 private:
  SC_HANDLE h_;
};

bool queryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS* status) {
  DWORD needed = 0;
  return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status),
                              sizeof(*status), &needed) != FALSE;
}

}  // namespace

ServiceStop stopService(const std::string& name) {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.get() == nullptr) return ServiceStop::kNotOpened;
  ServiceHandle service(
      OpenServiceW(manager.get(), win::widen(name).c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (service.get() == nullptr) {
    // Not installed here: nothing runs that could hold the product's files.
    return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? ServiceStop::kDone
                                                          : ServiceStop::kNotOpened;
  }
  SERVICE_STATUS_PROCESS status{};
  if (!queryStatus(service.get(), &status)) return ServiceStop::kNoStatus;
  if (status.dwCurrentState == SERVICE_STOPPED) return ServiceStop::kDone;
  if (status.dwCurrentState != SERVICE_STOP_PENDING) {
    SERVICE_STATUS ignored{};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored)) {
      // It stopped by itself between the query and the request.
      return GetLastError() == ERROR_SERVICE_NOT_ACTIVE ? ServiceStop::kDone
                                                        : ServiceStop::kRefused;
    }
  }
  // A service reports how long its next step may take; polling at a tenth
  // of that, within 0.1 to 2 s, follows it without spinning.
  const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
  for (;;) {
    if (!queryStatus(service.get(), &status)) return ServiceStop::kNoStatus;
    if (status.dwCurrentState == SERVICE_STOPPED) return ServiceStop::kDone;
    if (std::chrono::steady_clock::now() >= deadline) return ServiceStop::kRefused;
    Sleep(std::clamp<DWORD>(status.dwWaitHint / 10, 100, 2000));
  }
}

}  // namespace platform
