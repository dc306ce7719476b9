// The desktop services against a private dbus-daemon of the test's own,
// with the file manager, the portal and the dock played by clients the
// test puts on that bus. Dialog programs and the folder opener are shell
// scripts in the test's folder, so no real window ever opens.

#include "platform/desktop.h"
#include "platform/open_address.h"

#include <dbus/dbus.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <stdexcept>
#include <thread>

#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using testing_support::readFile;
using testing_support::TempDir;

// A dbus-daemon with no service folders, so bus activation never starts
// anything real. Killed, by its own id, when the object goes.
class PrivateBus {
 public:
  explicit PrivateBus(const TempDir& tmp) {
    const std::string conf = tmp.file("bus.conf");
    testing_support::writeFile(
        conf, "<busconfig><type>session</type><listen>unix:dir=" + tmp.path() +
                  "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                  "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                  "<allow own=\"*\"/></policy></busconfig>");
    daemon_ = std::make_unique<testing_support::Subprocess>(std::vector<std::string>{
        "/usr/bin/dbus-daemon", "--config-file=" + conf, "--nofork", "--print-address"});
    testing_support::waitFor([&] { return daemon_->output().find('\n') != std::string::npos; }, 5s);
    address_ = daemon_->output().substr(0, daemon_->output().find('\n'));
    if (address_.empty()) throw std::runtime_error("dbus-daemon: " + daemon_->errors());
  }
  const std::string& address() const { return address_; }

 private:
  std::unique_ptr<testing_support::Subprocess> daemon_;
  std::string address_;
};

// A client of the private bus played by the test. Owns `name` (when not
// empty), hears the signals `match` selects and hands every method call
// and signal to `handler` on its own thread.
class BusPeer {
 public:
  using Handler = std::function<void(DBusConnection*, DBusMessage*)>;
  BusPeer(const std::string& address, const std::string& name, const std::string& match,
          Handler handler)
      : handler_(std::move(handler)) {
    DBusError err;
    dbus_error_init(&err);
    conn_ = dbus_connection_open_private(address.c_str(), &err);
    if (conn_ == nullptr || !dbus_bus_register(conn_, &err)) throw std::runtime_error(err.message);
    if (!name.empty() && dbus_bus_request_name(conn_, name.c_str(), DBUS_NAME_FLAG_DO_NOT_QUEUE,
                                               &err) != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
      throw std::runtime_error("cannot own " + name);
    }
    if (!match.empty()) dbus_bus_add_match(conn_, match.c_str(), &err);
    dbus_connection_add_filter(conn_, &BusPeer::filter, this, nullptr);
    thread_ = std::thread([this] {
      while (!stop_.load()) dbus_connection_read_write_dispatch(conn_, 20);
    });
  }
  ~BusPeer() {
    stop_.store(true);
    thread_.join();
    dbus_connection_close(conn_);
    dbus_connection_unref(conn_);
  }

 private:
  static DBusHandlerResult filter(DBusConnection* conn, DBusMessage* msg, void* self) {
    const int type = dbus_message_get_type(msg);
    if (type == DBUS_MESSAGE_TYPE_METHOD_CALL || type == DBUS_MESSAGE_TYPE_SIGNAL) {
      static_cast<BusPeer*>(self)->handler_(conn, msg);
    }
    return type == DBUS_MESSAGE_TYPE_METHOD_CALL ? DBUS_HANDLER_RESULT_HANDLED
                                                 : DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
  }
  Handler handler_;
  DBusConnection* conn_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// What peers saw, filled on their threads and read by the test.
template <typename T>
class Journal {
 public:
  void add(T item) {
    std::lock_guard<std::mutex> lock(mu_);
    items_.push_back(std::move(item));
  }
  std::vector<T> items() {
    std::lock_guard<std::mutex> lock(mu_);
    return items_;
  }
  // Waits up to 5 s until `done` holds for the items so far.
  bool waitUntil(const std::function<bool(const std::vector<T>&)>& done) {
    return testing_support::waitFor([&] { return done(items()); }, 5s);
  }

 private:
  std::mutex mu_;
  std::vector<T> items_;
};

// Calls `visit` with each key of the a{sv} at `array` and its value.
void forEachEntry(DBusMessageIter* array,
                  const std::function<void(const std::string&, DBusMessageIter*)>& visit) {
  DBusMessageIter dict, entry, value;
  for (dbus_message_iter_recurse(array, &dict);
       dbus_message_iter_get_arg_type(&dict) == DBUS_TYPE_DICT_ENTRY;
       dbus_message_iter_next(&dict)) {
    const char* key = nullptr;
    dbus_message_iter_recurse(&dict, &entry);
    dbus_message_iter_get_basic(&entry, &key);
    dbus_message_iter_next(&entry);
    dbus_message_iter_recurse(&entry, &value);
    visit(key, &value);
  }
}

template <typename T>
T basic(DBusMessageIter* it) {
  T value{};
  dbus_message_iter_get_basic(it, &value);
  return value;
}

void sendAndFree(DBusConnection* conn, DBusMessage* msg) {
  dbus_connection_send(conn, msg, nullptr);
  dbus_connection_flush(conn);
  dbus_message_unref(msg);
}

constexpr const char* kTouchedEnv[] = {"DBUS_SESSION_BUS_ADDRESS", "PATH", "WEBSETUP_OPEN_COMMAND",
                                       "XDG_CURRENT_DESKTOP"};

class DesktopTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kTouchedEnv) {
      if (const char* value = std::getenv(name)) saved_[name] = value;
      unsetenv(name);
    }
    mkdir(tmp_.file("bin").c_str(), 0755);
    setenv("PATH", tmp_.file("bin").c_str(), 1);  // no real dialog program is found
    script("opener", "printf '%s\\n' \"$@\" >> " + tmp_.file("opened"));
    setenv("WEBSETUP_OPEN_COMMAND", tmp_.file("bin/opener").c_str(), 1);
  }
  void TearDown() override {
    for (const char* name : kTouchedEnv) {
      if (saved_.count(name) != 0) setenv(name, saved_[name].c_str(), 1);
      if (saved_.count(name) == 0) unsetenv(name);
    }
  }

  void startBus() {
    bus_ = std::make_unique<PrivateBus>(tmp_);
    setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str(), 1);
  }
  void setBusAddress(const std::string& socketPath) {
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socketPath).c_str(), 1);
  }
  void script(const std::string& name, const std::string& body) {
    const std::string path = tmp_.file("bin/" + name);
    ASSERT_TRUE(testing_support::writeFile(path, "#!/bin/sh\n" + body + "\n"));
    chmod(path.c_str(), 0755);
  }
  // The lines the opener script got, once it has run, and forgets them.
  std::string waitForOpened() {
    testing_support::waitFor([&] { return !readFile(tmp_.file("opened")).empty(); }, 5s);
    const std::string lines = readFile(tmp_.file("opened"));
    unlink(tmp_.file("opened").c_str());
    return lines;
  }
  // pickFolder's answer, waited for at most 5 s.
  std::optional<std::string> pick(const std::string& title, const std::string& startDir,
                                  const std::function<void()>& meanwhile = {}) {
    auto answer = std::make_shared<std::promise<std::optional<std::string>>>();
    auto future = answer->get_future();
    pickFolder(title, startDir, [answer](std::optional<std::string> f) { answer->set_value(f); });
    if (meanwhile) meanwhile();
    if (future.wait_for(5s) != std::future_status::ready) return "(no answer)";
    return future.get();
  }

  TempDir tmp_;
  std::unique_ptr<PrivateBus> bus_;
  std::map<std::string, std::string> saved_;
};

// Catches file managers and portals handed (or returning) paths with
// blanks, '%', '#' or non-ASCII names that do not survive the trip.
TEST(FileUriTest, EncodesAndDecodesPaths) {
  const std::pair<const char*, const char*> both[] = {
      {"/tmp/a b", "file:///tmp/a%20b"},
      {"/tmp/100%/x#y?z", "file:///tmp/100%25/x%23y%3Fz"},
      {"/home/z\xC3\xA9/\xE4\xB8\x8B", "file:///home/z%C3%A9/%E4%B8%8B"},
      {"/a-b_c.d~e", "file:///a-b_c.d~e"},
  };
  for (const auto& [path, uri] : both) {
    EXPECT_EQ(fileUriFromPath(path), uri);
    EXPECT_EQ(pathFromFileUri(uri), std::optional<std::string>(path)) << uri;
  }
  EXPECT_EQ(pathFromFileUri("file://localhost/tmp/x"), "/tmp/x");
  EXPECT_EQ(pathFromFileUri("FILE:///tmp/%e4%b8%8b"), "/tmp/\xE4\xB8\x8B");
  EXPECT_EQ(pathFromFileUri("file:///tmp/x?query#frag"), "/tmp/x");
  for (const char* bad : {"http://host/x", "file://elsewhere/tmp/x", "file:///tmp/%zz",
                          "file:///tmp/%2", "file:///tmp/%00x", "file://", "/tmp/x"}) {
    EXPECT_EQ(pathFromFileUri(bad), std::nullopt) << bad;
  }
}

// Catches a ShowItems call with the wrong signature or an unencoded URI.
TEST_F(DesktopTest, FileManagerGetsEncodedUri) {
  startBus();
  Journal<std::vector<std::string>> calls;
  auto showItems = [&](DBusConnection* conn, DBusMessage* msg) {
    char** uris = nullptr;
    int count = 0;
    const char* startup = nullptr;
    if (!dbus_message_get_args(msg, nullptr, DBUS_TYPE_ARRAY, DBUS_TYPE_STRING, &uris, &count,
                               DBUS_TYPE_STRING, &startup, DBUS_TYPE_INVALID)) {
      return;
    }
    std::vector<std::string> call(uris, uris + count);
    call.push_back(dbus_message_get_member(msg) + std::string(":") + startup);
    dbus_free_string_array(uris);
    sendAndFree(conn, dbus_message_new_method_return(msg));
    calls.add(call);
  };
  BusPeer fileManager(bus_->address(), "org.freedesktop.FileManager1", "", showItems);
  showItemInFolder("/tmp/my setup/file 1.exe");
  ASSERT_TRUE(calls.waitUntil([](const auto& c) { return !c.empty(); }));
  EXPECT_EQ(calls.items()[0],
            (std::vector<std::string>{"file:///tmp/my%20setup/file%201.exe", "ShowItems:"}));
}

// Catches losing the request when nobody owns FileManager1 or no bus
// exists at all: the folder (not the file) must still open.
TEST_F(DesktopTest, OpensTheFolderWhenNoFileManagerAnswers) {
  startBus();
  showItemInFolder("/tmp/dir with space/setup.exe");
  EXPECT_EQ(waitForOpened(), "/tmp/dir with space\n");
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  showItemInFolder("/srv/x/");
  EXPECT_EQ(waitForOpened(), "/srv\n");
  setBusAddress(tmp_.file("no-such-bus"));
  showItemInFolder("/a/b");
  EXPECT_EQ(waitForOpened(), "/a\n");
}

// Only a web address reaches the opener, whole, as one argument: a file,
// a program, another scheme or an address with a space (which some
// openers would split into switches) never does.
TEST_F(DesktopTest, OnlyWebAddressesReachTheOpener) {
  EXPECT_TRUE(openWebAddress("https://example.test/get?a=1&b=%20x"));
  EXPECT_EQ(waitForOpened(), "https://example.test/get?a=1&b=%20x\n");
  for (const char* refused :
       {"/usr/bin/xcalc", "file:///etc/passwd", "javascript:alert(1)", "http:///etc",
        "https://example.test/a b", "https://example.test/\n--version", "HTTPX://a", "http:/"}) {
    EXPECT_FALSE(openWebAddress(refused)) << refused;
  }
  EXPECT_TRUE(openWebAddress("HTTP://Example.test"));
  EXPECT_EQ(waitForOpened(), "HTTP://Example.test\n");
}

// Catches an unbounded wait for a bus that takes the connection and never
// speaks: libdbus's own handshake and greeting have no limit or 25 s.
TEST_F(DesktopTest, HungBusCostsAboutASecond) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string path = tmp_.file("hung.sock");
  std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  setBusAddress(path);
  const auto start = std::chrono::steady_clock::now();
  showItemInFolder("/hung/file");
  // The caller never waits: a wait for the bus would cost its full second.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  EXPECT_EQ(waitForOpened(), "/hung\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  close(fd);
}

// ---- Taskbar progress -------------------------------------------------------

struct Update {
  std::string path, app;
  double progress = -1;
  bool visible = false, urgent = false;
};

class TaskbarTest : public DesktopTest {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    startBus();
    dock_ = std::make_unique<BusPeer>(
        bus_->address(), "", "type='signal',interface='com.canonical.Unity.LauncherEntry'",
        [this](DBusConnection*, DBusMessage* msg) {
          Update u;
          DBusMessageIter args;
          if (!dbus_message_is_signal(msg, "com.canonical.Unity.LauncherEntry", "Update") ||
              !dbus_message_iter_init(msg, &args)) {
            return;
          }
          u.path = dbus_message_get_path(msg);
          u.app = basic<const char*>(&args);
          dbus_message_iter_next(&args);
          forEachEntry(&args, [&](const std::string& key, DBusMessageIter* value) {
            if (key == "progress") u.progress = basic<double>(value);
            if (key == "progress-visible") u.visible = basic<dbus_bool_t>(value);
            if (key == "urgent") u.urgent = basic<dbus_bool_t>(value);
          });
          updates_.add(u);
        });
  }
  void TearDown() override {
    dock_.reset();
    DesktopTest::TearDown();
  }
  // Waits for the dock to be told to show this.
  bool waitForShown(bool visible, bool urgent, double progress = -1) {
    return updates_.waitUntil([&](const std::vector<Update>& all) {
      return !all.empty() && all.back().visible == visible && all.back().urgent == urgent &&
             (progress < 0 || all.back().progress == progress);
    });
  }

  std::unique_ptr<BusPeer> dock_;
  Journal<Update> updates_;
};

// Catches a bar the dock never sees, an error without attention, or a bar
// left on the dock after the window has gone.
TEST_F(TaskbarTest, ShowsProgressUrgentOnErrorAndHidesAtTheEnd) {
  {
    TaskbarProgress bar("websetup-test");
    bar.setProgress(0.42);
    ASSERT_TRUE(waitForShown(true, false, 0.42));
    EXPECT_EQ(updates_.items().back().app, "application://websetup-test.desktop");
    EXPECT_EQ(updates_.items().back().path.rfind("/com/canonical/unity/launcherentry/", 0), 0u);
    bar.setState(TaskbarState::kError);
    EXPECT_TRUE(waitForShown(true, true, 0.42));
    bar.setState(TaskbarState::kIndeterminate);  // no fraction to show
    EXPECT_TRUE(waitForShown(false, false));
    bar.setProgress(0.6);  // a fraction means progress again, as on Windows
    EXPECT_TRUE(waitForShown(true, false, 0.6));
  }
  EXPECT_TRUE(waitForShown(false, false));
}

// Catches one signal per call (a download reports every few milliseconds)
// and a burst whose last value is dropped.
TEST_F(TaskbarTest, CoalescesBurstsAndKeepsTheLastValue) {
  TaskbarProgress bar("websetup-burst");
  const auto start = std::chrono::steady_clock::now();
  for (int i = 1; i <= 60; ++i) {
    bar.setProgress(i / 60.0);
    std::this_thread::sleep_for(5ms);  // the pace of a download's reports
  }
  const auto spent = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(waitForShown(true, false, 1.0));
  EXPECT_LE(updates_.items().size(), static_cast<size_t>(spent / 100ms) + 2);
}

// Catches a crash or a hang when there is no session bus.
TEST_F(DesktopTest, TaskbarWithoutBusDoesNothing) {
  const auto start = std::chrono::steady_clock::now();
  {
    TaskbarProgress bar("websetup-nobus");
    bar.setProgress(0.5);
    bar.setState(TaskbarState::kError);
  }
  setBusAddress(tmp_.file("dead"));
  TaskbarProgress dead("websetup-dead");
  dead.setProgress(0.5);
  // Far below libdbus's own limits (25 s), with room for a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

// ---- Folder picker -----------------------------------------------------

// How the fake portal answers OpenFile, and what it was asked.
struct PortalScript {
  uint32_t response = 0;
  const char* uri = "file:///tmp/a%20b";
  bool respondBeforeReply = false;
  bool respond = true;
};
struct OpenFileCall {
  std::string title, token, currentFolder;
  bool directory = false;
};

DBusMessage* responseSignal(const std::string& handle, const char* destination,
                            const PortalScript& script) {
  DBusMessage* signal =
      dbus_message_new_signal(handle.c_str(), "org.freedesktop.portal.Request", "Response");
  dbus_message_set_destination(signal, destination);
  DBusMessageIter out, results, entry, variant, uris;
  const char* key = "uris";
  dbus_message_iter_init_append(signal, &out);
  dbus_message_iter_append_basic(&out, DBUS_TYPE_UINT32, &script.response);
  dbus_message_iter_open_container(&out, DBUS_TYPE_ARRAY, "{sv}", &results);
  dbus_message_iter_open_container(&results, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
  dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
  dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "as", &variant);
  dbus_message_iter_open_container(&variant, DBUS_TYPE_ARRAY, "s", &uris);
  dbus_message_iter_append_basic(&uris, DBUS_TYPE_STRING, &script.uri);
  dbus_message_iter_close_container(&variant, &uris);
  dbus_message_iter_close_container(&entry, &variant);
  dbus_message_iter_close_container(&results, &entry);
  dbus_message_iter_close_container(&out, &results);
  return signal;
}

// Records OpenFile's arguments, replies with the request handle and sends
// the scripted Response to the caller.
void servePortal(DBusConnection* conn, DBusMessage* msg, const PortalScript& script,
                 Journal<OpenFileCall>* calls) {
  DBusMessageIter args, bytes;
  if (!dbus_message_is_method_call(msg, "org.freedesktop.portal.FileChooser", "OpenFile") ||
      !dbus_message_iter_init(msg, &args) || !dbus_message_iter_next(&args)) {
    return;
  }
  OpenFileCall call;
  call.title = basic<const char*>(&args);
  dbus_message_iter_next(&args);
  forEachEntry(&args, [&](const std::string& key, DBusMessageIter* value) {
    if (key == "directory") call.directory = basic<dbus_bool_t>(value);
    if (key == "handle_token") call.token = basic<const char*>(value);
    if (key != "current_folder") return;
    const char* data = nullptr;
    int n = 0;
    dbus_message_iter_recurse(value, &bytes);
    dbus_message_iter_get_fixed_array(&bytes, &data, &n);
    call.currentFolder.assign(data, static_cast<size_t>(n));
  });
  std::string sender = dbus_message_get_sender(msg) + 1;
  for (char& c : sender) c = c == '.' ? '_' : c;
  const std::string handle = "/org/freedesktop/portal/desktop/request/" + sender + "/" + call.token;
  const char* handleText = handle.c_str();
  DBusMessage* reply = dbus_message_new_method_return(msg);
  dbus_message_append_args(reply, DBUS_TYPE_OBJECT_PATH, &handleText, DBUS_TYPE_INVALID);
  DBusMessage* signal = responseSignal(handle, dbus_message_get_sender(msg), script);
  // Recorded before the answer goes out: the caller may check the journal
  // as soon as its pick returns.
  calls->add(call);
  if (script.respondBeforeReply) sendAndFree(conn, dbus_message_ref(signal));
  sendAndFree(conn, reply);
  if (script.respond && !script.respondBeforeReply) sendAndFree(conn, dbus_message_ref(signal));
  dbus_message_unref(signal);
}

class PickFolderTest : public DesktopTest {
 protected:
  std::unique_ptr<BusPeer> portal(const PortalScript& script) {
    return std::make_unique<BusPeer>(bus_->address(), "org.freedesktop.portal.Desktop", "",
                                     [this, script](DBusConnection* conn, DBusMessage* msg) {
                                       servePortal(conn, msg, script, &calls_);
                                     });
  }
  Journal<OpenFileCall> calls_;
};

// Catches a wrong request (not a folder, no title or start folder), an
// undecoded URI, and a Response missed because it beat OpenFile's reply.
TEST_F(PickFolderTest, PortalChoiceComesBackAsAPath) {
  startBus();
  {
    auto peer = portal({});
    EXPECT_EQ(pick("Choose a folder", "/tmp/start"), "/tmp/a b");
    ASSERT_EQ(calls_.items().size(), 1u);
    EXPECT_TRUE(calls_.items()[0].directory);
    EXPECT_EQ(calls_.items()[0].title, "Choose a folder");
    EXPECT_EQ(calls_.items()[0].currentFolder, std::string("/tmp/start", 11));  // with its NUL
  }
  PortalScript early;
  early.respondBeforeReply = true;
  early.uri = "file:///srv/%E4%B8%8B";
  auto peer = portal(early);
  EXPECT_EQ(pick("Again", ""), "/srv/\xE4\xB8\x8B");
}

// Catches a dialog program popping up after the person cancelled the
// portal's dialog, and a caller left waiting when the portal goes away.
TEST_F(PickFolderTest, CancelAndVanishedPortalGiveNothing) {
  startBus();
  script("zenity", "echo /wrong; : > " + tmp_.file("zenity-ran"));
  {
    PortalScript cancel;
    cancel.response = 1;
    auto peer = portal(cancel);
    EXPECT_EQ(pick("Choose", ""), std::nullopt);
  }
  PortalScript silent;
  silent.respond = false;
  auto peer = portal(silent);
  EXPECT_EQ(pick("Choose", "",
                 [&] {
                   ASSERT_TRUE(calls_.waitUntil([](const auto& c) { return c.size() == 2; }));
                   peer.reset();  // leaves the bus with the dialog still "open"
                 }),
            std::nullopt);
  EXPECT_FALSE(testing_support::waitFor(
      [&] { return access(tmp_.file("zenity-ran").c_str(), F_OK) == 0; }, 200ms));
}

// Catches a missing fallback when the portal is absent or there is no bus,
// wrong dialog arguments, a trailing newline kept in the path, and a
// cancelled dialog read as a choice.
TEST_F(PickFolderTest, DialogProgramStandsInForThePortal) {
  script("zenity",
         "printf '%s\\n' \"$@\" > " + tmp_.file("zenity-args") + "; echo '/tmp/picked dir'");
  script("kdialog", "printf '%s\\n' \"$@\" > " + tmp_.file("kdialog-args") + "; exit 1");
  startBus();  // with nobody owning the portal's name
  EXPECT_EQ(pick("Pick", "/tmp/start"), "/tmp/picked dir");
  EXPECT_EQ(readFile(tmp_.file("zenity-args")),
            "--file-selection\n--directory\n--title=Pick\n--filename=/tmp/start/\n");
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  setenv("XDG_CURRENT_DESKTOP", "KDE", 1);  // KDE's own dialog first
  EXPECT_EQ(pick("Pick", "/tmp/start"), std::nullopt);
  EXPECT_EQ(readFile(tmp_.file("kdialog-args")),
            "--title\nPick\n--getexistingdirectory\n/tmp/start\n");
}

// Catches a caller left waiting when nothing can show a dialog.
TEST_F(PickFolderTest, NothingToShowAnswersAtOnce) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(pick("Pick", "/tmp"), std::nullopt);
  setBusAddress(tmp_.file("dead"));
  EXPECT_EQ(pick("Pick", "/tmp"), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

}  // namespace
}  // namespace platform
