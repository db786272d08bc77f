#pragma once
// The minifier cache's second layer: the same entries kept on an HTTP
// server the whole team and CI read, as ccache, Bazel and Gradle keep
// theirs: GET of an entry under its key (404 is a miss), PUT to store it.
//
// Off unless BRELIX_CACHE_URL is an http:// or https:// URL. An entry
// lives at <url>/<first two digits of the key>/<key>, or at the URL with
// every "{key}" replaced by the key when it holds one. Credentials come
// from user:pass@ in the URL (Basic) or BRELIX_CACHE_TOKEN (Bearer) and
// never appear in anything printed: the URL is shown without its
// user-info. BRELIX_CACHE_READONLY=1 never writes. Every request must be
// over within BRELIX_CACHE_TIMEOUT milliseconds (default 5000). A server
// that cannot be reached, is too slow, or answers with anything but a
// found entry, a 404, or a stored entry gives one warning line on
// standard error and is not asked again in this run: a cache makes a build
// slower, never broken. A 413 to a PUT skips that one upload. An answer
// that is not a whole entry for the key (empty, cut short, of another
// key or checksum) is a miss.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "src/platform/env.h"

namespace brelix {

inline constexpr std::string_view shared_cache_warning_start = "Warning: shared cache ";
inline constexpr std::string_view shared_cache_warning_middle =
    " not usable, building without it: ";
inline constexpr std::string_view shared_cache_url_warning =
    "Warning: BRELIX_CACHE_URL is not an http:// or https:// URL, building without the shared "
    "cache\n";
inline constexpr std::string_view shared_cache_timeout_warning =
    "Warning: BRELIX_CACHE_TIMEOUT is not a whole number of milliseconds above 0, using 5000\n";
inline constexpr std::string_view shared_cache_token_warning_start =
    "Warning: BRELIX_CACHE_TOKEN is sent unencrypted to ";
inline constexpr std::string_view shared_cache_token_warning_end = " over plain http\n";
inline constexpr std::string_view shared_cache_answered = "the server answered ";
inline constexpr std::string_view cache_stats_start = "Cache: ";

inline constexpr std::int64_t default_shared_cache_timeout_ms = 5000;

// True when the shared cache is on for this run and has not been given up.
bool shared_cache_on(platform::Env& env);

// The entry's minified text from the server when it holds a whole entry
// for the key; nullopt on a miss or when the server is given up.
std::optional<std::string> shared_cache_fetch(platform::Env& env, std::string_view key);

// Stores the entry for key and text on the server, unless read-only.
void shared_cache_store(platform::Env& env, std::string_view key, std::string_view text);

// What the run's caches did, counted for BRELIX_CACHE_STATS=1.
enum class CacheEvent { local_hit, shared_hit, miss, upload, error };
void count_cache_event(CacheEvent event);

// With BRELIX_CACHE_STATS=1 and a cache on, writes the one summary line of
// the run's counts to standard error; otherwise nothing. Called once, at
// the end of a run.
void print_cache_stats(platform::Env& env);

// ---- The pieces, for tests -----------------------------------------------------

struct SharedCacheUrl {
  std::string shown;  // the URL without user-info
  std::string host;
  bool secure = false;
  std::string user;
  std::string password;
};

// nullopt when the text is not an http:// or https:// URL with a host.
std::optional<SharedCacheUrl> parse_shared_cache_url(std::string_view text);

// Where the entry for key lives under the URL (as shown).
std::string shared_entry_url(std::string_view url, std::string_view key);

// Forgets the settings read and the server given up, so that a test can
// start another run in the same process.
void reset_shared_cache();

}  // namespace brelix
