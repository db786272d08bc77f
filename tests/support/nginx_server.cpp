#include "tests/support/nginx_server.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace brelix::testing {

std::string nginx_configuration(const std::string& folder, int port, bool echo_module) {
  const std::string dav = "dav_methods PUT; create_full_put_path on; ";
  const std::string auth =
      "auth_basic \"brelix cache\"; auth_basic_user_file " + folder + "/htpasswd; ";
  std::string text = "daemon off;\nmaster_process off;\nworker_processes 1;\n";
  text += "pid " + folder + "/nginx.pid;\nerror_log " + folder + "/error.log;\n";
  if (echo_module) {
    text += "load_module /usr/lib/nginx/modules/ngx_http_echo_module.so;\n";
  }
  text += "events { worker_connections 256; }\nhttp {\n";
  text += "  access_log " + folder + "/access.log;\n";
  for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
    text += std::string("  ") + kind + "_temp_path " + folder + "/" + kind + ";\n";
  }
  text += "  server {\n    listen 127.0.0.1:" + std::to_string(port) + ";\n";
  text += "    root " + folder + "/store;\n    client_max_body_size 64m;\n";
  text += "    location /cache/ { " + dav + "}\n";
  text += "    location /team/ { " + dav + "limit_except GET HEAD { " + auth + "} }\n";
  text += "    location /private/ { " + dav + auth + "}\n";
  text += "    location /small/ { " + dav + "client_max_body_size 1k; }\n";
  if (echo_module) {
    text += "    location /hung/ { echo_sleep 60; }\n";
    text += "    location /trickle/ { echo brelix; echo_flush; echo_sleep 60; echo rest; }\n";
  }
  text += "  }\n}\n";
  return text;
}

std::string NginxServer::url(std::string_view location) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(location);
}

std::string NginxServer::access_log() const {
  std::ifstream stream(folder_ + "/access.log", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

}  // namespace brelix::testing
