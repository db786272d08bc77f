#include "src/bundle/minify_cache.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <vector>

#include "src/bundle/build_steps.h"
#include "src/bundle/shared_cache.h"
#include "src/platform/platform.h"

namespace brelix {
namespace {

// Bumped whenever the entry layout or the key's make-up changes, so that
// entries of another version are misses rather than misread.
constexpr std::string_view entry_magic = "brelix-minify-cache 1\n";
constexpr std::string_view key_magic = "brelix-minify-key 2\n";
constexpr std::string_view release_placeholder = "<release file>";

// The npm package behind the program; its shims (node_modules/.bin, or
// npm's global folder on Windows, where the .cmd starts node on the
// package's script) do not lead to it by links.
constexpr std::string_view minifier_package = "uglify-js";
constexpr int package_json_levels = 4;

// A temporary file this old is taken to be left by a killed run; younger
// ones may be a concurrent run's entry being written.
constexpr std::int64_t stale_temporary_ns = 3600LL * 1'000'000'000;

// More than any entry's head (its version line, key, length and checksum
// lines), so the head is checked before anything else is read.
constexpr std::size_t entry_head_bytes = 256;
// The platform layer's random part of a temporary file's name.
constexpr std::size_t temporary_suffix_size = 12;
// Enough for any package.json and a script's first line; what lies beyond
// is not read.
constexpr std::size_t identity_read_bytes = std::size_t{64} * 1024;

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
  bool folder_trusted = false;
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
  Settings chosen{folder.value, default_cache_megabytes * 1'000'000};
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

// Mixed into every key, the folder's and the server's alike.
std::string cache_salt() {
  const platform::EnvValue salt = platform::environment_variable("BRELIX_CACHE_SALT");
  return salt.state == platform::EnvValue::State::present ? salt.value : std::string();
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

// Whether the folder may be used: nobody but the user can have put
// anything in it. One that is not there yet is made by the first store,
// which asks again. A failure is what to warn of.
Result<> check_folder(platform::Env& env, const Settings& chosen) {
  CacheState& current = state();
  if (current.folder_trusted) return {};
  const Result<platform::FolderTrust> trust = env.folder_trust(chosen.directory);
  if (!trust) return std::unexpected(trust.error());
  switch (*trust) {
    case platform::FolderTrust::trusted:
      current.folder_trusted = true;
      return {};
    case platform::FolderTrust::absent:
      return {};
    case platform::FolderTrust::foreign_owner:
      return std::unexpected(Failure::of(std::string(cache_foreign_owner_reason)));
    case platform::FolderTrust::writable_by_others:
      return std::unexpected(Failure::of(std::string(cache_writable_reason)));
  }
  return {};
}

// Exactly the names this cache gives: 64 hexadecimal digits, for a file
// kept beside the minified text (a source map) '-' and its number, and the
// entry suffix; or the temporary prefix and the platform's random part.
bool is_entry_name(std::string_view name) {
  if (name.size() < 64 + cache_entry_suffix.size() || !name.ends_with(cache_entry_suffix) ||
      !std::all_of(name.begin(), name.begin() + 64,
                   [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); })) {
    return false;
  }
  const std::string_view number = name.substr(64, name.size() - 64 - cache_entry_suffix.size());
  if (number.empty()) return true;
  return number.size() >= 2 && number.size() <= 4 && number[0] == '-' &&
         std::all_of(number.begin() + 1, number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool is_temporary_name(std::string_view name) {
  return name.size() == cache_temporary_prefix.size() + temporary_suffix_size &&
         name.starts_with(cache_temporary_prefix) &&
         std::all_of(name.begin() + static_cast<std::ptrdiff_t>(cache_temporary_prefix.size()),
                     name.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); });
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

void append_stamp(std::string& identity, const std::string& path, bool by_content) {
  // ---- Shared cache hook: other machines keep the minifier elsewhere and
  // got its files at other times, so they compare what the files hold.
  if (by_content) {
    const Result<std::string> bytes = platform::read_whole(path);
    const std::array<std::string_view, 1> pieces = {bytes ? std::string_view(*bytes) : ""};
    const Result<std::string> digest = bytes ? hash_hex(pieces) : Result<std::string>("absent");
    append_field(identity, digest ? *digest : "unreadable");
    return;
  }
  append_field(identity, path);
  const std::optional<platform::FileStamp> stamp = platform::file_stamp(path);
  append_field(identity, stamp ? std::to_string(stamp->size) + " " + std::to_string(stamp->modified)
                               : "absent");
}

// Appends the start of a small file (a package.json) itself: npm gives
// every file of a package the same modification time, so two versions can
// have the same stamps.
void append_start(std::string& identity, const std::string& path) {
  append_field(identity, path);
  append_field(
      identity,
      platform::read_file_start(path, identity_read_bytes).value_or(std::string("absent")));
}

// A package.json by its content: npm gives every file of a package the
// same time, so its stamp does not tell one release from the next. Across
// machines the path is left out, as it differs where the content does not.
void append_manifest(std::string& identity, const std::string& path, bool by_content) {
  if (by_content) {
    append_stamp(identity, path, true);
  } else {
    append_start(identity, path);
  }
}

// The program a script's first line runs it with ("#!/usr/bin/env node",
// "#!/usr/local/bin/node"), where the system would find it; node as PATH
// gives it when the script names none (Windows runs shims through cmd).
std::optional<std::string> interpreter_of(const std::string& script) {
  const std::string start = platform::read_file_start(script, identity_read_bytes).value_or("");
  if (!start.starts_with("#!")) return platform::find_command("node");
  std::string_view line(start);
  line = line.substr(2, line.find('\n') - 2);
  std::vector<std::string_view> words;
  for (std::size_t at = 0; at < line.size();) {
    const std::size_t end = std::min(line.find_first_of(" \t\r", at), line.size());
    if (end > at) words.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  if (words.empty()) return std::nullopt;
  if (!words.front().ends_with("/env")) return std::string(words.front());
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (!words[i].starts_with('-')) return platform::find_command(words[i]);
  }
  return std::nullopt;
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

// An entry's head as far as it reaches into text: where the minified text
// starts, how long the head says it is and its checksum.
struct EntryHead {
  std::size_t text_start = 0;
  std::uint64_t text_size = 0;
  std::string_view checksum;
};

std::optional<EntryHead> entry_head(std::string_view text, std::string_view key) {
  if (!text.starts_with(entry_magic)) return std::nullopt;
  std::string_view rest = text.substr(entry_magic.size());
  const std::optional<std::string_view> stored_key = take_line(rest);
  const std::optional<std::string_view> length = take_line(rest);
  const std::optional<std::string_view> checksum = take_line(rest);
  if (!stored_key || !length || !checksum || *stored_key != key) return std::nullopt;
  EntryHead head{text.size() - rest.size(), 0, *checksum};
  const auto [end, error] =
      std::from_chars(length->data(), length->data() + length->size(), head.text_size);
  if (error != std::errc() || end != length->data() + length->size() ||
      head.text_size > UINT64_MAX - head.text_start)
    return std::nullopt;
  return head;
}

// The whole entry for key in the opened file, read no further than its
// head declares; nullopt when it is not whole. One larger than its head
// declares or than the bound is removed: the file was checked to be the
// user's own, in a folder only the user can write.
std::optional<std::string> read_entry(platform::Env& env, platform::OwnedFile& opened,
                                      const std::string& entry_path, std::string_view key,
                                      std::uint64_t max_bytes) {
  Result<std::string> entry = env.read_up_to(opened.file, entry_head_bytes);
  if (!entry) return std::nullopt;
  const std::optional<std::uint64_t> size = cache_entry_size(*entry, key);
  if (opened.size > max_bytes || (size && opened.size > *size)) {
    (void)env.delete_file(entry_path);
    return std::nullopt;
  }
  if (!size || *size != opened.size || entry->size() > *size) return std::nullopt;
  const Result<std::string> rest =
      env.read_up_to(opened.file, static_cast<std::size_t>(*size) - entry->size());
  if (!rest) return std::nullopt;
  *entry += *rest;
  return std::move(*entry);
}

// A failure is one of the folder, to warn of. Something at the entry's
// name that a file cannot replace (a folder) only leaves this entry out.
Result<> store(platform::Env& env, const Settings& settings, const std::string& entry_path,
               std::string_view key, std::string_view text) {
  CacheState& current = state();
  if (!current.folder_made) {
    if (Result<> made = platform::create_directories(settings.directory); !made) return made;
    current.folder_made = true;
    // Another user may have made it first, between the look and the make.
    if (Result<> trusted = check_folder(env, settings); !trusted) return trusted;
  }
  Result<std::string> entry = make_cache_entry(key, text);
  if (!entry) return std::unexpected(entry.error());
  auto created = platform::create_private_file(settings.directory, cache_temporary_prefix);
  if (!created) return std::unexpected(created.error());
  auto& [file, temporary] = *created;
  Result<> written = file.write_all(*entry);
  file.close();
  if (written && !platform::rename_file(temporary, entry_path)) {
    (void)platform::delete_file(temporary);
    return {};
  }
  if (!written) {
    (void)platform::delete_file(temporary);
  }
  return written;
}

// Least recently used first: a hit touches its entry, so the modification
// time is the time of last use. Only this cache's own names are looked at;
// whatever else the folder holds is left alone.
void evict(platform::Env& env, const Settings& settings, std::string_view kept) {
  const Result<std::vector<platform::DirectoryFile>> listed = env.list_files(settings.directory);
  if (!listed) return;
  std::vector<platform::DirectoryFile> entries;
  std::uint64_t total = 0;
  std::int64_t newest = 0;
  for (const platform::DirectoryFile& file : *listed) {
    newest = std::max(newest, file.stamp.modified);
  }
  for (const platform::DirectoryFile& file : *listed) {
    if (!file.owned) continue;
    const std::string path = platform::join_path(settings.directory, file.name);
    if (is_temporary_name(file.name)) {
      if (file.stamp.modified < newest - stale_temporary_ns) (void)env.delete_file(path);
    } else if (is_entry_name(file.name)) {
      total += file.stamp.size;
      if (file.name != kept) entries.push_back(file);
    }
  }
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.stamp.modified < b.stamp.modified; });
  for (const platform::DirectoryFile& oldest : entries) {
    if (total <= settings.max_bytes) break;
    // Another run may have removed it first; either way it is gone.
    (void)env.delete_file(platform::join_path(settings.directory, oldest.name));
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

std::optional<std::string> minifier_identity(std::string_view program, bool by_content) {
  const std::optional<std::string> found = platform::find_command(program);
  if (!found) return std::nullopt;
  std::string identity;
  append_stamp(identity, *found, by_content);
  const std::string script = platform::final_path(*found).value_or(*found);
  append_stamp(identity, script, by_content);
  std::string folder = platform::parent_directory(script);
  for (int level = 0; level < package_json_levels; ++level) {
    const std::string manifest = platform::join_path(folder, "package.json");
    if (platform::file_stamp(manifest)) {
      append_manifest(identity, manifest, by_content);
      break;
    }
    folder = platform::parent_directory(folder);
  }
  const std::string shims = platform::parent_directory(*found);
  const std::string package(minifier_package);
  for (const std::string& root : {platform::join_path(shims, "node_modules/" + package),
                                  platform::join_path(shims, "../" + package)}) {
    append_manifest(identity, platform::join_path(root, "package.json"), by_content);
    append_stamp(identity, platform::join_path(root, "bin/" + std::string(program)), by_content);
  }
  // The node that runs the script: another one may minify differently.
  // Across machines its path says nothing and its content is too large to
  // hash on every run; its size tells one release from another.
  const std::optional<std::string> node = interpreter_of(script);
  const std::string node_path = node ? platform::final_path(*node).value_or(*node) : "";
  if (by_content) {
    const std::optional<platform::FileStamp> stamp = platform::file_stamp(node_path);
    append_field(identity, stamp ? std::to_string(stamp->size) : "absent");
  } else {
    append_stamp(identity, node_path, false);
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

std::optional<std::uint64_t> cache_entry_size(std::string_view head, std::string_view key) {
  const std::optional<EntryHead> found = entry_head(head, key);
  if (!found) return std::nullopt;
  return found->text_start + found->text_size;
}

std::optional<std::string_view> cache_entry_text(std::string_view entry, std::string_view key) {
  const std::optional<EntryHead> head = entry_head(entry, key);
  if (!head || head->text_size != entry.size() - head->text_start) return std::nullopt;
  const std::string_view text = entry.substr(head->text_start);
  const std::array<std::string_view, 1> pieces = {text};
  const Result<std::string> actual = hash_hex(pieces);
  if (!actual || *actual != head->checksum) return std::nullopt;
  return text;
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
  if (settings()) {
    if (Result<> trusted = check_folder(env, *settings()); !trusted) give_up(trusted.error());
  }
  // ---- Shared cache hook: the server is a second layer behind the folder.
  // It keeps minified texts alone, so a build that writes files beside
  // the text (source maps) uses the folder only.
  const bool shared = companions.empty() && shared_cache_on(env);
  if (!settings() && !shared) return run();
  const Result<std::string> input = env.read_whole(release_path);
  std::optional<std::string> identity = minifier_identity(program);
  if (!input || !identity) return run();
  // What no check here can see (a wrapper script's own choices) the user
  // can name.
  const std::string salt = cache_salt();
  append_field(*identity, salt);
  const Result<std::string> key = minify_key(*input, release_path, program, arguments, *identity);
  if (!key) {
    if (settings()) give_up(key.error());
    return run();
  }
  // A copy: giving up on the folder resets what settings() refers to.
  // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
  const std::optional<Settings> chosen = settings();
  const std::string entry_name = *key + std::string(cache_entry_suffix);
  const std::string entry_path =
      chosen ? platform::join_path(chosen->directory, entry_name) : std::string();
  const auto companion_path = [&](std::size_t index) {
    return platform::join_path(chosen->directory,
                               companion_key(*key, index) + std::string(cache_entry_suffix));
  };
  // The entry's text when it is whole and the user's own; with its file
  // kept open so that a hit marks that very file as used.
  const auto read_local =
      [&](const std::string& path, const std::string& entry_key,
          std::optional<platform::OwnedFile>& opened) -> std::optional<std::string> {
    opened = env.open_owned_file(path);
    if (!opened) return std::nullopt;
    const std::optional<std::string> entry =
        read_entry(env, *opened, path, entry_key, chosen->max_bytes);
    const std::optional<std::string_view> text =
        entry ? cache_entry_text(*entry, entry_key) : std::nullopt;
    if (!text) return std::nullopt;
    return std::string(*text);
  };
  // The files beside the text first, as a hit needs them all; a folder
  // that refuses one is given up.
  const auto keep_locally = [&](std::string_view text) {
    if (!chosen) return;
    for (std::size_t i = 0; i < companions.size(); ++i) {
      const Result<std::string> companion = env.read_whole(companions[i]);
      if (!companion) return;
      if (Result<> stored =
              store(env, *chosen, companion_path(i), companion_key(*key, i), *companion);
          !stored) {
        give_up(stored.error());
        return;
      }
    }
    if (Result<> stored = store(env, *chosen, entry_path, *key, text); !stored) {
      give_up(stored.error());
      return;
    }
    evict(env, *chosen, entry_name);
  };

  if (chosen) {
    // The companions' texts first: a hit needs all of them.
    std::vector<std::string> companion_texts;
    std::vector<std::optional<platform::OwnedFile>> companion_files(companions.size());
    for (std::size_t i = 0; i < companions.size(); ++i) {
      std::optional<std::string> text =
          read_local(companion_path(i), companion_key(*key, i), companion_files[i]);
      if (!text) break;
      companion_texts.push_back(std::move(*text));
    }
    std::optional<platform::OwnedFile> opened;
    const std::optional<std::string> text = companion_texts.size() == companions.size()
                                                ? read_local(entry_path, *key, opened)
                                                : std::nullopt;
    if (text) {
      if (Result<> written = write_working(env, release_path, *text); !written) return written;
      for (std::size_t i = 0; i < companions.size(); ++i) {
        if (Result<> written = write_working(env, companions[i], companion_texts[i]); !written)
          return written;
        (void)platform::touch_file(companion_files[i]->file);
      }
      (void)platform::touch_file(opened->file);
      count_cache_event(CacheEvent::local_hit);
      return print_progress(env, name, progress_from_cache);
    }
  }

  // ---- Shared cache hook: local first, then the server; its hit is kept
  // in the folder too. The server's key names the minifier by content.
  std::optional<std::string> portable = shared ? minifier_identity(program, true) : std::nullopt;
  if (portable) append_field(*portable, salt);
  const Result<std::string> shared_key =
      portable ? minify_key(*input, release_path, program, arguments, *portable)
               : fail("no shared cache");
  if (const std::optional<std::string> text =
          shared_key ? shared_cache_fetch(env, *shared_key) : std::nullopt) {
    if (Result<> written = write_working(env, release_path, *text); !written) return written;
    keep_locally(*text);
    return print_progress(env, name, progress_from_shared_cache);
  }

  count_cache_event(CacheEvent::miss);
  if (Result<> ran = run(); !ran) return ran;
  const Result<std::string> output = env.read_whole(release_path);
  if (!output) return {};
  // ---- Shared cache hook: after a miss in both, the result goes to both.
  if (shared_key) shared_cache_store(env, *shared_key, *output);
  keep_locally(*output);
  return {};
}

}  // namespace brelix
