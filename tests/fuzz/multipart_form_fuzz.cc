// maker-services' log-upload route: the multipart form a setup's crash and
// close reports arrive in, parsed by the server and recorded part by part
// (file names become names in the upload folder). The input is the body
// of one POST over loopback to a server running that route.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <httplib.h>

#include "fuzz_support.h"
#include "routes.h"

namespace {

constexpr char kContentType[] = "multipart/form-data; boundary=fuzzboundary";

std::unique_ptr<maker_services::ServiceContext> g_context;
httplib::Server g_server;
std::unique_ptr<httplib::Client> g_client;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietLogs();
  // Without TCP_NODELAY each small request waits out a delayed ACK.
  g_server.set_tcp_nodelay(true);
  const int port = g_server.bind_to_any_port("127.0.0.1");
  if (port <= 0) abort();
  g_context = std::make_unique<maker_services::ServiceContext>(
      std::map<std::string, std::string>{{"--root", fuzz::scratchDir()}}, port);
  maker_services::installAllRoutes(g_server, *g_context);
  std::thread([] { g_server.listen_after_bind(); }).detach();
  while (!g_server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  g_client = std::make_unique<httplib::Client>("127.0.0.1", port);
  g_client->set_keep_alive(true);
  g_client->set_tcp_nodelay(true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  (void)g_client->Post("/v1/productLogUpload", body, kContentType);
  // Saved parts would fill the disk over a long run.
  std::error_code ec;
  std::filesystem::remove_all(fuzz::scratchDir() + "/log-uploads", ec);
  return 0;
}
