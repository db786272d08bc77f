// The platform layer on Windows (Win32, UTF-16 at the system boundary).

#include "src/platform/platform.h"
#include "src/platform/quoted_text.h"

// First, in a block of its own: the other system headers rely on it.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>
#include <stdexcept>

#include "unicode/utf8.h"

namespace brelix::platform {

// The interruption handler closes every file the build holds open, so that
// what it deletes goes at once (at the end of this file).
void track_file(HANDLE handle);
void untrack_file(HANDLE handle);

struct FileAccess {
  static File make(HANDLE handle) {
    track_file(handle);
    return File(reinterpret_cast<std::intptr_t>(handle));
  }
  static HANDLE handle(const File& file) { return reinterpret_cast<HANDLE>(file.handle_); }
  // The handle, which the file no longer closes.
  static HANDLE release(File& file) {
    return reinterpret_cast<HANDLE>(std::exchange(file.handle_, File::closed));
  }
};

struct ChildAccess {
  static Child make(HANDLE process) {
    Child child;
    child.process_ = reinterpret_cast<std::intptr_t>(process);
    return child;
  }
};

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
      append_hex_escape(out, c);
      continue;
    }
    append_quoted_char(out, c);
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

// The system's text for an error code and the code, nothing else. The
// text is FormatMessageW's in the user's language, with the line break the
// system ends it with removed and its closing period kept.
Failure os_failure(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text =
      length > 0 && buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.pop_back();
  }
  std::string message = text.empty() ? "Unknown error" : to_utf8(text).value_or("Unknown error");
  return Failure::of(message + " (os error " + std::to_string(error) + ")");
}

std::unexpected<Failure> last_os_failure() {
  return std::unexpected(os_failure(GetLastError()));
}

std::string random_suffix() {
  static std::mt19937_64 generator = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), static_cast<unsigned>(GetCurrentProcessId()), device()};
    return std::mt19937_64(seed);
  }();
  static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string out;
  for (int i = 0; i < 12; ++i) {
    out.push_back(letters[generator() % (sizeof letters - 1)]);
  }
  return out;
}

constexpr int unique_name_attempts = 64;

// Every handle shares everything: the build holds its files open while the
// minifier rewrites one and while both are moved. A null security
// attribute makes the handle non-inheritable.
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

Result<File> open_file(std::string_view path, DWORD access, DWORD disposition) {
  const std::wstring wide = to_wide(path);
  const HANDLE h = CreateFileW(wide.c_str(), access, share_all, nullptr, disposition,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return last_os_failure();
  }
  return FileAccess::make(h);
}

bool is_separator(char c) {
  return c == '\\' || c == '/';
}

// An access list that lets the current user alone in, for the run's own
// directory; inherited by what is created inside it.
class OwnerOnlyDescriptor {
 public:
  OwnerOnlyDescriptor() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
      error_ = GetLastError();
      return;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    wchar_t* sid = nullptr;
    if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size) ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
      error_ = GetLastError();
      CloseHandle(token);
      return;
    }
    CloseHandle(token);
    const std::wstring sddl = std::wstring(L"D:P(A;OICI;FA;;;") + sid + L")";
    LocalFree(sid);
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor_, nullptr)) {
      error_ = GetLastError();
      descriptor_ = nullptr;
    }
  }
  ~OwnerOnlyDescriptor() { LocalFree(descriptor_); }
  OwnerOnlyDescriptor(const OwnerOnlyDescriptor&) = delete;
  OwnerOnlyDescriptor& operator=(const OwnerOnlyDescriptor&) = delete;

  PSECURITY_DESCRIPTOR get() const { return descriptor_; }
  DWORD error() const { return error_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  DWORD error_ = ERROR_SUCCESS;
};

// cmd reads these itself, in or out of double quotes (% and ! always, the
// others outside quotes); a caret before each makes it a plain character.
bool is_cmd_special(wchar_t c) {
  return std::wstring_view(L"^&|<>()%!\"").find(c) != std::wstring_view::npos;
}

// Quoted as the C runtime splits a command line: in double quotes when it
// holds a blank, a quote or a character cmd knows (a batch file such as
// uglifyjs.cmd passes %* through cmd's parser again, which leaves quoted
// text alone), backslashes doubled before a quote.
std::wstring quote_argument(std::wstring_view argument) {
  const bool plain = !argument.empty() &&
                     argument.find_first_of(L" \t\"") == std::wstring_view::npos &&
                     std::none_of(argument.begin(), argument.end(), is_cmd_special) &&
                     argument.find_first_of(L",;=") == std::wstring_view::npos;
  if (plain) {
    return std::wstring(argument);
  }
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

// The command as cmd must see it after /C: every character it would act on
// escaped with a caret, quotes included, so cmd never enters a quoted
// stretch (where a caret is literal) and every special character is
// escaped the same way. A % is then followed by a name ending in a caret,
// which no variable has, so nothing is expanded.
std::wstring escape_for_cmd(std::wstring_view command) {
  std::wstring out;
  out.reserve(command.size() * 2);
  for (const wchar_t c : command) {
    if (is_cmd_special(c)) {
      out.push_back(L'^');
    }
    out.push_back(c);
  }
  return out;
}

std::wstring command_interpreter() {
  wchar_t buffer[MAX_PATH + 1];
  const UINT length = GetSystemDirectoryW(buffer, MAX_PATH + 1);
  // The system folder's own cmd, never one found in the working folder.
  if (length == 0 || length > MAX_PATH) {
    return L"cmd.exe";
  }
  return std::wstring(buffer, length) + L"\\cmd.exe";
}

}  // namespace

namespace {
void install_interruption_handler();
void remember_child(HANDLE process);
void forget_child(HANDLE process);
}  // namespace

void initialise_process(int, char**) {
  // Text goes to the console as UTF-8 bytes; the console shows it right.
  SetConsoleOutputCP(CP_UTF8);
  install_interruption_handler();
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

void exit_process(int status) {
  ExitProcess(static_cast<UINT>(status));
}

std::string_view path_separators() {
  return "\\/";
}

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

// ---- Files -----------------------------------------------------------------

File::~File() {
  close();
}

File::File(File&& other) noexcept : handle_(other.handle_) {
  other.handle_ = closed;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = closed;
  }
  return *this;
}

void File::close() {
  if (handle_ != closed) {
    untrack_file(reinterpret_cast<HANDLE>(handle_));
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = closed;
  }
}

Result<> File::sync_and_close() {
  const HANDLE h = reinterpret_cast<HANDLE>(handle_);
  handle_ = closed;
  untrack_file(h);
  DWORD error = ERROR_SUCCESS;
  if (!FlushFileBuffers(h)) {
    error = GetLastError();
  }
  if (!CloseHandle(h) && error == ERROR_SUCCESS) {
    error = GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    return std::unexpected(os_failure(error));
  }
  return {};
}

Result<std::size_t> File::read_some(std::span<char> buffer) {
  const DWORD wanted = buffer.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(buffer.size());
  DWORD count = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer.data(), wanted, &count, nullptr)) {
    // A pipe whose writers have all closed it has simply ended.
    if (GetLastError() == ERROR_BROKEN_PIPE) {
      return std::size_t{0};
    }
    return last_os_failure();
  }
  return std::size_t{count};
}

Result<> File::write_all(std::string_view bytes) {
  const HANDLE h = reinterpret_cast<HANDLE>(handle_);
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(h, bytes.data(), chunk, &written, nullptr)) {
      return last_os_failure();
    }
    if (written == 0) {
      return fail("failed to write whole buffer");
    }
    bytes.remove_prefix(written);
  }
  return {};
}

bool exists(std::string_view path) {
  // Opening for attributes only follows links, as the query must.
  const std::wstring wide = to_wide(path);
  const HANDLE h = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return false;
  }
  CloseHandle(h);
  return true;
}

Result<> delete_file(std::string_view path) {
  if (!DeleteFileW(to_wide(path).c_str())) {
    return last_os_failure();
  }
  return {};
}

Result<File> open_for_append(std::string_view path) {
  return open_file(path, FILE_APPEND_DATA, OPEN_ALWAYS);
}

Result<File> open_for_write(std::string_view path) {
  return open_file(path, GENERIC_WRITE, CREATE_ALWAYS);
}

Result<File> create_new_file(std::string_view path) {
  return open_file(path, GENERIC_WRITE, CREATE_NEW);
}

Result<std::string> read_whole(std::string_view path) {
  Result<File> file = open_file(path, GENERIC_READ, OPEN_EXISTING);
  if (!file) {
    return std::unexpected(std::move(file.error()));
  }
  const HANDLE h = FileAccess::handle(*file);
  std::string content;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(h, &size) && size.QuadPart > 0) {
    content.reserve(static_cast<std::size_t>(size.QuadPart));
  }
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h, buffer, sizeof buffer, &got, nullptr)) {
      return last_os_failure();
    }
    if (got == 0) {
      return content;
    }
    content.append(buffer, got);
  }
}

std::expected<void, RenameFailure> rename_file(std::string_view from, std::string_view to) {
  if (!MoveFileExW(to_wide(from).c_str(), to_wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const DWORD error = GetLastError();
    return std::unexpected(RenameFailure{os_failure(error), error == ERROR_NOT_SAME_DEVICE});
  }
  return {};
}

std::string parent_directory(std::string_view path) {
  std::size_t end = path.size();
  while (end > 0 && !is_separator(path[end - 1])) {
    --end;
  }
  if (end == 0) {
    return path.size() >= 2 && path[1] == ':' ? std::string(path.substr(0, 2)) : std::string(".");
  }
  // Keep the separator of a root ("C:\", "\") but not of a folder.
  const std::string_view directory = path.substr(0, end);
  const bool root = end == 1 || (end == 3 && path[1] == ':');
  return std::string(root ? directory : directory.substr(0, end - 1));
}

std::string join_path(std::string_view directory, std::string_view name) {
  std::string out(directory);
  if (!out.empty() && !is_separator(out.back())) {
    out.push_back('\\');
  }
  out.append(name);
  return out;
}

// ---- Temporary directories ---------------------------------------------------

std::optional<std::string> temporary_directory() {
  using GetTempPath2 = DWORD(WINAPI*)(DWORD, LPWSTR);
  // GetTempPath2W (Windows 11, recent Windows 10) is looked up at run time so
  // the program still starts where only GetTempPathW exists.
  GetTempPath2 query = nullptr;
  if (const HMODULE kernel = GetModuleHandleW(L"kernel32.dll"); kernel != nullptr) {
    query = reinterpret_cast<GetTempPath2>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetTempPath2W")));
  }
  wchar_t buffer[MAX_PATH + 2];
  const DWORD length =
      query != nullptr ? query(MAX_PATH + 2, buffer) : GetTempPathW(MAX_PATH + 2, buffer);
  if (length == 0 || length > MAX_PATH + 1) {
    return std::nullopt;
  }
  return to_utf8(std::wstring_view(buffer, length));
}

Result<std::string> create_private_directory(std::string_view parent, std::string_view prefix) {
  const OwnerOnlyDescriptor descriptor;
  if (descriptor.get() == nullptr) {
    return std::unexpected(os_failure(descriptor.error()));
  }
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
  DWORD error = ERROR_ALREADY_EXISTS;
  for (int attempt = 0; attempt < unique_name_attempts && error == ERROR_ALREADY_EXISTS;
       ++attempt) {
    std::string path = join_path(parent, std::string(prefix) + random_suffix());
    if (CreateDirectoryW(to_wide(path).c_str(), &attributes)) {
      return path;
    }
    error = GetLastError();
  }
  return std::unexpected(os_failure(error));
}

Result<> remove_directory(std::string_view path) {
  if (!RemoveDirectoryW(to_wide(path).c_str())) {
    return last_os_failure();
  }
  return {};
}

namespace {

// A new file of a random name in directory; attributes null for the access
// a new file normally gets.
Result<std::pair<File, std::string>> create_unique_with_attributes(
    std::string_view directory, std::string_view prefix, SECURITY_ATTRIBUTES* attributes) {
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < unique_name_attempts &&
                        (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
       ++attempt) {
    std::string path = join_path(directory, std::string(prefix) + random_suffix());
    const HANDLE h = CreateFileW(to_wide(path).c_str(), GENERIC_WRITE, share_all, attributes,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      return std::pair<File, std::string>(FileAccess::make(h), std::move(path));
    }
    error = GetLastError();
  }
  return std::unexpected(os_failure(error));
}

}  // namespace

Result<std::pair<File, std::string>> create_unique_file(std::string_view directory,
                                                        std::string_view prefix) {
  return create_unique_with_attributes(directory, prefix, nullptr);
}

// ---- Child processes ---------------------------------------------------------

Child::~Child() {
  if (process_ != -1) {
    const HANDLE h = reinterpret_cast<HANDLE>(process_);
    if (!waited_) {
      WaitForSingleObject(h, INFINITE);
    }
    forget_child(h);
    CloseHandle(h);
  }
}

Child::Child(Child&& other) noexcept : process_(other.process_), waited_(other.waited_) {
  other.process_ = -1;
}

Child& Child::operator=(Child&& other) noexcept {
  if (this != &other) {
    Child old(std::move(*this));
    process_ = other.process_;
    waited_ = other.waited_;
    other.process_ = -1;
  }
  return *this;
}

Result<ChildEnd> Child::wait() {
  const HANDLE h = reinterpret_cast<HANDLE>(process_);
  if (WaitForSingleObject(h, INFINITE) == WAIT_FAILED) {
    return last_os_failure();
  }
  waited_ = true;
  DWORD code = 0;
  if (!GetExitCodeProcess(h, &code)) {
    return last_os_failure();
  }
  ChildEnd end;
  end.value = code;
  return end;
}

namespace {

// Starts the command; error, when not null, becomes the child's standard
// error (it must be inheritable).
Result<Child> spawn(std::string_view program, std::span<const std::string> arguments,
                    HANDLE error) {
  std::wstring command = quote_argument(to_wide(program));
  for (const std::string& argument : arguments) {
    command.push_back(L' ');
    command += quote_argument(to_wide(argument));
  }
  // /V:OFF: with delayed expansion on (a user's registry setting can turn
  // it on), cmd would expand !name! after the carets are gone.
  const std::wstring application = command_interpreter();
  std::wstring line = L"cmd /V:OFF /C " + escape_for_cmd(command);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = error != nullptr ? error : GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  // Inheritance must be on for the standard streams to reach the child;
  // every handle the program opens itself is non-inheritable, so nothing
  // else goes with them.
  // Started suspended and put in the run's job object before it runs, so
  // that an interruption, or the end of this process however it comes,
  // stops the interpreter with the minifier it started.
  const InterruptionsHeld held;
  if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &info)) {
    return last_os_failure();
  }
  remember_child(info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  return ChildAccess::make(info.hProcess);
}

}  // namespace

Result<Child> start_command(std::string_view program, std::span<const std::string> arguments) {
  return spawn(program, arguments, nullptr);
}

Result<PipedChild> start_command_with_error_pipe(std::string_view program,
                                                 std::span<const std::string> arguments) {
  // The writing end alone is inheritable: it is the child's standard error.
  SECURITY_ATTRIBUTES inherited{};
  inherited.nLength = sizeof inherited;
  inherited.bInheritHandle = TRUE;
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherited, 0)) {
    return last_os_failure();
  }
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  File reading = FileAccess::make(read_end);
  File writing = FileAccess::make(write_end);
  Result<Child> child = spawn(program, arguments, write_end);
  if (!child) {
    return std::unexpected(std::move(child.error()));
  }
  // Only the child holds the writing end now, so its end is the pipe's.
  writing.close();
  return PipedChild{std::move(*child), std::move(reading)};
}

// ---- Reliability: sources, durability, interruptions --------------------------

namespace {

// Whether memory for the whole file can be had, asked without an exception:
// some allocators (the address sanitizer's) end the program when an
// allocation that may throw fails, even where it could report it.
bool can_allocate(std::size_t size) {
  void* probe = ::operator new(size, std::nothrow);
  ::operator delete(probe);
  return probe != nullptr;
}

// Opens a file on disk for reading, as read_whole opens it. Pipes,
// consoles and devices (NUL, CON) are not files of a project; opening one
// returns at once, reading it may not.
std::expected<File, SourceFailure> open_source(std::string_view path) {
  Result<File> file = open_file(path, GENERIC_READ, OPEN_EXISTING);
  if (!file) {
    return std::unexpected(SourceFailure{SourceFailure::Kind::os, std::move(file.error())});
  }
  if (GetFileType(FileAccess::handle(*file)) != FILE_TYPE_DISK) {
    return std::unexpected(SourceFailure{SourceFailure::Kind::not_regular, {}});
  }
  return std::move(*file);
}

}  // namespace

std::expected<std::string, SourceFailure> read_regular_file(std::string_view path) {
  const auto file = open_source(path);
  if (!file) return std::unexpected(file.error());
  const HANDLE h = FileAccess::handle(*file);
  try {
    std::string content;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(h, &size) && size.QuadPart > 0) {
      if (!can_allocate(static_cast<std::size_t>(size.QuadPart))) {
        return std::unexpected(SourceFailure{SourceFailure::Kind::too_large, {}});
      }
      content.reserve(static_cast<std::size_t>(size.QuadPart));
    }
    char buffer[65536];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(h, buffer, sizeof buffer, &got, nullptr)) {
        return std::unexpected(SourceFailure{SourceFailure::Kind::os, os_failure(GetLastError())});
      }
      if (got == 0) {
        return content;
      }
      content.append(buffer, got);
    }
  } catch (const std::bad_alloc&) {
    return std::unexpected(SourceFailure{SourceFailure::Kind::too_large, {}});
  } catch (const std::length_error&) {
    return std::unexpected(SourceFailure{SourceFailure::Kind::too_large, {}});
  }
}

std::optional<std::uint64_t> regular_file_size(std::string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(to_wide(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void sync_directory(std::string_view) {
  // A folder cannot be flushed on Windows; NTFS logs the rename itself.
}

namespace {

// The current user's account, for telling which files are the user's own.
std::vector<unsigned char> current_user() {
  std::vector<unsigned char> buffer;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return buffer;
  }
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  buffer.resize(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    buffer.clear();
  }
  CloseHandle(token);
  return buffer;
}

bool is_owned_by(const std::wstring& path, PSID user) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool same = owner != nullptr && EqualSid(owner, user);
  LocalFree(descriptor);
  return same;
}

}  // namespace

void remove_stale_files(std::string_view directory, std::string_view prefix,
                        std::int64_t max_age_seconds) {
  const std::vector<unsigned char> user = current_user();
  if (user.empty()) {
    return;
  }
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
  WIN32_FIND_DATAW found{};
  const HANDLE search =
      FindFirstFileW(to_wide(join_path(directory, std::string(prefix) + "*")).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return;
  }
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  const std::uint64_t before =
      ticks(now) - static_cast<std::uint64_t>(max_age_seconds) * 10'000'000;
  do {
    const DWORD not_plain =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if ((found.dwFileAttributes & not_plain) != 0 || ticks(found.ftLastWriteTime) >= before)
      continue;
    const std::optional<std::string> name = to_utf8(found.cFileName);
    if (!name || !name->starts_with(prefix)) continue;
    const std::wstring path = to_wide(join_path(directory, *name));
    if (is_owned_by(path, sid)) {
      (void)DeleteFileW(path.c_str());
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

bool is_shared_unsafely(std::string_view) {
  return false;
}

std::optional<std::string> system_temporary_directory() {
  return temporary_directory();
}

namespace {

// What the console control handler undoes. It runs on a thread of its own
// while the build goes on, so it takes the same lock the build holds while
// it registers.
CRITICAL_SECTION& guard() {
  // Initialised in place: a critical section must not be copied.
  static CRITICAL_SECTION section;
  static const bool initialised = (InitializeCriticalSection(&section), true);
  (void)initialised;
  return section;
}

// The handler freezes the build's thread and must then take no lock that
// thread may hold, the heap's included: every path is made beforehand.
struct Registered {
  HANDLE main_thread = nullptr;
  HANDLE job = nullptr;
  std::vector<HANDLE> children;
  std::vector<HANDLE> files;
  std::wstring directory;
  HANDLE directory_handle = INVALID_HANDLE_VALUE;
  std::vector<std::wstring> names;  // full paths
  std::wstring file;
};

Registered& registered() {
  static Registered state;
  return state;
}

void close_directory_handle(Registered& state) {
  if (state.directory_handle != INVALID_HANDLE_VALUE) {
    CloseHandle(state.directory_handle);
    state.directory_handle = INVALID_HANDLE_VALUE;
  }
}

BOOL WINAPI on_control(DWORD event) {
  UINT status = interrupted_status;
  if (event == CTRL_CLOSE_EVENT) status = hung_up_status;
  if (event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) status = terminated_status;
  EnterCriticalSection(&guard());
  Registered& state = registered();
  if (state.main_thread != nullptr) {
    SuspendThread(state.main_thread);
  }
  if (state.job != nullptr) {
    TerminateJobObject(state.job, status);
  }
  for (const HANDLE child : state.children) {
    TerminateProcess(child, status);
  }
  if (!state.children.empty()) {
    WaitForMultipleObjects(
        static_cast<DWORD>(std::min<std::size_t>(state.children.size(), MAXIMUM_WAIT_OBJECTS)),
        state.children.data(), TRUE, 5000);
  }
  // A file deleted while a handle is open on it stays until the handle
  // goes, and keeps its folder from being removed.
  for (const HANDLE file : state.files) {
    CloseHandle(file);
  }
  if (!state.file.empty()) {
    DeleteFileW(state.file.c_str());
  }
  if (!state.directory.empty()) {
    for (const std::wstring& name : state.names) {
      DeleteFileW(name.c_str());
    }
    close_directory_handle(state);
    RemoveDirectoryW(state.directory.c_str());
  }
  // Not ExitProcess: the frozen thread may hold locks its clean-up needs.
  TerminateProcess(GetCurrentProcess(), status);
  return TRUE;
}

void install_interruption_handler() {
  HANDLE main_thread = nullptr;
  if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread, 0,
                      FALSE, DUPLICATE_SAME_ACCESS)) {
    registered().main_thread = main_thread;
  }
  SetConsoleCtrlHandler(on_control, TRUE);
}

void remember_child(HANDLE process) {
  Registered& state = registered();
  if (state.job == nullptr) {
    state.job = CreateJobObjectW(nullptr, nullptr);
    if (state.job != nullptr) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      SetInformationJobObject(state.job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
  }
  // Where the job cannot take the child (an older system inside a job of
  // its own), the child alone is stopped.
  if (state.job != nullptr) {
    AssignProcessToJobObject(state.job, process);
  }
  state.children.push_back(process);
}

void forget_child(HANDLE process) {
  const InterruptionsHeld held;
  std::vector<HANDLE>& children = registered().children;
  children.erase(std::remove(children.begin(), children.end(), process), children.end());
}

}  // namespace

void track_file(HANDLE handle) {
  const InterruptionsHeld held;
  registered().files.push_back(handle);
}

void untrack_file(HANDLE handle) {
  const InterruptionsHeld held;
  std::vector<HANDLE>& files = registered().files;
  files.erase(std::remove(files.begin(), files.end(), handle), files.end());
}

InterruptionsHeld::InterruptionsHeld() {
  EnterCriticalSection(&guard());
}

InterruptionsHeld::~InterruptionsHeld() {
  LeaveCriticalSection(&guard());
}

void remove_directory_on_interruption(std::string_view directory,
                                      std::span<const std::string_view> names) {
  const InterruptionsHeld held;
  Registered& state = registered();
  close_directory_handle(state);
  state.directory.clear();
  state.names.clear();
  if (directory.empty()) {
    return;
  }
  state.directory = to_wide(directory);
  for (const std::string_view name : names)
    state.names.push_back(to_wide(join_path(directory, name)));
  // Held without delete sharing, the folder can be neither renamed nor
  // replaced while the run uses it.
  state.directory_handle = CreateFileW(
      state.directory.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

void remove_on_interruption(std::string_view path) {
  const InterruptionsHeld held;
  registered().file = to_wide(path);
}

void remove_registered_directory() {
  const InterruptionsHeld held;
  Registered& state = registered();
  if (state.directory.empty()) {
    return;
  }
  // The handle kept the folder from being renamed or replaced, so its path
  // still leads to it; the handle goes first, or the folder could not.
  close_directory_handle(state);
  for (const std::wstring& name : state.names) {
    DeleteFileW(name.c_str());
  }
  RemoveDirectoryW(state.directory.c_str());
  state.directory.clear();
  state.names.clear();
}

bool is_registered_directory(std::string_view path) {
  const InterruptionsHeld held;
  const Registered& state = registered();
  if (state.directory_handle == INVALID_HANDLE_VALUE) {
    return true;
  }
  const HANDLE there =
      CreateFileW(to_wide(path).c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (there == INVALID_HANDLE_VALUE) {
    return false;
  }
  BY_HANDLE_FILE_INFORMATION held_info{};
  BY_HANDLE_FILE_INFORMATION there_info{};
  const bool same = GetFileInformationByHandle(state.directory_handle, &held_info) &&
                    GetFileInformationByHandle(there, &there_info) &&
                    held_info.dwVolumeSerialNumber == there_info.dwVolumeSerialNumber &&
                    held_info.nFileIndexHigh == there_info.nFileIndexHigh &&
                    held_info.nFileIndexLow == there_info.nFileIndexLow;
  CloseHandle(there);
  return same;
}

// ---- File identity and folders (the minifier cache) ------------------------

namespace {

FileStamp stamp_of(DWORD size_high, DWORD size_low, const FILETIME& written) {
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  return FileStamp{(static_cast<std::uint64_t>(size_high) << 32) | size_low,
                   static_cast<std::int64_t>(ticks) * 100};
}

bool is_file(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring environment_wide(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
  value.resize(length < size ? length : 0);
  return value;
}

std::vector<std::wstring> split_list(std::wstring_view list) {
  std::vector<std::wstring> parts;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(L';', start), list.size());
    std::wstring part(list.substr(start, end - start));
    // cmd accepts quoted PATH entries.
    part.erase(std::remove(part.begin(), part.end(), L'"'), part.end());
    if (!part.empty()) parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

}  // namespace

std::optional<FileStamp> file_stamp(std::string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(to_wide(path).c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  return stamp_of(data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime);
}

std::optional<std::string> find_command(std::string_view program) {
  std::vector<std::wstring> folders;
  if (environment_wide(L"NoDefaultCurrentDirectoryInExePath").empty()) {
    folders.push_back(L".");
  }
  for (std::wstring& folder : split_list(environment_wide(L"PATH"))) {
    folders.push_back(std::move(folder));
  }
  std::wstring extensions = environment_wide(L"PATHEXT");
  if (extensions.empty()) {
    extensions = L".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC";
  }
  const std::vector<std::wstring> suffixes = split_list(extensions);
  const std::wstring name = to_wide(program);
  for (const std::wstring& folder : folders) {
    std::wstring base = folder;
    if (base.back() != L'\\' && base.back() != L'/') base.push_back(L'\\');
    base += name;
    for (const std::wstring& suffix : suffixes) {
      if (const std::wstring candidate = base + suffix; is_file(candidate)) {
        return to_utf8(candidate);
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> final_path(std::string_view path) {
  const HANDLE h = CreateFileW(to_wide(path).c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  wchar_t buffer[32768];
  const DWORD length = GetFinalPathNameByHandleW(h, buffer, 32768, FILE_NAME_NORMALIZED);
  CloseHandle(h);
  if (length == 0 || length >= 32768) {
    return std::nullopt;
  }
  std::wstring_view found(buffer, length);
  if (found.starts_with(L"\\\\?\\")) found.remove_prefix(4);
  return to_utf8(found);
}

Result<std::vector<DirectoryFile>> list_files(std::string_view directory) {
  WIN32_FIND_DATAW data{};
  const HANDLE search = FindFirstFileW(to_wide(join_path(directory, "*")).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) {
    return last_os_failure();
  }
  std::vector<DirectoryFile> files;
  const std::vector<unsigned char> user = current_user();
  do {
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
      continue;
    if (std::optional<std::string> name = to_utf8(data.cFileName)) {
      const bool owned =
          !user.empty() && is_owned_by(to_wide(join_path(directory, *name)),
                                       reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid);
      files.push_back(DirectoryFile{
          std::move(*name), stamp_of(data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime),
          owned});
    }
  } while (FindNextFileW(search, &data));
  const DWORD error = GetLastError();
  FindClose(search);
  if (error != ERROR_NO_MORE_FILES) {
    return std::unexpected(os_failure(error));
  }
  return files;
}

Result<> create_directories(std::string_view path) {
  const OwnerOnlyDescriptor descriptor;
  if (descriptor.get() == nullptr) {
    return std::unexpected(os_failure(descriptor.error()));
  }
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
  // Each missing level from the top down; a drive ("C:") or the leading
  // separators of a share are never made.
  for (std::size_t end = 0; end <= path.size(); ++end) {
    if (end < path.size() && !is_separator(path[end])) continue;
    const std::string level(path.substr(0, end));
    if (level.empty() || is_separator(level.back()) || (level.size() == 2 && level[1] == ':'))
      continue;
    if (!CreateDirectoryW(to_wide(level).c_str(), &attributes) &&
        GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_ACCESS_DENIED) {
      return last_os_failure();
    }
  }
  const DWORD found = GetFileAttributesW(to_wide(path).c_str());
  if (found == INVALID_FILE_ATTRIBUTES) {
    return last_os_failure();
  }
  if ((found & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return std::unexpected(os_failure(ERROR_DIRECTORY));
  }
  return {};
}

Result<std::pair<File, std::string>> create_private_file(std::string_view directory,
                                                         std::string_view prefix) {
  const OwnerOnlyDescriptor descriptor;
  if (descriptor.get() == nullptr) {
    return std::unexpected(os_failure(descriptor.error()));
  }
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
  return create_unique_with_attributes(directory, prefix, &attributes);
}

// ---- The cache folder as a trust boundary -----------------------------------

namespace {

// The user's own account and the owner the user's new files get (the
// Administrators group for an elevated administrator): either is the user.
class UserAccounts {
 public:
  UserAccounts() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    for (const auto& [kind, buffer] :
         {std::pair{TokenUser, &user_}, std::pair{TokenOwner, &owner_}}) {
      DWORD size = 0;
      GetTokenInformation(token, kind, nullptr, 0, &size);
      buffer->resize(size);
      if (size == 0 || !GetTokenInformation(token, kind, buffer->data(), size, &size))
        buffer->clear();
    }
    CloseHandle(token);
  }
  bool is_user(PSID sid) const {
    return sid != nullptr &&
           ((!user_.empty() &&
             EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid)) ||
            (!owner_.empty() &&
             EqualSid(sid, reinterpret_cast<const TOKEN_OWNER*>(owner_.data())->Owner)));
  }
  // The user, or an account that can take any file anyway.
  bool may_write(PSID sid) const {
    return is_user(sid) || IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           IsWellKnownSid(sid, WinCreatorOwnerSid);
  }

 private:
  std::vector<unsigned char> user_, owner_;
};

// Whether an access list lets anyone but the user change what the folder
// holds. Only what applies to the folder itself counts.
bool lets_others_write(const ACL* access, const UserAccounts& accounts) {
  if (access == nullptr) return true;  // no list at all: everyone may
  constexpr DWORD writes = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE |
                           WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  for (DWORD i = 0; i < access->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(const_cast<ACL*>(access), i, &ace)) return true;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0)
      continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & writes) != 0 && !accounts.may_write(&allowed->SidStart)) return true;
  }
  return false;
}

}  // namespace

Result<FolderTrust> folder_trust(std::string_view path) {
  const std::wstring wide = to_wide(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FolderTrust::absent;
    return std::unexpected(os_failure(error));
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return std::unexpected(os_failure(ERROR_DIRECTORY));
  }
  PSID owner = nullptr;
  PACL access = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD got = GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT,
                                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                          &owner, nullptr, &access, nullptr, &descriptor);
  if (got != ERROR_SUCCESS) return std::unexpected(os_failure(got));
  const UserAccounts accounts;
  const FolderTrust trust = !accounts.is_user(owner)              ? FolderTrust::foreign_owner
                            : lets_others_write(access, accounts) ? FolderTrust::writable_by_others
                                                                  : FolderTrust::trusted;
  LocalFree(descriptor);
  return trust;
}

std::optional<OwnedFile> open_owned_file(std::string_view path) {
  // The link itself, not what it names; never a folder (no backup
  // semantics), and a pipe or device is refused below before any read.
  const HANDLE h =
      CreateFileW(to_wide(path).c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES | READ_CONTROL,
                  share_all, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  File file = FileAccess::make(h);
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return std::nullopt;
  }
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const bool mine = UserAccounts().is_user(owner);
  LocalFree(descriptor);
  if (!mine) return std::nullopt;
  return OwnedFile{std::move(file),
                   (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow};
}

Result<std::string> read_up_to(File& file, std::size_t count) {
  const HANDLE h = FileAccess::handle(file);
  std::string content;
  try {
    // Grown as bytes come: a file shorter than count costs only its size.
    char buffer[65536];
    while (content.size() < count) {
      DWORD got = 0;
      const auto want = static_cast<DWORD>(std::min(sizeof buffer, count - content.size()));
      if (!ReadFile(h, buffer, want, &got, nullptr)) return last_os_failure();
      if (got == 0) break;
      content.append(buffer, got);
    }
  } catch (const std::bad_alloc&) {
    return std::unexpected(os_failure(ERROR_NOT_ENOUGH_MEMORY));
  }
  return content;
}

std::optional<std::string> read_file_start(std::string_view path, std::size_t count) {
  auto file = open_source(path);
  if (!file) return std::nullopt;
  Result<std::string> start = read_up_to(*file, count);
  if (!start) return std::nullopt;
  return std::move(*start);
}

Result<> touch_file(File& file) {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  if (!SetFileTime(FileAccess::handle(file), nullptr, nullptr, &now)) {
    return last_os_failure();
  }
  return {};
}

// ---- Destination folders and the console clock ------------------------------

Result<> check_folder_writable(std::string_view path) {
  // Whether the access list lets this user add a file shows only by
  // adding one; it is deleted as its handle closes, also if the process
  // dies first.
  const std::string probe = join_path(path, ".brelix-check-" + random_suffix());
  const HANDLE h = CreateFileW(
      to_wide(probe).c_str(), GENERIC_WRITE | DELETE, share_all, nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return last_os_failure();
  }
  CloseHandle(h);
  return {};
}

std::optional<std::size_t> console_columns(Stream stream) {
  const HANDLE h = handle(stream);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!is_console_handle(h) || !GetConsoleScreenBufferInfo(h, &info)) {
    return std::nullopt;
  }
  const int width = info.srWindow.Right - info.srWindow.Left + 1;
  return width > 0 ? static_cast<std::size_t>(width) : 80;
}

Result<> close_file(File& file) {
  const HANDLE h = FileAccess::release(file);
  untrack_file(h);
  if (!CloseHandle(h)) {
    return last_os_failure();
  }
  return {};
}

}  // namespace brelix::platform
