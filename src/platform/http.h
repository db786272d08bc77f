#pragma once
// One HTTP request and its answer, through the system's client library
// (libcurl on POSIX, WinHTTP on Windows). Only what a cache on an HTTP
// server needs: GET and PUT of one body, a few headers, credentials, one
// deadline for the whole exchange and a bound on the answer's size.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "src/failure.h"

namespace brelix::platform {

struct HttpRequest {
  enum class Method { get, put };
  Method method = Method::get;
  // http:// or https://, without user-info: credentials go in the fields
  // below so that no library message can repeat them with the URL.
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  // Basic authentication when user is not empty.
  std::string user;
  std::string password;
  // "Authorization: Bearer <token>" when not empty.
  std::string bearer_token;
  // Sent with PUT.
  std::string body;
  // Connecting, sending and receiving together end by then; a longer
  // exchange is abandoned and fails.
  std::int64_t deadline_ms = 5000;
  // An answer body longer than this fails rather than being held.
  std::uint64_t max_body_bytes = 256ULL * 1000 * 1000;
};

struct HttpResponse {
  int status = 0;
  std::string body;
};

// Sends the request and waits for the whole answer. Any status is an
// answer; a failure is one of the transport (no connection, a TLS failure,
// the deadline passed, an answer cut short or over the bound) with the
// client library's text. HTTPS is verified against the system's
// certificates.
Result<HttpResponse> http_request(const HttpRequest& request);

}  // namespace brelix::platform
