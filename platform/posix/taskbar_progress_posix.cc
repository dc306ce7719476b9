// Progress on the dock entry: the LauncherEntry Update signal, sent at
// most once per interval.

#include "platform/taskbar_progress.h"

#include <dbus/dbus.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "common/mutex.h"
#include "platform/posix/desktop_bus_posix.h"

namespace platform {
namespace {

using desktop_bus::appendOption;
using desktop_bus::Clock;
using desktop_bus::DesktopBus;
using desktop_bus::milliseconds;
using desktop_bus::sessionBusAddress;

constexpr milliseconds kTaskbarInterval{100};
constexpr char kLauncherInterface[] = "com.canonical.Unity.LauncherEntry";

struct LauncherProps {
  double progress = 0;
  bool visible = false;
  bool urgent = false;
  // A hidden bar's value is nobody's business, so it does not count.
  bool sameAs(const LauncherProps& o) const {
    return visible == o.visible && urgent == o.urgent && (!visible || progress == o.progress);
  }
};

LauncherProps propsFor(TaskbarState state, double fraction) {
  LauncherProps p;
  p.progress = fraction;
  p.visible = state == TaskbarState::kNormal || state == TaskbarState::kPaused ||
              state == TaskbarState::kError;
  p.urgent = state == TaskbarState::kError;
  return p;
}

// Docks find the entry by the app URI in the signal, not by the path; a
// path of its own per app keeps two setups' signals apart. FNV-1a.
std::string launcherPath(const std::string& appUri) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : appUri) hash = (hash ^ c) * 16777619u;
  return "/com/canonical/unity/launcherentry/" + std::to_string(hash);
}

void emitLauncherUpdate(DBusConnection* conn, const std::string& objectPath,
                        const std::string& appUri, const LauncherProps& p) {
  DBusMessage* msg = dbus_message_new_signal(objectPath.c_str(), kLauncherInterface, "Update");
  DBusMessageIter args, props;
  const char* uri = appUri.c_str();
  const double progress = p.progress;
  const dbus_bool_t visible = p.visible, urgent = p.urgent;
  dbus_message_iter_init_append(msg, &args);
  dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &uri);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &props);
  appendOption(&props, "progress", DBUS_TYPE_DOUBLE, &progress);
  appendOption(&props, "progress-visible", DBUS_TYPE_BOOLEAN, &visible);
  appendOption(&props, "urgent", DBUS_TYPE_BOOLEAN, &urgent);
  dbus_message_iter_close_container(&args, &props);
  dbus_connection_send(conn, msg, nullptr);
  dbus_message_unref(msg);
}

}  // namespace

// The bar's state, shared by the owner's threads and the worker, which
// keeps it alive until the last change is sent.
struct TaskbarProgress::Entry : std::enable_shared_from_this<TaskbarProgress::Entry> {
  std::string address;
  std::string appUri;
  std::string objectPath;

  common::Mutex mu;
  double fraction GUARDED_BY(mu) = 0;
  TaskbarState state GUARDED_BY(mu) = TaskbarState::kNoProgress;
  bool flushQueued GUARDED_BY(mu) = false;

  // Worker only. The dock starts out showing no bar.
  LauncherProps sent;
  Clock::time_point sentAt;

  // Queues one send for any number of changes until it runs.
  void changed() LOCKS_EXCLUDED(mu) {
    {
      common::MutexLock lock(&mu);
      if (flushQueued) return;
      flushQueued = true;
    }
    DesktopBus::instance().post([self = shared_from_this()] {
      const auto wait =
          std::chrono::duration_cast<milliseconds>(self->sentAt + kTaskbarInterval - Clock::now());
      DesktopBus::instance().after(std::max(wait, milliseconds(0)), [self] { self->flush(); });
    });
  }

  void flush() LOCKS_EXCLUDED(mu) {
    LauncherProps now;
    {
      common::MutexLock lock(&mu);
      flushQueued = false;
      now = propsFor(state, fraction);
    }
    if (now.sameAs(sent)) return;
    DBusConnection* conn = DesktopBus::instance().connect(address);
    if (conn == nullptr) return;
    emitLauncherUpdate(conn, objectPath, appUri, now);
    sent = now;
    sentAt = Clock::now();
  }
};

TaskbarProgress::TaskbarProgress(const std::string& desktopId) : entry_(std::make_shared<Entry>()) {
  DesktopBus::instance();  // made first, so it outlives this object at exit
  entry_->address = sessionBusAddress();
  entry_->appUri = "application://" + desktopId + ".desktop";
  entry_->objectPath = launcherPath(entry_->appUri);
}

TaskbarProgress::~TaskbarProgress() { setState(TaskbarState::kNoProgress); }

void TaskbarProgress::setProgress(double fraction) {
  if (std::isnan(fraction)) fraction = 0;
  {
    common::MutexLock lock(&entry_->mu);
    entry_->fraction = std::clamp(fraction, 0.0, 1.0);
    if (entry_->state == TaskbarState::kNoProgress ||
        entry_->state == TaskbarState::kIndeterminate) {
      entry_->state = TaskbarState::kNormal;
    }
  }
  entry_->changed();
}

void TaskbarProgress::setState(TaskbarState state) {
  {
    common::MutexLock lock(&entry_->mu);
    entry_->state = state;
  }
  entry_->changed();
}
}  // namespace platform
