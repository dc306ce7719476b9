#include "tinyproxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace net_test {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

// A port nobody listens on right now.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = Loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = Loopback(port);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

}  // namespace

Tinyproxy::Tinyproxy(const std::string& credentials) : port_(FreePort()) {
  std::string conf = "Port " + std::to_string(port_) +
                     "\nListen 127.0.0.1\nTimeout 30\nMaxClients 32\nAllow 127.0.0.1\n"
                     "LogLevel Info\nLogFile \"" + dir_.file("tinyproxy.log") + "\"\n";
  if (const size_t colon = credentials.find(':'); colon != std::string::npos) {
    conf += "BasicAuth " + credentials.substr(0, colon) + " " + credentials.substr(colon + 1) + "\n";
  }
  testing_support::writeFile(dir_.file("tinyproxy.conf"), conf);
  process_ = std::make_unique<testing_support::Subprocess>(
      std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c", dir_.file("tinyproxy.conf")});
  ready_ = testing_support::waitFor([this] { return Accepts(port_); }, std::chrono::seconds(5));
}

Tinyproxy::~Tinyproxy() {
  process_->signal(SIGTERM);
  process_->wait(std::chrono::seconds(5));
}

std::string Tinyproxy::url(const std::string& credentials) const {
  return "http://" + (credentials.empty() ? "" : credentials + "@") + "127.0.0.1:" +
         std::to_string(port_);
}

std::string Tinyproxy::log() const { return testing_support::readFile(dir_.file("tinyproxy.log")); }

}  // namespace net_test
