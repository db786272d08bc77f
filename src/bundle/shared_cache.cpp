#include "src/bundle/shared_cache.h"

#include <array>
#include <charconv>
#include <utility>

#include "src/bundle/minify_cache.h"

namespace brelix {
namespace {

// An answer longer than this is no entry of a bundle; it is refused
// before it is held in memory.
constexpr std::uint64_t max_entry_bytes = 256ULL * 1000 * 1000;

struct Settings {
  SharedCacheUrl url;
  std::string token;
  bool read_only = false;
  std::int64_t timeout_ms = default_shared_cache_timeout_ms;
};

// One per process, as the builds of a run share it.
struct SharedState {
  bool read = false;
  std::optional<Settings> settings;
  std::array<std::uint64_t, 5> counts{};
};

SharedState& state() {
  static SharedState current;
  return current;
}

std::optional<std::string> variable(platform::Env& env, std::string_view name) {
  platform::EnvValue value = env.environment_variable(name);
  if (value.state != platform::EnvValue::State::present || value.value.empty()) return std::nullopt;
  return std::move(value.value);
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// User-info is percent-encoded in a URL; the client sends it decoded.
std::string percent_decoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex_digit(text[i + 1]) >= 0 &&
        hex_digit(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

bool is_loopback(std::string_view host) {
  return host == "localhost" || host.starts_with("127.") || host == "[::1]";
}

std::optional<std::int64_t> positive_number(std::string_view text) {
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number <= 0) return std::nullopt;
  return number;
}

const std::optional<Settings>& settings(platform::Env& env) {
  SharedState& current = state();
  if (current.read) return current.settings;
  current.read = true;
  const std::optional<std::string> url_text = variable(env, "BRELIX_CACHE_URL");
  if (!url_text) return current.settings;
  std::optional<SharedCacheUrl> url = parse_shared_cache_url(*url_text);
  if (!url) {
    (void)env.write(platform::Stream::error, shared_cache_url_warning);
    return current.settings;
  }
  Settings chosen{.url = std::move(*url),
                  .token = variable(env, "BRELIX_CACHE_TOKEN").value_or(""),
                  .read_only = variable(env, "BRELIX_CACHE_READONLY") == "1"};
  if (const std::optional<std::string> timeout = variable(env, "BRELIX_CACHE_TIMEOUT")) {
    if (const std::optional<std::int64_t> ms = positive_number(*timeout)) {
      chosen.timeout_ms = *ms;
    } else {
      (void)env.write(platform::Stream::error, shared_cache_timeout_warning);
    }
  }
  if (!chosen.token.empty() && !chosen.url.secure && !is_loopback(chosen.url.host)) {
    (void)env.write(platform::Stream::error, std::string(shared_cache_token_warning_start) +
                                                 chosen.url.host +
                                                 std::string(shared_cache_token_warning_end));
  }
  current.settings = std::move(chosen);
  return current.settings;
}

// Said once: the server is then not asked again in this run.
void give_up(platform::Env& env, std::string_view why) {
  SharedState& current = state();
  std::string line(shared_cache_warning_start);
  line += current.settings->url.shown;
  line += shared_cache_warning_middle;
  line += why;
  line += '\n';
  (void)env.write(platform::Stream::error, line);
  current.settings.reset();
  count_cache_event(CacheEvent::error);
}

platform::HttpRequest request_for(const Settings& chosen, std::string_view key) {
  platform::HttpRequest request;
  request.url = shared_entry_url(chosen.url.shown, key);
  request.user = chosen.url.user;
  request.password = chosen.url.password;
  request.bearer_token = chosen.token;
  request.deadline_ms = chosen.timeout_ms;
  request.max_body_bytes = max_entry_bytes;
  return request;
}

}  // namespace

std::optional<SharedCacheUrl> parse_shared_cache_url(std::string_view text) {
  SharedCacheUrl url;
  std::string_view scheme;
  for (const std::string_view known : {"http://", "https://"}) {
    if (text.size() >= known.size() && std::equal(known.begin(), known.end(), text.begin(),
                                                  [](char a, char b) { return a == (b | 0x20); })) {
      scheme = known;
    }
  }
  if (scheme.empty()) return std::nullopt;
  url.secure = scheme.size() == 8;
  std::string_view rest = text.substr(scheme.size());
  const std::size_t authority_end = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authority_end);
  const std::string_view path =
      authority_end == std::string_view::npos ? "" : rest.substr(authority_end);
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view info = authority.substr(0, at);
    const std::size_t colon = info.find(':');
    url.user = percent_decoded(info.substr(0, colon));
    if (colon != std::string_view::npos) url.password = percent_decoded(info.substr(colon + 1));
    authority.remove_prefix(at + 1);
  }
  // The host ends at the port's colon, except inside an IPv6 literal.
  const std::size_t bracket = authority.rfind(']');
  const std::size_t colon = authority.rfind(':');
  url.host = std::string(colon != std::string_view::npos &&
                                 (bracket == std::string_view::npos || colon > bracket)
                             ? authority.substr(0, colon)
                             : authority);
  if (url.host.empty()) return std::nullopt;
  url.shown = std::string(scheme) + std::string(authority) + std::string(path);
  return url;
}

std::string shared_entry_url(std::string_view url, std::string_view key) {
  constexpr std::string_view marker = "{key}";
  std::string out;
  if (url.find(marker) != std::string_view::npos) {
    for (std::size_t at = url.find(marker); at != std::string_view::npos; at = url.find(marker)) {
      out += url.substr(0, at);
      out += key;
      url.remove_prefix(at + marker.size());
    }
    out += url;
    return out;
  }
  while (url.ends_with('/')) url.remove_suffix(1);
  out = url;
  out += '/';
  out += key.substr(0, 2);
  out += '/';
  out += key;
  return out;
}

bool shared_cache_on(platform::Env& env) {
  return settings(env).has_value();
}

std::optional<std::string> shared_cache_fetch(platform::Env& env, std::string_view key) {
  if (!settings(env)) return std::nullopt;
  const Result<platform::HttpResponse> answer = env.http_request(request_for(*settings(env), key));
  if (!answer) {
    give_up(env, answer.error().message);
    return std::nullopt;
  }
  if (answer->status == 404) return std::nullopt;
  if (answer->status != 200) {
    give_up(env, std::string(shared_cache_answered) + std::to_string(answer->status));
    return std::nullopt;
  }
  // Empty, cut short, another key's, damaged: all fail the entry's checks.
  const std::optional<std::string_view> text = cache_entry_text(answer->body, key);
  if (!text) return std::nullopt;
  count_cache_event(CacheEvent::shared_hit);
  return std::string(*text);
}

void shared_cache_store(platform::Env& env, std::string_view key, std::string_view text) {
  if (!settings(env) || settings(env)->read_only) return;
  Result<std::string> entry = make_cache_entry(key, text);
  if (!entry) {
    give_up(env, entry.error().message);
    return;
  }
  platform::HttpRequest request = request_for(*settings(env), key);
  request.method = platform::HttpRequest::Method::put;
  request.body = std::move(*entry);
  const Result<platform::HttpResponse> answer = env.http_request(request);
  if (!answer) {
    give_up(env, answer.error().message);
  } else if (answer->status >= 200 && answer->status < 300) {
    count_cache_event(CacheEvent::upload);
  } else if (answer->status != 413) {  // too large for this server: only this one is skipped
    give_up(env, std::string(shared_cache_answered) + std::to_string(answer->status));
  }
}

void count_cache_event(CacheEvent event) {
  ++state().counts.at(static_cast<std::size_t>(event));
}

void print_cache_stats(platform::Env& env) {
  if (variable(env, "BRELIX_CACHE_STATS") != "1") return;
  const std::array<std::uint64_t, 5>& counts = state().counts;
  static constexpr std::array<std::string_view, 5> names = {"local hits ", ", shared hits ",
                                                            ", misses ", ", uploads ", ", errors "};
  std::string line(cache_stats_start);
  for (std::size_t i = 0; i < names.size(); ++i) {
    line += names.at(i);
    line += std::to_string(counts.at(i));
  }
  line += '\n';
  (void)env.write(platform::Stream::error, line);
}

void reset_shared_cache() {
  state() = SharedState{};
}

}  // namespace brelix
