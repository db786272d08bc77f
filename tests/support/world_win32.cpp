// Test worlds on Windows: CreateProcessW with the standard streams
// redirected to inheritable file handles.

#include <windows.h>

#include <fstream>

#include "tests/support/world_platform.h"
#include "unicode/utf8.h"

namespace brelix::testing {
namespace {

std::wstring wide(std::string_view text) {
  std::wstring out;
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

std::string narrow(std::wstring_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char16_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(text[++i]) - 0xDC00);
    }
    unicode::append_utf8(out, c);
  }
  return out;
}

// Quotes one argument so that the C runtime's parser gives it back as is.
void append_quoted(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line.push_back(L'"');
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    backslashes = 0;
    line.push_back(c);
  }
  line.append(backslashes * 2, L'\\');
  line.push_back(L'"');
}

HANDLE open_inheritable(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, TRUE};
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     &attributes, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string slurp(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

}  // namespace

bool on_windows() {
  return true;
}

std::map<std::string, std::string> current_environment() {
  std::map<std::string, std::string> env;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0';
       entry += wcslen(entry) + 1) {
    const std::string text = narrow(entry);
    const std::size_t equals = text.find('=', 1);  // "=C:" style entries start with '='
    if (equals != std::string::npos && text[0] != '=') {
      env.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
  }
  FreeEnvironmentStringsW(block);
  return env;
}

std::string self_path() {
  std::wstring buffer(32768, L'\0');
  const DWORD length =
      GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(length);
  return narrow(buffer);
}

std::string native_path(const std::string& path) {
  std::string out = path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

RunResult spawn_and_wait(const std::string& executable, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const RunOptions& options,
                         const std::string& capture) {
  RunResult result;
  {
    std::ofstream input(capture + ".in", std::ios::binary);
    if (options.input) input << *options.input;
  }
  HANDLE in = open_inheritable(wide(capture + ".in"), GENERIC_READ, OPEN_EXISTING);
  HANDLE out = INVALID_HANDLE_VALUE;
  if (!options.close_stdout) {
    out = options.stdout_path.empty()
              ? open_inheritable(wide(capture + ".out"), GENERIC_WRITE, CREATE_ALWAYS)
              : open_inheritable(wide(options.stdout_path), GENERIC_WRITE, OPEN_EXISTING);
  }
  HANDLE err = open_inheritable(wide(capture + ".err"), GENERIC_WRITE, CREATE_ALWAYS);

  std::wstring line;
  append_quoted(line, wide(options.argv0.empty() ? native_path(executable) : options.argv0));
  for (const auto& arg : args) {
    line.push_back(L' ');
    append_quoted(line, wide(arg));
  }
  std::wstring block;
  for (const auto& [name, value] : env) {
    block += wide(name + "=" + value);
    block.push_back(L'\0');
  }
  block.push_back(L'\0');

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const std::wstring program = wide(native_path(executable));
  const BOOL started =
      CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                     CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr, &startup, &process);
  CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  CloseHandle(err);
  if (!started) {
    result.err = "could not start " + executable;
    return result;
  }
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(options.timeout_seconds) * 1000) ==
      WAIT_TIMEOUT) {
    TerminateProcess(process.hProcess, 137);
    WaitForSingleObject(process.hProcess, INFINITE);
    result.timed_out = true;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  result.status = static_cast<int>(code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  result.out = slurp(capture + ".out");
  result.err = slurp(capture + ".err");
  return result;
}

}  // namespace brelix::testing
