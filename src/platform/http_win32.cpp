// HTTP through WinHTTP. Its time-outs apply to each packet rather than to
// the whole exchange (an answer trickling in stays within them for as long
// as it likes), and Wine does not honour them while waiting for the
// headers; closing the handles from another thread does not interrupt a
// waiting call either. So the request runs on a worker thread that the
// caller abandons at the deadline: the thread finishes or dies with the
// process, holding only state it shares with nobody but the caller.

#include <windows.h>
// after windows.h
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "src/platform/http.h"

namespace brelix::platform {
namespace {

std::wstring widen(std::string_view text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(std::max(size, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

// The text WinHTTP's own module gives its error codes, and the code.
Failure winhttp_failure(DWORD error) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      GetModuleHandleW(L"winhttp.dll"), error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length > 0 && buffer != nullptr ? std::string(buffer, length) : "";
  LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) text = "HTTP request failed";
  return Failure::of(text + " (os error " + std::to_string(error) + ")");
}

std::unexpected<Failure> last_failure() {
  return std::unexpected(winhttp_failure(GetLastError()));
}

struct InternetDeleter {
  void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using Internet = std::unique_ptr<void, InternetDeleter>;

std::string base64(std::string_view bytes) {
  DWORD size = 0;
  const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
  const auto count = static_cast<DWORD>(bytes.size());
  constexpr DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  if (!CryptBinaryToStringA(data, count, flags, nullptr, &size)) return {};
  std::string out(size, '\0');
  if (!CryptBinaryToStringA(data, count, flags, out.data(), &size)) return {};
  out.resize(size);
  return out;
}

Result<HttpResponse> exchange(const HttpRequest& request) {
  const std::wstring url = widen(request.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    return last_failure();
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                            std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

  const Internet session(WinHttpOpen(L"brelix", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return last_failure();
  const Internet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return last_failure();
  const bool put = request.method == HttpRequest::Method::put;
  const Internet handle(WinHttpOpenRequest(
      connection.get(), put ? L"PUT" : L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
  if (!handle) return last_failure();

  std::string headers;
  for (const auto& [name, value] : request.headers) headers += name + ": " + value + "\r\n";
  if (!request.user.empty()) {
    headers += "Authorization: Basic " + base64(request.user + ":" + request.password) + "\r\n";
  } else if (!request.bearer_token.empty()) {
    headers += "Authorization: Bearer " + request.bearer_token + "\r\n";
  }
  const std::wstring wide_headers = widen(headers);
  if (!WinHttpSendRequest(
          handle.get(), wide_headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : wide_headers.c_str(),
          static_cast<DWORD>(wide_headers.size()),
          put ? const_cast<char*>(request.body.data()) : WINHTTP_NO_REQUEST_DATA,
          put ? static_cast<DWORD>(request.body.size()) : 0,
          put ? static_cast<DWORD>(request.body.size()) : 0, 0) ||
      !WinHttpReceiveResponse(handle.get(), nullptr)) {
    return last_failure();
  }
  DWORD status = 0;
  DWORD status_size = sizeof(status);
  if (!WinHttpQueryHeaders(handle.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return last_failure();
  }
  HttpResponse response{static_cast<int>(status), {}};
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(handle.get(), &available)) return last_failure();
    if (available == 0) break;
    if (response.body.size() + available > request.max_body_bytes) {
      return fail("the answer is larger than " + std::to_string(request.max_body_bytes) + " bytes");
    }
    const std::size_t start = response.body.size();
    response.body.resize(start + available);
    DWORD read = 0;
    if (!WinHttpReadData(handle.get(), response.body.data() + start, available, &read)) {
      return last_failure();
    }
    response.body.resize(start + read);
  }
  return response;
}

// What the worker and the caller share; whichever of them goes last frees it.
struct Shared {
  std::mutex mutex;
  std::condition_variable done_signal;
  bool done = false;
  std::optional<Result<HttpResponse>> outcome;
};

}  // namespace

Result<HttpResponse> http_request(const HttpRequest& request) {
  auto shared = std::make_shared<Shared>();
  std::thread worker([shared, request] {
    Result<HttpResponse> outcome = exchange(request);
    const std::lock_guard lock(shared->mutex);
    shared->outcome = std::move(outcome);
    shared->done = true;
    shared->done_signal.notify_one();
  });
  worker.detach();
  std::unique_lock lock(shared->mutex);
  const auto deadline = std::chrono::milliseconds(std::max<std::int64_t>(request.deadline_ms, 1));
  if (!shared->done_signal.wait_for(lock, deadline, [&] { return shared->done; })) {
    return fail("no whole answer within " + std::to_string(request.deadline_ms) + " ms");
  }
  return std::move(*shared->outcome);
}

}  // namespace brelix::platform
