// HTTP through libcurl. One easy handle per request: a run asks a server a
// few times at most, so reusing connections would not pay for the state.

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "src/platform/http.h"

namespace brelix::platform {
namespace {

struct Received {
  std::string body;
  std::uint64_t max_bytes = 0;
  bool over = false;
};

std::size_t receive(char* data, std::size_t size, std::size_t count, void* context) {
  auto& received = *static_cast<Received*>(context);
  const std::size_t bytes = size * count;
  if (received.body.size() + bytes > received.max_bytes) {
    received.over = true;
    return 0;  // makes libcurl stop with CURLE_WRITE_ERROR
  }
  received.body.append(data, bytes);
  return bytes;
}

struct Sent {
  std::string_view rest;
};

std::size_t send(char* buffer, std::size_t size, std::size_t count, void* context) {
  auto& sent = *static_cast<Sent*>(context);
  const std::size_t bytes = std::min(size * count, sent.rest.size());
  std::copy_n(sent.rest.data(), bytes, buffer);
  sent.rest.remove_prefix(bytes);
  return bytes;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

Result<HttpResponse> http_request(const HttpRequest& request) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  const std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) return fail("the HTTP client could not be set up");
  CURL* const handle = easy.get();

  std::unique_ptr<curl_slist, ListDeleter> headers;
  auto add_header = [&](const std::string& line) {
    curl_slist* const longer = curl_slist_append(headers.get(), line.c_str());
    if (longer) {
      (void)headers.release();
      headers.reset(longer);
    }
  };
  for (const auto& [name, value] : request.headers) {
    std::string line = name;
    line += ": ";
    line += value;
    add_header(line);
  }
  if (!request.bearer_token.empty()) add_header("Authorization: Bearer " + request.bearer_token);
  // A PUT would otherwise wait for "100 Continue" before sending the body.
  add_header("Expect:");

  Received received{.body = {}, .max_bytes = request.max_body_bytes};
  Sent sent{request.body};
  char error[CURL_ERROR_SIZE] = {};
  const long deadline = static_cast<long>(std::max<std::int64_t>(request.deadline_ms, 1));
  curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, deadline);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, deadline);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, receive);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &received);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!request.user.empty()) {
    curl_easy_setopt(handle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(handle, CURLOPT_USERNAME, request.user.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, request.password.c_str());
  }
  if (request.method == HttpRequest::Method::put) {
    curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(handle, CURLOPT_READFUNCTION, send);
    curl_easy_setopt(handle, CURLOPT_READDATA, &sent);
    curl_easy_setopt(handle, CURLOPT_INFILESIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
  }
  const CURLcode code = curl_easy_perform(handle);
  if (received.over) {
    return fail("the answer is larger than " + std::to_string(request.max_body_bytes) + " bytes");
  }
  if (code != CURLE_OK) {
    return fail(error[0] != '\0' ? std::string(error) : std::string(curl_easy_strerror(code)));
  }
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  return HttpResponse{static_cast<int>(status), std::move(received.body)};
}

}  // namespace brelix::platform
