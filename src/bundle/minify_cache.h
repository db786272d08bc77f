#pragma once
// A cache of the minifier's output, keyed by content, so that a rebuild
// whose release text has not changed does not start the minifier again.
//
// Off unless BRELIX_CACHE_DIR names a folder. The key of one minification
// is the SHA-256 of the exact text the minifier would read, its program
// name and arguments (the run's own release path stands in as a
// placeholder, since it differs from run to run), BRELIX_CACHE_SALT, and
// the identity of the minifier that would run: the file the program
// resolves to and the script behind it by path, size and modification
// time, its package.json by content, and the node that runs it, so an
// upgrade or a replacement misses. Entries are files named by their key,
// written to a temporary file in the folder and renamed into place, each
// with a format version, its key and a checksum of its text: anything else
// found under an entry's name is a miss and is replaced. The folder is
// bounded by BRELIX_CACHE_MAX_MB (default 256); the least recently used
// entries go first. A folder that cannot be made or written gives one
// warning line on standard error and the run goes on without the cache.
//
// What the folder holds goes into the bundles, so it is a trust boundary:
// a folder that is not the user's alone is not used (one warning), and an
// entry is read only if it is the user's own regular file, opened without
// following a link or waiting on a FIFO, and never further than its head
// declares or the bound allows. Eviction removes only files of this
// cache's exact name forms that belong to the user.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "src/failure.h"
#include "src/platform/env.h"

namespace brelix {

inline constexpr std::string_view progress_from_cache = ": Minified text from the cache";
inline constexpr std::string_view progress_from_shared_cache =
    ": Minified text from the shared cache";
inline constexpr std::string_view cache_warning_start = "Warning: cache folder ";
inline constexpr std::string_view cache_warning_middle = " not usable, building without it: ";
// Why a folder that is there is not used (after cache_warning_middle).
inline constexpr std::string_view cache_foreign_owner_reason = "it belongs to another user";
inline constexpr std::string_view cache_writable_reason =
    "users other than its owner can write to it";
inline constexpr std::string_view cache_size_warning =
    "Warning: BRELIX_CACHE_MAX_MB is not a whole number of megabytes above 0, using 256\n";

inline constexpr std::uint64_t default_cache_megabytes = 256;
inline constexpr std::string_view cache_entry_suffix = ".entry";
inline constexpr std::string_view cache_temporary_prefix = ".tmp-";

// Makes the release file at release_path hold what running the minifier
// over it leaves there: from the cache when the key is there (announced by
// the bundle's progress line with progress_from_cache), else by calling
// run, whose result is stored when it succeeded. Requires: the release file
// holds the minifier's complete input. Without the cache, or when the
// minifier cannot be found on PATH to name it, this is run() alone. A
// failure is run's, or the system's when the cached text cannot be written
// into the release file; a cache that cannot be used never fails the build.
//
// companions are further files the minifier writes (a source map): each is
// kept as an entry of its own, under the key followed by "-" and its index,
// and a hit needs every one of them; the files are written back with the
// release file.
Result<> minify_through_cache(platform::Env& env, std::string_view name,
                              const std::string& release_path, std::string_view program,
                              std::span<const std::string> arguments,
                              const std::function<Result<>()>& run,
                              std::span<const std::string> companions = {});

// ---- The pieces, for tests -----------------------------------------------------

// The key as 64 lower-case hexadecimal digits, or a failure of the hash.
Result<std::string> minify_key(std::string_view input, std::string_view release_path,
                               std::string_view program, std::span<const std::string> arguments,
                               std::string_view identity);

// The identity text of the minifier program resolves to; nullopt when
// there is none on PATH. By its files' paths, sizes and times, or with
// by_content by what they hold alone, as other machines see it too.
std::optional<std::string> minifier_identity(std::string_view program, bool by_content = false);

// An entry file's content for the key and the minified text.
Result<std::string> make_cache_entry(std::string_view key, std::string_view text);

// The size a whole entry for key has, from as much of its start as holds
// its head; nullopt when that start is no head of this format version and
// key.
std::optional<std::uint64_t> cache_entry_size(std::string_view head, std::string_view key);

// The minified text of an entry when it is whole, of this format version,
// for this key and matches its checksum; nullopt otherwise.
std::optional<std::string_view> cache_entry_text(std::string_view entry, std::string_view key);

}  // namespace brelix
