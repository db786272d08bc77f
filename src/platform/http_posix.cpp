// HTTP through libcurl. One easy handle per request: a run asks a server a
// few times at most, so reusing connections would not pay for the state.
//
// libcurl is loaded on the first request, not linked: with the libraries
// it brings (TLS, LDAP, Kerberos, SSH, HTTP/2...) it doubled the start-up
// time of every run, and most runs never ask a server anything.

#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <memory>

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

constexpr const char* curl_library = "libcurl.so.4";

// The functions used, from the library loaded once per process.
struct Curl {
  decltype(&curl_global_init) global_init = nullptr;
  decltype(&curl_easy_init) easy_init = nullptr;
  decltype(&curl_easy_setopt) setopt = nullptr;
  decltype(&curl_easy_perform) perform = nullptr;
  decltype(&curl_easy_getinfo) getinfo = nullptr;
  decltype(&curl_easy_cleanup) cleanup = nullptr;
  decltype(&curl_easy_strerror) strerror = nullptr;
  decltype(&curl_slist_append) slist_append = nullptr;
  decltype(&curl_slist_free_all) slist_free_all = nullptr;
};

template <typename Function>
bool find(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

// The library's functions, or why they cannot be had.
const Result<Curl>& curl() {
  static const Result<Curl> loaded = []() -> Result<Curl> {
    void* const library = dlopen(curl_library, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return fail(std::string(dlerror()));
    Curl api;
    if (!find(library, "curl_global_init", api.global_init) ||
        !find(library, "curl_easy_init", api.easy_init) ||
        !find(library, "curl_easy_setopt", api.setopt) ||
        !find(library, "curl_easy_perform", api.perform) ||
        !find(library, "curl_easy_getinfo", api.getinfo) ||
        !find(library, "curl_easy_cleanup", api.cleanup) ||
        !find(library, "curl_easy_strerror", api.strerror) ||
        !find(library, "curl_slist_append", api.slist_append) ||
        !find(library, "curl_slist_free_all", api.slist_free_all)) {
      return fail(std::string(curl_library) + " lacks a function brelix needs");
    }
    if (api.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      return fail(std::string(curl_library) + " could not be initialised");
    }
    return api;
  }();
  return loaded;
}

}  // namespace

Result<HttpResponse> http_request(const HttpRequest& request) {
  const Result<Curl>& loaded = curl();
  if (!loaded) return std::unexpected(loaded.error());
  const Curl& api = *loaded;
  const auto easy_deleter = [&api](CURL* easy) { api.cleanup(easy); };
  const std::unique_ptr<CURL, decltype(easy_deleter)> easy(api.easy_init(), easy_deleter);
  if (!easy) return fail("the HTTP client could not be set up");
  CURL* const handle = easy.get();

  const auto list_deleter = [&api](curl_slist* list) { api.slist_free_all(list); };
  std::unique_ptr<curl_slist, decltype(list_deleter)> headers(nullptr, list_deleter);
  auto add_header = [&](const std::string& line) {
    curl_slist* const longer = api.slist_append(headers.get(), line.c_str());
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
  api.setopt(handle, CURLOPT_URL, request.url.c_str());
  api.setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  api.setopt(handle, CURLOPT_NOSIGNAL, 1L);
  api.setopt(handle, CURLOPT_TIMEOUT_MS, deadline);
  api.setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, deadline);
  api.setopt(handle, CURLOPT_ERRORBUFFER, error);
  api.setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  api.setopt(handle, CURLOPT_WRITEFUNCTION, receive);
  api.setopt(handle, CURLOPT_WRITEDATA, &received);
  api.setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  api.setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!request.user.empty()) {
    api.setopt(handle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    api.setopt(handle, CURLOPT_USERNAME, request.user.c_str());
    api.setopt(handle, CURLOPT_PASSWORD, request.password.c_str());
  }
  if (request.method == HttpRequest::Method::put) {
    api.setopt(handle, CURLOPT_UPLOAD, 1L);
    api.setopt(handle, CURLOPT_READFUNCTION, send);
    api.setopt(handle, CURLOPT_READDATA, &sent);
    api.setopt(handle, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  }
  const CURLcode code = api.perform(handle);
  if (received.over) {
    return fail("the answer is larger than " + std::to_string(request.max_body_bytes) + " bytes");
  }
  if (code != CURLE_OK) {
    return fail(error[0] != '\0' ? std::string(error) : std::string(api.strerror(code)));
  }
  long status = 0;
  api.getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  return HttpResponse{static_cast<int>(status), std::move(received.body)};
}

}  // namespace brelix::platform
