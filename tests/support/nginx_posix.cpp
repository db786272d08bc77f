// nginx started and stopped on POSIX.

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "tests/support/nginx_server.h"

extern char** environ;

namespace brelix::testing {
namespace {

constexpr const char* nginx_program = "/usr/sbin/nginx";
constexpr const char* echo_module = "/usr/lib/nginx/modules/ngx_http_echo_module.so";

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A port nobody listens on now; the kernel picks it.
int free_port() {
  const int socket_fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = loopback(0);
  socklen_t size = sizeof(address);
  int port = 0;
  if (bind(socket_fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      getsockname(socket_fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  close(socket_fd);
  return port;
}

bool answers(int port) {
  const int socket_fd = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in address = loopback(port);
  const bool connected =
      connect(socket_fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  close(socket_fd);
  return connected;
}

}  // namespace

NginxServer::NginxServer(std::string folder) : folder_(std::move(folder)) {
  if (!std::filesystem::exists(nginx_program)) {
    not_started_ = std::string(nginx_program) + " is not installed";
    return;
  }
  for (const char* inside : {"store/cache", "store/team", "store/private", "store/small"}) {
    std::filesystem::create_directories(folder_ + "/" + inside);
  }
  std::ofstream(folder_ + "/htpasswd") << "ci:{PLAIN}s3cret-pass\n";
  port_ = free_port();
  std::ofstream(folder_ + "/nginx.conf")
      << nginx_configuration(folder_, port_, std::filesystem::exists(echo_module));
  std::vector<std::string> args = {
      nginx_program, "-p", folder_, "-c", folder_ + "/nginx.conf", "-e", folder_ + "/error.log"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, nginx_program, nullptr, nullptr, argv.data(), environ) != 0) {
    not_started_ = "nginx could not be started";
    return;
  }
  process_ = pid;
  for (int tries = 0; tries < 500 && !answers(port_); ++tries) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      process_ = 0;
      std::ifstream log(folder_ + "/error.log");
      not_started_ = "nginx ended at start: " + std::string(std::istreambuf_iterator<char>(log),
                                                            std::istreambuf_iterator<char>());
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!answers(port_)) not_started_ = "nginx does not answer";
}

NginxServer::~NginxServer() {
  if (process_ == 0) return;
  kill(static_cast<pid_t>(process_), SIGTERM);
  waitpid(static_cast<pid_t>(process_), nullptr, 0);
}

}  // namespace brelix::testing
