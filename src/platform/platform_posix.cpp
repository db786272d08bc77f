// The platform layer on POSIX systems (Linux first).

#include "src/platform/platform.h"
#include "src/platform/quoted_text.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <random>
#include <stdexcept>

#include "unicode/utf8.h"

namespace brelix::platform {

struct FileAccess {
  static File make(int fd) { return File(fd); }
  static int descriptor(const File& file) { return static_cast<int>(file.handle_); }
  // The descriptor, which the file no longer closes.
  static int release(File& file) {
    return static_cast<int>(std::exchange(file.handle_, File::closed));
  }
};

struct ChildAccess {
  static Child make(pid_t pid) {
    Child child;
    child.process_ = pid;
    return child;
  }
};

namespace {

std::vector<std::optional<std::string>> saved_arguments;

// The interruption handler's side (at the end of this file).
void install_interruption_handlers();
// The signal mask outside any InterruptionsHeld, for a child to start with.
sigset_t unheld_signal_mask();
// Registers and forgets a running child for the interruption handler.
void remember_child(pid_t pid);
void forget_child(pid_t pid);

// The system's text for an error number and the number, nothing else.
Failure os_failure(int error) {
  return Failure::of(std::string(std::strerror(error)) + " (os error " + std::to_string(error) +
                     ")");
}

// Requires: nothing ran since the failed call that could change errno (not
// even a destructor that frees memory), so callers keep their paths in
// named strings.
std::unexpected<Failure> last_os_failure() {
  return std::unexpected(os_failure(errno));
}

// Random characters for names that must not be guessed or collide.
std::string random_suffix() {
  static std::mt19937_64 generator = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), static_cast<unsigned>(getpid()), device()};
    return std::mt19937_64(seed);
  }();
  static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string out;
  for (int i = 0; i < 12; ++i) {
    out.push_back(letters[generator() % (sizeof letters - 1)]);
  }
  return out;
}

// How many names to try before giving up on a directory that is full of
// collisions (or hostile); the last EEXIST is then reported.
constexpr int unique_name_attempts = 64;

Result<File> open_file(std::string_view path, int flags) {
  const std::string text(path);
  for (;;) {
    const int fd = ::open(text.c_str(), flags | O_CLOEXEC, 0666);
    if (fd >= 0) {
      return FileAccess::make(fd);
    }
    if (errno != EINTR) {
      return last_os_failure();
    }
  }
}

int descriptor(Stream stream) {
  return stream == Stream::output ? STDOUT_FILENO : STDERR_FILENO;
}

// Bytes in quoted diagnostic form: valid UTF-8 printable characters as they
// are, the usual escapes for quotes, backslash and control characters, and
// \xNN for each byte that is not part of valid UTF-8.
std::string quote_bytes(std::string_view bytes) {
  std::string out = "\"";
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t start = pos;
    const char32_t c = unicode::decode_next(bytes, pos);
    const bool invalid =
        c == unicode::replacement_character && bytes.substr(start, pos - start) != "\xEF\xBF\xBD";
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
    append_quoted_char(out, c);
  }
  out += '"';
  return out;
}

}  // namespace

void initialise_process(int argc, char** argv) {
  // A closed pipe on standard output must show up as a failed write, which
  // the program reports, rather than end the process silently.
  std::signal(SIGPIPE, SIG_IGN);
  install_interruption_handlers();
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

std::vector<std::optional<std::string>> arguments() {
  return saved_arguments;
}

void exit_process(int status) {
  std::_Exit(status);
}

std::string_view path_separators() {
  return "/";
}

EnvValue environment_variable(std::string_view name) {
  EnvValue result;
  // getenv cannot look up a name holding '=' or NUL; such a variable can
  // never be set, so it is simply not present.
  if (name.empty() || name.find('=') != std::string_view::npos ||
      name.find('\0') != std::string_view::npos) {
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
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found_entry) != 0 ||
        found_entry == nullptr || found_entry->pw_dir == nullptr) {
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
    // Linux releases the descriptor even when close reports EINTR, so it is
    // never retried.
    (void)::close(static_cast<int>(handle_));
    handle_ = closed;
  }
}

Result<> File::sync_and_close() {
  const int fd = static_cast<int>(handle_);
  handle_ = closed;
  int error = 0;
  if (::fsync(fd) != 0) {
    error = errno;
  }
  // Even when close reports EINTR the descriptor is gone; the data then
  // went through fsync already, so only another error counts.
  if (::close(fd) != 0 && error == 0 && errno != EINTR) {
    error = errno;
  }
  if (error != 0) {
    return std::unexpected(os_failure(error));
  }
  return {};
}

Result<std::size_t> File::read_some(std::span<char> buffer) {
  while (true) {
    const ssize_t count = ::read(FileAccess::descriptor(*this), buffer.data(), buffer.size());
    if (count >= 0) {
      return static_cast<std::size_t>(count);
    }
    if (errno != EINTR) {
      return last_os_failure();
    }
  }
}

Result<> File::write_all(std::string_view bytes) {
  const int fd = static_cast<int>(handle_);
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return last_os_failure();
    }
    if (written == 0) {
      return fail("failed to write whole buffer");
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

bool exists(std::string_view path) {
  struct stat info {};
  return ::stat(std::string(path).c_str(), &info) == 0;
}

Result<> delete_file(std::string_view path) {
  const std::string text(path);
  if (::unlink(text.c_str()) != 0) {
    return last_os_failure();
  }
  return {};
}

Result<File> open_for_append(std::string_view path) {
  return open_file(path, O_WRONLY | O_CREAT | O_APPEND);
}

Result<File> open_for_write(std::string_view path) {
  return open_file(path, O_WRONLY | O_CREAT | O_TRUNC);
}

Result<File> create_new_file(std::string_view path) {
  // O_EXCL also refuses a dangling link, so nothing planted is followed.
  return open_file(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW);
}

Result<std::string> read_whole(std::string_view path) {
  Result<File> file = open_file(path, O_RDONLY);
  if (!file) {
    return std::unexpected(std::move(file.error()));
  }
  const int fd = FileAccess::descriptor(*file);
  std::string content;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_size > 0) {
    content.reserve(static_cast<std::size_t>(info.st_size));
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return last_os_failure();
    }
    if (got == 0) {
      return content;
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

std::expected<void, RenameFailure> rename_file(std::string_view from, std::string_view to) {
  if (::rename(std::string(from).c_str(), std::string(to).c_str()) != 0) {
    const int error = errno;
    return std::unexpected(RenameFailure{os_failure(error), error == EXDEV});
  }
  return {};
}

std::string parent_directory(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos) {
    return ".";
  }
  if (slash == 0) {
    return "/";
  }
  return std::string(path.substr(0, slash));
}

std::string join_path(std::string_view directory, std::string_view name) {
  std::string out(directory);
  if (!out.empty() && out.back() != '/') {
    out.push_back('/');
  }
  out.append(name);
  return out;
}

// ---- Temporary directories ---------------------------------------------------

std::optional<std::string> temporary_directory() {
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir == nullptr || *tmpdir == '\0') {
    return std::string("/tmp");
  }
  std::string value(tmpdir);
  // Paths are texts inside the program; a directory it cannot name as one
  // cannot be used.
  if (!unicode::is_valid_utf8(value)) {
    return std::nullopt;
  }
  return value;
}

Result<std::string> create_private_directory(std::string_view parent, std::string_view prefix) {
  int error = EEXIST;
  for (int attempt = 0; attempt < unique_name_attempts && error == EEXIST; ++attempt) {
    std::string path = join_path(parent, std::string(prefix) + random_suffix());
    // mkdir never follows a link at the last component and fails on
    // anything already there; the umask can only take bits away from 0700.
    if (::mkdir(path.c_str(), 0700) == 0) {
      return path;
    }
    error = errno;
  }
  return std::unexpected(os_failure(error));
}

Result<> remove_directory(std::string_view path) {
  const std::string text(path);
  if (::rmdir(text.c_str()) != 0) {
    return last_os_failure();
  }
  return {};
}

namespace {

// A new file of a random name in directory, created with mode (less the
// umask) in one call, never through a link.
Result<std::pair<File, std::string>> create_unique_with_mode(std::string_view directory,
                                                             std::string_view prefix, mode_t mode) {
  Failure last = os_failure(EEXIST);
  for (int attempt = 0; attempt < unique_name_attempts; ++attempt) {
    std::string path = join_path(directory, std::string(prefix) + random_suffix());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      return std::pair<File, std::string>(FileAccess::make(fd), std::move(path));
    }
    // Saved first: building the failure calls strerror and allocates.
    const int error = errno;
    if (error == EINTR) {
      continue;
    }
    last = os_failure(error);
    if (error != EEXIST) {
      break;
    }
  }
  return std::unexpected(std::move(last));
}

}  // namespace

Result<std::pair<File, std::string>> create_unique_file(std::string_view directory,
                                                        std::string_view prefix) {
  return create_unique_with_mode(directory, prefix, 0666);
}

// ---- Child processes ---------------------------------------------------------

namespace {

// Waits until the child has ended and reaps it, forgetting it in the same
// step, so that the interruption handler never signals a process group
// whose leader was reaped (its number may be taken again).
Result<int> reap(pid_t pid) {
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
    if (errno != EINTR) {
      const int error = errno;
      forget_child(pid);
      return std::unexpected(os_failure(error));
    }
  }
  const InterruptionsHeld held;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      const int error = errno;
      forget_child(pid);
      return std::unexpected(os_failure(error));
    }
  }
  forget_child(pid);
  return status;
}

}  // namespace

Child::~Child() {
  if (process_ != -1 && !waited_) {
    // Never leave a zombie behind, whichever way the build left.
    (void)reap(static_cast<pid_t>(process_));
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
  const Result<int> reaped = reap(static_cast<pid_t>(process_));
  if (!reaped) {
    return std::unexpected(reaped.error());
  }
  const int status = *reaped;
  waited_ = true;
  ChildEnd end;
  if (WIFSIGNALED(status)) {
    end.signalled = true;
    end.value = static_cast<std::uint32_t>(WTERMSIG(status));
  } else {
    end.value = static_cast<std::uint32_t>(WEXITSTATUS(status));
  }
  return end;
}

namespace {

// Starts the command; error_fd, when not -1, becomes the child's standard
// error.
Result<Child> spawn(std::string_view program, std::span<const std::string> arguments,
                    int error_fd) {
  std::vector<std::string> texts;
  texts.reserve(arguments.size() + 1);
  texts.emplace_back(program);
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(texts.size() + 1);
  for (std::string& text : texts) {
    argv.push_back(text.data());
  }
  argv.push_back(nullptr);
  // Every descriptor the program opens is close-on-exec, so the child gets
  // standard input, output and error and nothing else. SIGPIPE is ignored
  // here; the child gets its default back, as any program expects.
  posix_spawnattr_t attributes;
  if (const int error = posix_spawnattr_init(&attributes); error != 0) {
    return std::unexpected(os_failure(error));
  }
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  // A process group of its own, so that an interrupted run can stop the
  // child with everything it started; and the signal mask as it was before
  // the interruptions were held for the start.
  posix_spawnattr_setpgroup(&attributes, 0);
  const InterruptionsHeld held;
  sigset_t mask = unheld_signal_mask();
  posix_spawnattr_setsigmask(&attributes, &mask);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  posix_spawn_file_actions_t actions;
  if (const int error = posix_spawn_file_actions_init(&actions); error != 0) {
    posix_spawnattr_destroy(&attributes);
    return std::unexpected(os_failure(error));
  }
  // dup2 clears close-on-exec on the copy, so the pipe reaches the child.
  if (error_fd != -1) {
    posix_spawn_file_actions_adddup2(&actions, error_fd, STDERR_FILENO);
  }
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    return std::unexpected(os_failure(error));
  }
  remember_child(pid);
  return ChildAccess::make(pid);
}

}  // namespace

Result<Child> start_command(std::string_view program, std::span<const std::string> arguments) {
  return spawn(program, arguments, -1);
}

Result<PipedChild> start_command_with_error_pipe(std::string_view program,
                                                 std::span<const std::string> arguments) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    return last_os_failure();
  }
  File reading = FileAccess::make(ends[0]);
  File writing = FileAccess::make(ends[1]);
  Result<Child> child = spawn(program, arguments, ends[1]);
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

std::unexpected<SourceFailure> source_os_failure(int error) {
  return std::unexpected(SourceFailure{SourceFailure::Kind::os, os_failure(error)});
}

// Opens a file for reading only if `accepted` takes its kind: a FIFO would
// block the open until a writer comes, and opening a device can have
// effects of its own, so neither is opened when the path names one.
// Opening without waiting and looking again covers a swap in between.
// `info` is left describing the file opened.
template <typename Accepted>
std::expected<File, SourceFailure> open_source(const std::string& path, struct stat& info,
                                               Accepted accepted) {
  const auto refused = [] {
    return std::unexpected(SourceFailure{SourceFailure::Kind::not_regular, {}});
  };
  if (::stat(path.c_str(), &info) == 0 && !accepted(info.st_mode)) {
    return refused();
  }
  int fd = -1;
  while ((fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) < 0) {
    if (errno != EINTR) return source_os_failure(errno);
  }
  File file = FileAccess::make(fd);
  if (::fstat(fd, &info) != 0) {
    return source_os_failure(errno);
  }
  if (!accepted(info.st_mode)) {
    return refused();
  }
  return file;
}

}  // namespace

std::expected<std::string, SourceFailure> read_regular_file(std::string_view path) {
  const auto os = source_os_failure;
  struct stat info {};
  const auto file = open_source(std::string(path), info,
                                [](mode_t mode) { return S_ISREG(mode) || S_ISDIR(mode); });
  if (!file) return std::unexpected(file.error());
  const int fd = FileAccess::descriptor(*file);
  try {
    std::string content;
    if (info.st_size > 0) {
      const auto size = static_cast<std::size_t>(info.st_size);
      if (!can_allocate(size)) {
        return std::unexpected(SourceFailure{SourceFailure::Kind::too_large, {}});
      }
      content.reserve(size);
    }
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0) {
        if (errno == EINTR) continue;
        return os(errno);
      }
      if (got == 0) {
        return content;
      }
      content.append(buffer, static_cast<std::size_t>(got));
    }
  } catch (const std::bad_alloc&) {
    return std::unexpected(SourceFailure{SourceFailure::Kind::too_large, {}});
  } catch (const std::length_error&) {
    return std::unexpected(SourceFailure{SourceFailure::Kind::too_large, {}});
  }
}

std::optional<std::uint64_t> regular_file_size(std::string_view path) {
  struct stat info {};
  if (::stat(std::string(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(info.st_size);
}

void sync_directory(std::string_view path) {
  const int fd = ::open(std::string(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return;
  }
  (void)::fsync(fd);
  (void)::close(fd);
}

void remove_stale_files(std::string_view directory, std::string_view prefix,
                        std::int64_t max_age_seconds) {
  DIR* listing = ::opendir(std::string(directory).c_str());
  if (listing == nullptr) {
    return;
  }
  const int fd = ::dirfd(listing);
  const std::time_t before = std::time(nullptr) - static_cast<std::time_t>(max_age_seconds);
  const uid_t user = ::geteuid();
  while (const dirent* entry = ::readdir(listing)) {
    if (!std::string_view(entry->d_name).starts_with(prefix)) continue;
    struct stat info {};
    if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(info.st_mode) && info.st_uid == user && info.st_mtime < before) {
      (void)::unlinkat(fd, entry->d_name, 0);
    }
  }
  ::closedir(listing);
}

bool is_shared_unsafely(std::string_view directory) {
  struct stat info {};
  return ::stat(std::string(directory).c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         (info.st_mode & S_IWOTH) != 0 && (info.st_mode & S_ISVTX) == 0;
}

std::optional<std::string> system_temporary_directory() {
  return std::string("/tmp");
}

namespace {

// What the interruption handler reads. It may run at any moment, so every
// piece is a fixed buffer or an atomic, filled while interruptions are
// held, and the handler uses async-signal-safe calls alone.
constexpr std::array<int, 3> interruptions = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t most_children = 16;
constexpr std::size_t most_names = 8;

std::array<std::atomic<pid_t>, most_children> running_children{};
std::atomic<int> registered_directory{-1};  // a descriptor on the run's folder
char registered_directory_path[PATH_MAX];
char registered_names[most_names][NAME_MAX + 1];
std::size_t registered_name_count = 0;
char registered_file[PATH_MAX];
std::atomic<bool> file_registered{false};

thread_local int held_depth = 0;
thread_local sigset_t mask_before_hold;

sigset_t interruption_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : interruptions) sigaddset(&set, signal);
  return set;
}

bool copy_text(char* buffer, std::size_t size, std::string_view text) {
  if (text.size() >= size || text.find('\0') != std::string_view::npos) return false;
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return true;
}

extern "C" void on_interruption(int signal) {
  // The child first, with everything it started, and waited for, so that
  // nothing writes into the run's folder while it goes.
  for (std::atomic<pid_t>& slot : running_children) {
    const pid_t pid = slot.load();
    if (pid > 0) {
      (void)::kill(-pid, SIGKILL);
      (void)::kill(pid, SIGKILL);
    }
  }
  for (std::atomic<pid_t>& slot : running_children) {
    const pid_t pid = slot.load();
    if (pid > 0) {
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
  }
  if (file_registered.load()) {
    (void)::unlink(registered_file);
  }
  if (const int fd = registered_directory.load(); fd >= 0) {
    for (std::size_t i = 0; i < registered_name_count; ++i) {
      (void)::unlinkat(fd, registered_names[i], 0);
    }
    (void)::rmdir(registered_directory_path);
  }
  ::_exit(128 + signal);
}

void install_interruption_handlers() {
  struct sigaction action {};
  action.sa_handler = on_interruption;
  action.sa_mask = interruption_set();
  for (const int signal : interruptions) {
    struct sigaction before {};
    // A signal the caller ignores (nohup, a background job) stays ignored.
    if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
      (void)::sigaction(signal, &action, nullptr);
    }
  }
}

sigset_t unheld_signal_mask() {
  if (held_depth > 0) return mask_before_hold;
  sigset_t mask;
  (void)::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  return mask;
}

void remember_child(pid_t pid) {
  for (std::atomic<pid_t>& slot : running_children) {
    pid_t empty = 0;
    if (slot.compare_exchange_strong(empty, pid)) return;
  }
}

void forget_child(pid_t pid) {
  for (std::atomic<pid_t>& slot : running_children) {
    pid_t found = pid;
    if (slot.compare_exchange_strong(found, 0)) return;
  }
}

}  // namespace

InterruptionsHeld::InterruptionsHeld() {
  if (held_depth++ == 0) {
    const sigset_t set = interruption_set();
    (void)::pthread_sigmask(SIG_BLOCK, &set, &mask_before_hold);
  }
}

InterruptionsHeld::~InterruptionsHeld() {
  if (--held_depth == 0) {
    (void)::pthread_sigmask(SIG_SETMASK, &mask_before_hold, nullptr);
  }
}

void remove_directory_on_interruption(std::string_view directory,
                                      std::span<const std::string_view> names) {
  const int old = registered_directory.exchange(-1);
  if (old >= 0) {
    (void)::close(old);
  }
  if (directory.empty() ||
      !copy_text(registered_directory_path, sizeof registered_directory_path, directory)) {
    return;
  }
  registered_name_count = 0;
  for (const std::string_view name : names) {
    if (registered_name_count < most_names &&
        copy_text(registered_names[registered_name_count], sizeof registered_names[0], name)) {
      ++registered_name_count;
    }
  }
  // The folder is taken by a handle: the files go from the folder that was
  // made even if something else is put at its path.
  const int fd = ::open(registered_directory_path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  registered_directory.store(fd);
}

void remove_on_interruption(std::string_view path) {
  file_registered.store(false);
  if (!path.empty() && copy_text(registered_file, sizeof registered_file, path)) {
    file_registered.store(true);
  }
}

void remove_registered_directory() {
  const InterruptionsHeld held;
  const int fd = registered_directory.load();
  if (fd < 0) {
    return;
  }
  for (std::size_t i = 0; i < registered_name_count; ++i) {
    (void)::unlinkat(fd, registered_names[i], 0);
  }
  if (is_registered_directory(registered_directory_path)) {
    (void)::rmdir(registered_directory_path);
  }
  remove_directory_on_interruption({}, {});
}

bool is_registered_directory(std::string_view path) {
  const int fd = registered_directory.load();
  if (fd < 0) {
    return true;
  }
  struct stat held {};
  struct stat there {};
  return ::fstat(fd, &held) == 0 && ::lstat(std::string(path).c_str(), &there) == 0 &&
         S_ISDIR(there.st_mode) && held.st_dev == there.st_dev && held.st_ino == there.st_ino;
}

// ---- File identity and folders (the minifier cache) ------------------------

namespace {

FileStamp stamp_of(const struct stat& info) {
  return FileStamp{
      static_cast<std::uint64_t>(info.st_size),
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

}  // namespace

std::optional<FileStamp> file_stamp(std::string_view path) {
  struct stat info {};
  if (::stat(std::string(path).c_str(), &info) != 0) {
    return std::nullopt;
  }
  return stamp_of(info);
}

std::optional<std::string> find_command(std::string_view program) {
  if (program.find('/') != std::string_view::npos) {
    return std::string(program);
  }
  // posix_spawnp's search: PATH's folders in order, an empty entry meaning
  // the current folder, and the C library's default when PATH is unset.
  const char* raw = std::getenv("PATH");
  const std::string_view list = raw != nullptr ? raw : "/bin:/usr/bin";
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = list.find(':', start);
    const std::string_view folder =
        list.substr(start, colon == std::string_view::npos ? colon : colon - start);
    const std::string candidate = join_path(folder.empty() ? "." : folder, program);
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (colon == std::string_view::npos) {
      return std::nullopt;
    }
    start = colon + 1;
  }
}

std::optional<std::string> final_path(std::string_view path) {
  char* resolved = ::realpath(std::string(path).c_str(), nullptr);
  if (resolved == nullptr) {
    return std::nullopt;
  }
  std::string out(resolved);
  std::free(resolved);
  return out;
}

Result<std::vector<DirectoryFile>> list_files(std::string_view directory) {
  const std::string folder(directory);
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) {
    return last_os_failure();
  }
  std::vector<DirectoryFile> files;
  errno = 0;
  while (const dirent* entry = ::readdir(listing)) {
    struct stat info {};
    if (::fstatat(::dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode)) {
      files.push_back(DirectoryFile{entry->d_name, stamp_of(info), info.st_uid == ::geteuid()});
    }
    errno = 0;
  }
  const int error = errno;
  ::closedir(listing);
  if (error != 0) {
    return std::unexpected(os_failure(error));
  }
  return files;
}

Result<> create_directories(std::string_view path) {
  // Each missing level from the top down; one that appears meanwhile (a
  // concurrent run making the same folder) is as good as one made here.
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string level(path.substr(0, end));
    if (!level.empty() && ::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
      return last_os_failure();
    }
    if (end == std::string_view::npos) {
      break;
    }
  }
  struct stat info {};
  const std::string text(path);
  if (::stat(text.c_str(), &info) != 0) {
    return last_os_failure();
  }
  if (!S_ISDIR(info.st_mode)) {
    return std::unexpected(os_failure(ENOTDIR));
  }
  return {};
}

Result<std::pair<File, std::string>> create_private_file(std::string_view directory,
                                                         std::string_view prefix) {
  // 0600 from the start: a file readable for a moment could be opened by
  // someone else then and read once the content is in.
  return create_unique_with_mode(directory, prefix, 0600);
}

// ---- The cache folder as a trust boundary -----------------------------------

Result<FolderTrust> folder_trust(std::string_view path) {
  const std::string text(path);
  struct stat info {};
  if (::stat(text.c_str(), &info) != 0) {
    if (errno == ENOENT) return FolderTrust::absent;
    return last_os_failure();
  }
  if (!S_ISDIR(info.st_mode)) return std::unexpected(os_failure(ENOTDIR));
  if (info.st_uid != ::geteuid()) return FolderTrust::foreign_owner;
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return FolderTrust::writable_by_others;
  return FolderTrust::trusted;
}

std::optional<OwnedFile> open_owned_file(std::string_view path) {
  const std::string text(path);
  int fd = -1;
  while ((fd = ::open(text.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) <
         0) {
    if (errno != EINTR) return std::nullopt;
  }
  File file = FileAccess::make(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
    return std::nullopt;
  }
  return OwnedFile{std::move(file), static_cast<std::uint64_t>(info.st_size)};
}

Result<std::string> read_up_to(File& file, std::size_t count) {
  const int fd = FileAccess::descriptor(file);
  std::string content;
  try {
    // Grown as bytes come: a file shorter than count costs only its size.
    char buffer[65536];
    while (content.size() < count) {
      const ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, count - content.size()));
      if (got < 0) {
        if (errno == EINTR) continue;
        return last_os_failure();
      }
      if (got == 0) break;
      content.append(buffer, static_cast<std::size_t>(got));
    }
  } catch (const std::bad_alloc&) {
    return std::unexpected(os_failure(ENOMEM));
  }
  return content;
}

std::optional<std::string> read_file_start(std::string_view path, std::size_t count) {
  struct stat info {};
  auto file = open_source(std::string(path), info, [](mode_t mode) { return S_ISREG(mode); });
  if (!file) return std::nullopt;
  Result<std::string> start = read_up_to(*file, count);
  if (!start) return std::nullopt;
  return std::move(*start);
}

Result<> touch_file(File& file) {
  if (::futimens(FileAccess::descriptor(file), nullptr) != 0) {
    return last_os_failure();
  }
  return {};
}

// ---- Destination folders and the console clock ------------------------------

Result<> check_folder_writable(std::string_view path) {
  const std::string text(path);
  struct stat info {};
  if (::stat(text.c_str(), &info) != 0) {
    return last_os_failure();
  }
  if (!S_ISDIR(info.st_mode)) {
    return std::unexpected(os_failure(ENOTDIR));
  }
  // The effective ids, as the rename will use them; a read-only mount is
  // EROFS here as there.
  if (::faccessat(AT_FDCWD, text.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    return last_os_failure();
  }
  return {};
}

std::optional<std::size_t> console_columns(Stream stream) {
  const int fd = descriptor(stream);
  if (!isatty(fd)) return std::nullopt;
  const char* term = std::getenv("TERM");
  if (term == nullptr || *term == '\0' || std::strcmp(term, "dumb") == 0) return std::nullopt;
  struct winsize size {};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
    return 80;  // a terminal that does not tell; the usual width
  }
  return size.ws_col;
}

Result<> close_file(File& file) {
  const int fd = FileAccess::release(file);
  // The descriptor is gone after close, EINTR included (Linux).
  if (::close(fd) != 0 && errno != EINTR) {
    return last_os_failure();
  }
  return {};
}

}  // namespace brelix::platform
