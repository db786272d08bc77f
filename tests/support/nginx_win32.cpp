// The Windows build's tests run under Wine, which does not start the
// host's nginx: the shared cache's tests skip there and say so.

#include "tests/support/nginx_server.h"

namespace brelix::testing {

NginxServer::NginxServer(std::string folder) : folder_(std::move(folder)) {
  not_started_ = "the Windows build does not start nginx";
}

NginxServer::~NginxServer() = default;

}  // namespace brelix::testing
