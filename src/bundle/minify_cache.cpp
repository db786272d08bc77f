#include "src/bundle/minify_cache.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <vector>

#include "src/bundle/build_steps.h"
#include "src/platform/platform.h"

namespace brelix {
namespace {

// Bumped whenever the entry layout or the key's make-up changes, so that
// entries of another version are misses rather than misread.
constexpr std::string_view entry_magic = "brelix-minify-cache 1\n";
constexpr std::string_view key_magic = "brelix-minify-key 1\n";
constexpr std::string_view release_placeholder = "<release file>";

// The npm package behind the program; its shims (node_modules/.bin, or
// npm's global folder on Windows, where the .cmd starts node on the
// package's script) do not lead to it by links.
constexpr std::string_view minifier_package = "uglify-js";
constexpr int package_json_levels = 4;

// A temporary file this old is taken to be left by a killed run; younger
// ones may be a concurrent run's entry being written.
constexpr std::int64_t stale_temporary_ns = 3600LL * 1'000'000'000;

struct Settings {
  std::string directory;
  std::uint64_t max_bytes = default_cache_megabytes * 1'000'000;
};

// One per process, as the builds of a run share it: the settings read once
// and whether the cache has been given up for the rest of the run.
struct CacheState {
  bool read = false;
  std::optional<Settings> settings;
  bool folder_made = false;
};

CacheState& state() {
  static CacheState current;
  return current;
}

void write_error_line(std::string_view line) {
  (void)platform::write(platform::Stream::error, line);
}

const std::optional<Settings>& settings() {
  CacheState& current = state();
  if (current.read) {
    return current.settings;
  }
  current.read = true;
  const platform::EnvValue folder = platform::environment_variable("BRELIX_CACHE_DIR");
  if (folder.state != platform::EnvValue::State::present || folder.value.empty()) {
    return current.settings;
  }
  Settings chosen{folder.value};
  const platform::EnvValue size = platform::environment_variable("BRELIX_CACHE_MAX_MB");
  if (size.state != platform::EnvValue::State::not_present) {
    std::uint64_t megabytes = 0;
    const std::string_view text = size.value;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), megabytes);
    if (error != std::errc() || end != text.data() + text.size() || megabytes == 0 ||
        megabytes > UINT64_MAX / 1'000'000) {
      write_error_line(cache_size_warning);
    } else {
      chosen.max_bytes = megabytes * 1'000'000;
    }
  }
  current.settings = std::move(chosen);
  return current.settings;
}

// Said once: the cache is then off for the rest of the run.
void give_up(const Failure& why) {
  CacheState& current = state();
  std::string line(cache_warning_start);
  line += current.settings->directory;
  line += cache_warning_middle;
  line += why.message;
  line += '\n';
  write_error_line(line);
  current.settings.reset();
}

std::string hex(const platform::Sha256Digest& digest) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(digest.size() * 2);
  for (const std::uint8_t byte : digest) {
    out.push_back(digits[byte >> 4]);
    out.push_back(digits[byte & 0xF]);
  }
  return out;
}

Result<std::string> hash_hex(std::span<const std::string_view> pieces) {
  const Result<platform::Sha256Digest> digest = platform::sha256(pieces);
  if (!digest) return std::unexpected(digest.error());
  return hex(*digest);
}

// A field that cannot run into the next: its length, a colon, the text.
void append_field(std::string& out, std::string_view text) {
  out += std::to_string(text.size());
  out += ':';
  out += text;
}

void append_stamp(std::string& identity, const std::string& path) {
  append_field(identity, path);
  const std::optional<platform::FileStamp> stamp = platform::file_stamp(path);
  append_field(identity, stamp ? std::to_string(stamp->size) + " " + std::to_string(stamp->modified)
                               : "absent");
}

// One line of an entry's head, taken off rest; nullopt when no line feed
// ends it (a truncated entry).
std::optional<std::string_view> take_line(std::string_view& rest) {
  const std::size_t end = rest.find('\n');
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view line = rest.substr(0, end);
  rest.remove_prefix(end + 1);
  return line;
}

Result<> store(const Settings& settings, const std::string& entry_path, std::string_view key,
               std::string_view text) {
  CacheState& current = state();
  if (!current.folder_made) {
    if (Result<> made = platform::create_directories(settings.directory); !made) return made;
    current.folder_made = true;
  }
  Result<std::string> entry = make_cache_entry(key, text);
  if (!entry) return std::unexpected(entry.error());
  auto created = platform::create_private_file(settings.directory, cache_temporary_prefix);
  if (!created) return std::unexpected(created.error());
  auto& [file, temporary] = *created;
  Result<> written = file.write_all(*entry);
  file.close();
  if (written) {
    if (auto renamed = platform::rename_file(temporary, entry_path); !renamed) {
      written = std::unexpected(std::move(renamed.error().failure));
    }
  }
  if (!written) {
    (void)platform::delete_file(temporary);
  }
  return written;
}

// Least recently used first: a hit touches its entry, so the modification
// time is the time of last use. Only this cache's own names are looked at;
// whatever else the folder holds is left alone.
void evict(const Settings& settings, std::string_view kept) {
  const Result<std::vector<platform::DirectoryFile>> listed =
      platform::list_files(settings.directory);
  if (!listed) return;
  std::vector<platform::DirectoryFile> entries;
  std::uint64_t total = 0;
  std::int64_t newest = 0;
  for (const platform::DirectoryFile& file : *listed) {
    newest = std::max(newest, file.stamp.modified);
  }
  for (const platform::DirectoryFile& file : *listed) {
    const std::string path = platform::join_path(settings.directory, file.name);
    if (file.name.starts_with(cache_temporary_prefix)) {
      if (file.stamp.modified < newest - stale_temporary_ns) (void)platform::delete_file(path);
    } else if (file.name.ends_with(cache_entry_suffix)) {
      total += file.stamp.size;
      if (file.name != kept) entries.push_back(file);
    }
  }
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.stamp.modified < b.stamp.modified; });
  for (const platform::DirectoryFile& oldest : entries) {
    if (total <= settings.max_bytes) break;
    // Another run may have removed it first; either way it is gone.
    (void)platform::delete_file(platform::join_path(settings.directory, oldest.name));
    total -= std::min(total, oldest.stamp.size);
  }
}

}  // namespace

Result<std::string> minify_key(std::string_view input, std::string_view release_path,
                               std::string_view program, std::span<const std::string> arguments,
                               std::string_view identity) {
  std::string head(key_magic);
  append_field(head, program);
  head += std::to_string(arguments.size());
  for (const std::string& argument : arguments) {
    append_field(head, argument == release_path ? release_placeholder : std::string_view(argument));
  }
  append_field(head, identity);
  head += std::to_string(input.size());
  head += ':';
  const std::array<std::string_view, 2> pieces = {head, input};
  return hash_hex(pieces);
}

std::optional<std::string> minifier_identity(std::string_view program) {
  const std::optional<std::string> found = platform::find_command(program);
  if (!found) return std::nullopt;
  std::string identity;
  append_stamp(identity, *found);
  const std::string script = platform::final_path(*found).value_or(*found);
  append_stamp(identity, script);
  std::string folder = platform::parent_directory(script);
  for (int level = 0; level < package_json_levels; ++level) {
    const std::string manifest = platform::join_path(folder, "package.json");
    if (platform::file_stamp(manifest)) {
      append_stamp(identity, manifest);
      break;
    }
    folder = platform::parent_directory(folder);
  }
  const std::string shims = platform::parent_directory(*found);
  const std::string package(minifier_package);
  for (const std::string& root : {platform::join_path(shims, "node_modules/" + package),
                                  platform::join_path(shims, "../" + package)}) {
    append_stamp(identity, platform::join_path(root, "package.json"));
    append_stamp(identity, platform::join_path(root, "bin/" + std::string(program)));
  }
  return identity;
}

Result<std::string> make_cache_entry(std::string_view key, std::string_view text) {
  const std::array<std::string_view, 1> pieces = {text};
  Result<std::string> checksum = hash_hex(pieces);
  if (!checksum) return checksum;
  std::string entry(entry_magic);
  entry.reserve(entry.size() + key.size() + checksum->size() + 24 + text.size());
  entry += key;
  entry += '\n';
  entry += std::to_string(text.size());
  entry += '\n';
  entry += *checksum;
  entry += '\n';
  entry += text;
  return entry;
}

std::optional<std::string_view> cache_entry_text(std::string_view entry, std::string_view key) {
  if (!entry.starts_with(entry_magic)) return std::nullopt;
  std::string_view rest = entry.substr(entry_magic.size());
  const std::optional<std::string_view> stored_key = take_line(rest);
  const std::optional<std::string_view> length = take_line(rest);
  const std::optional<std::string_view> checksum = take_line(rest);
  if (!stored_key || !length || !checksum || *stored_key != key) return std::nullopt;
  std::uint64_t size = 0;
  const auto [end, error] = std::from_chars(length->data(), length->data() + length->size(), size);
  if (error != std::errc() || end != length->data() + length->size() || size != rest.size())
    return std::nullopt;
  const std::array<std::string_view, 1> pieces = {rest};
  const Result<std::string> actual = hash_hex(pieces);
  if (!actual || *actual != *checksum) return std::nullopt;
  return rest;
}

namespace {

std::string companion_key(const std::string& key, std::size_t index) {
  return key + "-" + std::to_string(index);
}

Result<> write_working(platform::Env& env, const std::string& path, std::string_view text) {
  Result<platform::File> file = env.open_for_write(path);
  if (!file) return std::unexpected(std::move(file.error()));
  if (Result<> written = env.write_file(*file, text); !written) return written;
  return finish_working_file(env, *file, path);
}

}  // namespace

Result<> minify_through_cache(platform::Env& env, std::string_view name,
                              const std::string& release_path, std::string_view program,
                              std::span<const std::string> arguments,
                              const std::function<Result<>()>& run,
                              std::span<const std::string> companions) {
  if (!settings()) return run();
  const Result<std::string> input = env.read_whole(release_path);
  const std::optional<std::string> identity = minifier_identity(program);
  if (!input || !identity) return run();
  const Result<std::string> key = minify_key(*input, release_path, program, arguments, *identity);
  if (!key) {
    give_up(key.error());
    return run();
  }
  const Settings chosen = *settings();
  const std::string entry_name = *key + std::string(cache_entry_suffix);
  const std::string entry_path = platform::join_path(chosen.directory, entry_name);
  const auto companion_path = [&](std::size_t index) {
    return platform::join_path(chosen.directory,
                               companion_key(*key, index) + std::string(cache_entry_suffix));
  };

  // The companions' texts first: a hit needs all of them.
  std::vector<std::string> companion_texts;
  for (std::size_t i = 0; i < companions.size(); ++i) {
    const Result<std::string> entry = env.read_whole(companion_path(i));
    if (!entry) break;
    const std::optional<std::string_view> text = cache_entry_text(*entry, companion_key(*key, i));
    if (!text) break;
    companion_texts.emplace_back(*text);
  }
  if (companion_texts.size() == companions.size()) {
    if (const Result<std::string> entry = env.read_whole(entry_path)) {
      if (const std::optional<std::string_view> text = cache_entry_text(*entry, *key)) {
        if (Result<> written = write_working(env, release_path, *text); !written) return written;
        for (std::size_t i = 0; i < companions.size(); ++i) {
          if (Result<> written = write_working(env, companions[i], companion_texts[i]); !written)
            return written;
          (void)platform::touch_file(companion_path(i));
        }
        (void)platform::touch_file(entry_path);
        return print_progress(env, name, progress_from_cache);
      }
    }
  }

  if (Result<> ran = run(); !ran) return ran;
  const Result<std::string> output = env.read_whole(release_path);
  if (!output) return {};
  for (std::size_t i = 0; i < companions.size(); ++i) {
    const Result<std::string> companion = env.read_whole(companions[i]);
    if (!companion) return {};
    if (Result<> stored = store(chosen, companion_path(i), companion_key(*key, i), *companion);
        !stored) {
      give_up(stored.error());
      return {};
    }
  }
  if (Result<> stored = store(chosen, entry_path, *key, *output); !stored) {
    give_up(stored.error());
    return {};
  }
  evict(chosen, entry_name);
  return {};
}

}  // namespace brelix
