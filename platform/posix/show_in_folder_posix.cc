// "Show in folder": the file manager's ShowItems, else the folder opened
// with xdg-open.

#include "platform/show_in_folder.h"

#include <dbus/dbus.h>
#include <unistd.h>

#include "common/log.h"
#include "platform/file_uri.h"
#include "platform/paths.h"
#include "platform/posix/desktop_bus_posix.h"
#include "platform/process.h"

namespace platform {
namespace {

using desktop_bus::DesktopBus;
using desktop_bus::findProgram;
using desktop_bus::isMethodReturn;
using desktop_bus::milliseconds;
using desktop_bus::replyProblem;
using desktop_bus::sessionBusAddress;

// A file manager started by bus activation needs a few seconds to answer.
constexpr milliseconds kShowItemsLimit{5000};
constexpr char kFileManagerName[] = "org.freedesktop.FileManager1";
constexpr char kFileManagerPath[] = "/org/freedesktop/FileManager1";

std::string absolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[4096];
  if (getcwd(cwd, sizeof(cwd)) == nullptr) return path;
  return std::string(cwd) + "/" + path;
}

std::string parentFolder(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void openContainingFolder(const std::string& path) {
  const std::string folder = parentFolder(path);
  const std::string opener = getEnv("WEBSETUP_OPEN_COMMAND").value_or("");
  const std::string program = findProgram(opener.empty() ? "xdg-open" : opener);
  if (program.empty()) {
    LOG(INFO) << " Show in folder: no program opens folders ("
              << (opener.empty() ? "xdg-open" : opener) << "); " << folder << " stays closed";
    return;
  }
  SpawnOptions options;
  options.argv = {program, folder};
  // The file manager belongs to the person, not to a setup running as root.
  options.detach = true;
  options.runAsUid = invokingUserId();
  int pid = 0, error = 0;
  if (spawnProcess(options, &pid, &error) != PlatformResult::kOk) {
    LOG(INFO) << " Show in folder: cannot start " << program << " (" << error << ")";
  }
}

void showWithFileManager(const std::string& address, const std::string& path) {
  DesktopBus& bus = DesktopBus::instance();
  DBusConnection* conn = bus.connect(address);
  if (conn == nullptr) {
    openContainingFolder(path);
    return;
  }
  DBusMessage* msg = dbus_message_new_method_call(kFileManagerName, kFileManagerPath,
                                                  kFileManagerName, "ShowItems");
  const std::string uri = fileUriFromPath(path);
  const char* uriText = uri.c_str();
  const char* startupId = "";
  DBusMessageIter args, uris;
  dbus_message_iter_init_append(msg, &args);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "s", &uris);
  dbus_message_iter_append_basic(&uris, DBUS_TYPE_STRING, &uriText);
  dbus_message_iter_close_container(&args, &uris);
  dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &startupId);
  bus.call(conn, msg, kShowItemsLimit, [path](DBusMessage* reply) {
    if (isMethodReturn(reply)) return;
    LOG(INFO) << " Show in folder: no file manager answered (" << replyProblem(reply)
              << "); opening the folder";
    openContainingFolder(path);
  });
}

}  // namespace

void showItemInFolder(const std::string& path) {
  const std::string address = sessionBusAddress();
  const std::string full = absolutePath(path);
  DesktopBus::instance().post([address, full] { showWithFileManager(address, full); });
}
}  // namespace platform
