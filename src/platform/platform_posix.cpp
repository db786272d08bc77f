// The platform layer on POSIX systems (Linux first).

#include "src/platform/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

#include "unicode/utf8.h"

namespace brelix::platform {
namespace {

std::vector<std::optional<std::string>> saved_arguments;

int descriptor(Stream stream) { return stream == Stream::output ? STDOUT_FILENO : STDERR_FILENO; }

// Bytes in quoted diagnostic form: valid UTF-8 printable characters as they
// are, the usual escapes for quotes, backslash and control characters, and
// \xNN for each byte that is not part of valid UTF-8.
std::string quote_bytes(std::string_view bytes) {
  std::string out = "\"";
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t start = pos;
    const char32_t c = unicode::decode_next(bytes, pos);
    const bool invalid = c == unicode::replacement_character &&
                         bytes.substr(start, pos - start) != "\xEF\xBF\xBD";
    if (invalid) {
      static constexpr char hex[] = "0123456789abcdef";
      for (std::size_t i = start; i < pos; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        out += "\\x";
        out += hex[byte >> 4];
        out += hex[byte & 0xF];
      }
      continue;
    }
    switch (c) {
      case U'"': out += "\\\""; break;
      case U'\\': out += "\\\\"; break;
      case U'\n': out += "\\n"; break;
      case U'\r': out += "\\r"; break;
      case U'\t': out += "\\t"; break;
      case U'\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          static constexpr char hex[] = "0123456789abcdef";
          out += "\\u{";
          if (c >= 0x10) out += hex[c >> 4];
          out += hex[c & 0xF];
          out += "}";
        } else {
          out.append(bytes.substr(start, pos - start));
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace

void initialise_process(int argc, char** argv) {
  // A closed pipe on standard output must show up as a failed write, which
  // the program reports, rather than end the process silently.
  std::signal(SIGPIPE, SIG_IGN);
  saved_arguments.clear();
  saved_arguments.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) {
    std::string_view arg(argv[i]);
    if (unicode::is_valid_utf8(arg)) {
      saved_arguments.emplace_back(std::string(arg));
    } else {
      saved_arguments.emplace_back(std::nullopt);
    }
  }
}

std::vector<std::optional<std::string>> arguments() { return saved_arguments; }

void exit_process(int status) { std::_Exit(status); }

std::string_view path_separators() { return "/"; }

EnvValue environment_variable(std::string_view name) {
  EnvValue result;
  // getenv cannot look up a name holding '=' or NUL; such a variable can
  // never be set, so it is simply not present.
  if (name.empty() || name.find('=') != std::string_view::npos || name.find('\0') != std::string_view::npos) {
    return result;
  }
  const char* raw = std::getenv(std::string(name).c_str());
  if (raw == nullptr) {
    return result;
  }
  std::string_view value(raw);
  if (unicode::is_valid_utf8(value)) {
    result.state = EnvValue::State::present;
    result.value = std::string(value);
  } else {
    result.state = EnvValue::State::not_unicode;
    result.raw_quoted = quote_bytes(value);
  }
  return result;
}

std::optional<std::string> home_directory() {
  const char* home = std::getenv("HOME");
  std::string found;
  if (home != nullptr && *home != '\0') {
    found = home;
  } else {
    // No HOME: ask the password database, as shells do.
    long size_hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size_hint > 0 ? static_cast<std::size_t>(size_hint) : 16384);
    passwd entry{};
    passwd* found_entry = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found_entry) != 0 || found_entry == nullptr ||
        found_entry->pw_dir == nullptr) {
      return std::nullopt;
    }
    found = found_entry->pw_dir;
  }
  if (!unicode::is_valid_utf8(found)) {
    return std::nullopt;
  }
  return found;
}

bool write(Stream stream, std::string_view text) {
  const int fd = descriptor(stream);
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool flush(Stream stream) {
  // Writes go straight to the descriptor; there is no user-space buffer.
  // fsync on a terminal or pipe fails with EINVAL, which is not an error.
  (void)stream;
  return true;
}

bool is_colour_console(Stream stream) {
  if (!isatty(descriptor(stream))) return false;
  const char* no_colour = std::getenv("NO_COLOR");
  if (no_colour != nullptr && *no_colour != '\0') return false;
  const char* term = std::getenv("TERM");
  return term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

}  // namespace brelix::platform
