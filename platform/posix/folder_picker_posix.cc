// The folder picker: the desktop portal's file chooser, else a dialog
// program (zenity, kdialog).

#include "platform/folder_picker.h"

#include <dbus/dbus.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "common/log.h"
#include "platform/file_uri.h"
#include "platform/paths.h"
#include "platform/posix/desktop_bus_posix.h"

namespace platform {
namespace {

using desktop_bus::appendOption;
using desktop_bus::DesktopBus;
using desktop_bus::findProgram;
using desktop_bus::isMethodReturn;
using desktop_bus::kPortalName;
using desktop_bus::milliseconds;
using desktop_bus::replyProblem;
using desktop_bus::sessionBusAddress;

// The portal answers OpenFile with its request handle at once; the choice
// itself comes later in the Response signal, which has no limit.
constexpr milliseconds kOpenFileLimit{30000};
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";

struct PickRequest {
  std::string address;
  std::string title;
  std::string startDir;
  std::function<void(std::optional<std::string>)> done;
};
// The portal takes folders as NUL-terminated bytes ("ay"), not as text.
void appendBytesOption(DBusMessageIter* dict, const char* key, const std::string& text) {
  DBusMessageIter entry, variant, bytes;
  const char* data = text.c_str();  // with its NUL
  dbus_message_iter_open_container(dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
  dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
  dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "ay", &variant);
  dbus_message_iter_open_container(&variant, DBUS_TYPE_ARRAY, "y", &bytes);
  dbus_message_iter_append_fixed_array(&bytes, DBUS_TYPE_BYTE, &data,
                                       static_cast<int>(text.size() + 1));
  dbus_message_iter_close_container(&variant, &bytes);
  dbus_message_iter_close_container(&entry, &variant);
  dbus_message_iter_close_container(dict, &entry);
}

DBusMessage* openFileCall(const PickRequest& req, const std::string& token) {
  DBusMessage* msg = dbus_message_new_method_call(kPortalName, kPortalPath,
                                                  "org.freedesktop.portal.FileChooser", "OpenFile");
  DBusMessageIter args, options;
  const char* parent = "";
  const char* title = req.title.c_str();
  const char* tokenText = token.c_str();
  const dbus_bool_t yes = TRUE;
  dbus_message_iter_init_append(msg, &args);
  dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &parent);
  dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &title);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &options);
  appendOption(&options, "handle_token", DBUS_TYPE_STRING, &tokenText);
  appendOption(&options, "directory", DBUS_TYPE_BOOLEAN, &yes);
  appendOption(&options, "modal", DBUS_TYPE_BOOLEAN, &yes);
  if (!req.startDir.empty()) appendBytesOption(&options, "current_folder", req.startDir);
  dbus_message_iter_close_container(&args, &options);
  return msg;
}

// Where the portal puts the request object for `token`: the caller's
// unique name without ':' and with '.' as '_'. Known before the call, so
// a Response sent before OpenFile's own answer is not missed.
std::string requestPath(const char* uniqueName, const std::string& token) {
  std::string sender = uniqueName != nullptr ? uniqueName : "";
  if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
  std::replace(sender.begin(), sender.end(), '.', '_');
  return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

// The first entry of "uris" in the portal's a{sv} results.
std::optional<std::string> firstUri(DBusMessageIter* results) {
  DBusMessageIter dict;
  dbus_message_iter_recurse(results, &dict);
  for (; dbus_message_iter_get_arg_type(&dict) == DBUS_TYPE_DICT_ENTRY;
       dbus_message_iter_next(&dict)) {
    DBusMessageIter entry, variant, uris;
    dbus_message_iter_recurse(&dict, &entry);
    const char* key = nullptr;
    if (dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_STRING) continue;
    dbus_message_iter_get_basic(&entry, &key);
    if (std::strcmp(key, "uris") != 0 || !dbus_message_iter_next(&entry)) continue;
    dbus_message_iter_recurse(&entry, &variant);
    if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_ARRAY) return std::nullopt;
    dbus_message_iter_recurse(&variant, &uris);
    if (dbus_message_iter_get_arg_type(&uris) != DBUS_TYPE_STRING) return std::nullopt;
    const char* uri = nullptr;
    dbus_message_iter_get_basic(&uris, &uri);
    return std::string(uri);
  }
  return std::nullopt;
}

// The folder a portal Response carries: response 0 is a choice, 1 the
// person's cancel, 2 any other end.
std::optional<std::string> folderFromResponse(DBusMessage* signal) {
  DBusMessageIter args;
  if (!dbus_message_iter_init(signal, &args) ||
      dbus_message_iter_get_arg_type(&args) != DBUS_TYPE_UINT32) {
    return std::nullopt;
  }
  dbus_uint32_t response = 2;
  dbus_message_iter_get_basic(&args, &response);
  if (response != 0) {
    if (response != 1)
      LOG(INFO) << " Folder picker: the portal ended the dialog (" << response << ")";
    return std::nullopt;
  }
  if (!dbus_message_iter_next(&args) || dbus_message_iter_get_arg_type(&args) != DBUS_TYPE_ARRAY) {
    return std::nullopt;
  }
  const std::optional<std::string> uri = firstUri(&args);
  if (!uri) return std::nullopt;
  std::optional<std::string> path = pathFromFileUri(*uri);
  if (!path) LOG(INFO) << " Folder picker: the portal gave a URI that is no local path: " << *uri;
  return path;
}

void pickWithDialogProgram(PickRequest req) {
  std::vector<std::string> order = {"zenity", "kdialog"};
  const std::string session = getEnv("XDG_CURRENT_DESKTOP").value_or("");
  if (session.find("KDE") != std::string::npos) std::swap(order[0], order[1]);
  std::string program, chosen;
  for (const std::string& name : order) {
    program = findProgram(name);
    if (!program.empty()) {
      chosen = name;
      break;
    }
  }
  if (program.empty()) {
    LOG(INFO) << " Folder picker: no desktop portal, zenity or kdialog; only the path box remains";
    req.done(std::nullopt);
    return;
  }
  std::vector<std::string> argv;
  if (chosen == "zenity") {
    argv = {program, "--file-selection", "--directory", "--title=" + req.title};
    // A trailing '/' makes zenity open the folder rather than select it.
    if (!req.startDir.empty()) argv.push_back("--filename=" + req.startDir + "/");
  } else {
    argv = {program, "--title", req.title, "--getexistingdirectory",
            req.startDir.empty() ? homeDir() : req.startDir};
  }
  auto done = std::move(req.done);
  DesktopBus::instance().runDialog(std::move(argv), [done](bool ran, int code, std::string out) {
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    if (!ran || code != 0 || out.empty()) {
      done(std::nullopt);  // exit code 1 is the person's cancel
      return;
    }
    done(std::move(out));
  });
}

void pickWithPortal(PickRequest req) {
  static uint64_t counter = 0;  // worker only
  DesktopBus& bus = DesktopBus::instance();
  DBusConnection* conn = bus.connect(req.address);
  if (conn == nullptr) {
    pickWithDialogProgram(std::move(req));
    return;
  }
  const std::string token = "websetup" + std::to_string(++counter);
  const std::string expected = requestPath(dbus_bus_get_unique_name(conn), token);
  DBusMessage* msg = openFileCall(req, token);
  auto shared = std::make_shared<PickRequest>(std::move(req));
  bus.awaitResponse(expected, [shared](DBusMessage* signal) {
    shared->done(signal != nullptr ? folderFromResponse(signal) : std::nullopt);
  });
  bus.call(conn, msg, kOpenFileLimit, [&bus, shared, expected](DBusMessage* reply) {
    const char* handle = nullptr;
    if (isMethodReturn(reply) &&
        dbus_message_get_args(reply, nullptr, DBUS_TYPE_OBJECT_PATH, &handle, DBUS_TYPE_INVALID)) {
      bus.moveWaiter(expected, handle);  // a portal older than handle_token
      return;
    }
    if (!bus.dropWaiter(expected)) return;  // already answered
    LOG(INFO) << " Folder picker: the desktop portal did not serve us (" << replyProblem(reply)
              << "); trying a dialog program";
    pickWithDialogProgram(std::move(*shared));
  });
}

}  // namespace

void pickFolder(const std::string& title, const std::string& startDir,
                std::function<void(std::optional<std::string> folder)> done) {
  PickRequest req{sessionBusAddress(), title, startDir, std::move(done)};
  DesktopBus::instance().post([req = std::move(req)]() mutable { pickWithPortal(std::move(req)); });
}

}  // namespace platform
