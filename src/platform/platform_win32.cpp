// The platform layer on Windows (Win32, UTF-16 at the system boundary).

#include "src/platform/platform.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdlib>

#include "unicode/utf8.h"

namespace brelix::platform {
namespace {

// UTF-16 to UTF-8; nullopt when the text holds an unpaired surrogate.
std::optional<std::string> to_utf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char16_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < text.size()) {
        const char32_t low = static_cast<char16_t>(text[i + 1]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
          ++i;
          unicode::append_utf8(out, c);
          continue;
        }
      }
      return std::nullopt;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) {
      return std::nullopt;
    }
    unicode::append_utf8(out, c);
  }
  return out;
}

std::wstring to_wide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char32_t c = unicode::decode_next(text, pos);
    if (c >= 0x10000) {
      out.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
  }
  return out;
}

// UTF-16 in quoted diagnostic form: printable characters as they are, the
// usual escapes, and \u{XXXX} for each unpaired surrogate.
std::string quote_wide(std::wstring_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  auto hex_escape = [](std::string& out, char32_t c) {
    out += "\\u{";
    std::string digits;
    do {
      digits.insert(digits.begin(), hex[c & 0xF]);
      c >>= 4;
    } while (c != 0);
    out += digits;
    out += "}";
  };
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char16_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      const char32_t low = static_cast<char16_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      hex_escape(out, c);
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
          hex_escape(out, c);
        } else {
          unicode::append_utf8(out, c);
        }
    }
  }
  out += '"';
  return out;
}

HANDLE handle(Stream stream) {
  return GetStdHandle(stream == Stream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool is_console_handle(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

}  // namespace

void initialise_process(int, char**) {
  // Text goes to the console as UTF-8 bytes; the console shows it right.
  SetConsoleOutputCP(CP_UTF8);
}

std::vector<std::optional<std::string>> arguments() {
  std::vector<std::optional<std::string>> result;
  int count = 0;
  LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
  if (list == nullptr) {
    return result;
  }
  result.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    result.push_back(to_utf8(list[i]));
  }
  LocalFree(list);
  return result;
}

void exit_process(int status) { ExitProcess(static_cast<UINT>(status)); }

std::string_view path_separators() { return "\\/"; }

EnvValue environment_variable(std::string_view name) {
  EnvValue result;
  if (name.empty() || name.find('\0') != std::string_view::npos) {
    return result;
  }
  const std::wstring wide_name = to_wide(name);
  SetLastError(ERROR_SUCCESS);
  DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (size == 0) {
    // A set but empty variable also reports 0, without an error.
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
      return result;
    }
    result.state = EnvValue::State::present;
    return result;
  }
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
  value.resize(length < size ? length : 0);
  if (auto utf8 = to_utf8(value)) {
    result.state = EnvValue::State::present;
    result.value = std::move(*utf8);
  } else {
    result.state = EnvValue::State::not_unicode;
    result.raw_quoted = quote_wide(value);
  }
  return result;
}

std::optional<std::string> home_directory() {
  PWSTR path = nullptr;
  std::optional<std::string> result;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &path)) && path != nullptr) {
    result = to_utf8(path);
  }
  // The folder text is freed whether or not the query succeeded.
  CoTaskMemFree(path);
  return result;
}

bool write(Stream stream, std::string_view text) {
  const HANDLE h = handle(stream);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) {
    return false;
  }
  while (!text.empty()) {
    const DWORD chunk = text.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(text.size());
    DWORD written = 0;
    if (!WriteFile(h, text.data(), chunk, &written, nullptr) || written == 0) {
      return false;
    }
    text.remove_prefix(written);
  }
  return true;
}

bool flush(Stream stream) {
  const HANDLE h = handle(stream);
  if (is_console_handle(h)) {
    return true;  // Consoles are unbuffered.
  }
  // Pipes report ERROR_INVALID_FUNCTION or similar; files flush for real.
  return FlushFileBuffers(h) != 0 || GetLastError() != ERROR_ACCESS_DENIED;
}

bool is_colour_console(Stream stream) {
  const HANDLE h = handle(stream);
  DWORD mode = 0;
  if (h == nullptr || h == INVALID_HANDLE_VALUE || GetConsoleMode(h, &mode) == 0) {
    return false;
  }
  wchar_t buffer[2];
  if (GetEnvironmentVariableW(L"NO_COLOR", buffer, 2) > 0) {
    return false;
  }
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
    return true;
  }
  return SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace brelix::platform
