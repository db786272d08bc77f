#pragma once
// A real nginx for the shared cache's tests, started as a user process from
// a configuration written into a folder of the test's own: no daemon, no
// master process, every path inside the folder, listening on 127.0.0.1 and
// a free port. Its locations, under http://127.0.0.1:PORT:
//
//   /cache/    reads and WebDAV PUT open to all (files under store/cache/)
//   /team/     reads open, PUT behind Basic auth as ci:s3cret-pass
//   /private/  everything behind Basic auth
//   /small/    PUT of more than 1 KB answered 413
//   /hung/     no answer within a minute
//   /trickle/  a 200 and the first line at once, the rest a minute later
//
// Every request is logged, one line each, in access.log.

#include <string>
#include <string_view>

namespace brelix::testing {

class NginxServer {
 public:
  // Requires: folder exists and is the test's own.
  explicit NginxServer(std::string folder);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // Empty when it answers; else why not (nginx absent, no start).
  const std::string& not_started() const { return not_started_; }
  std::string url(std::string_view location) const;
  // The request lines logged so far.
  std::string access_log() const;
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  std::string not_started_;
  int port_ = 0;
  long process_ = 0;
};

// The configuration for a folder and port; the platform files start it.
std::string nginx_configuration(const std::string& folder, int port, bool echo_module);

}  // namespace brelix::testing
