// A library for LD_PRELOAD that stands between a program and its writes to
// regular files (standard input, output and error are left alone), so that
// a test can count them and make any one of them fail as a full or broken
// disk would.
//
//   REFUSE_WRITES_SENTINEL  a file created as the library loads, so that a
//                           test can tell that it did
//   REFUSE_WRITES_LOG       gets one line per write: the file's path and
//                           the number of bytes asked for
//   REFUSE_WRITES_FAIL_AT   N: the Nth write fails, writing nothing
//   REFUSE_WRITES_ERRNO     the error it fails with (ENOSPC when unset)
//   REFUSE_WRITES_TERM_AT   N: the Nth write raises SIGTERM first, as a
//                           signal arriving at that moment would
//   REFUSE_WRITES_SYNC_AT   N: the Nth fsync of a regular file fails with
//                           that error, as a write-back error shows up
//   REFUSE_WRITES_CLOSE_AT  N: the Nth close of a regular file opened for
//                           writing fails with it, the descriptor closed
//                           all the same (as on NFS)
//
// The library takes itself out of LD_PRELOAD as it loads: the programs the
// process starts (the minifier) write as usual.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using write_function = ssize_t (*)(int, const void*, size_t);
using pwrite_function = ssize_t (*)(int, const void*, size_t, off_t);
using writev_function = ssize_t (*)(int, const struct iovec*, int);
using descriptor_function = int (*)(int);

write_function real_write = nullptr;
pwrite_function real_pwrite = nullptr;
writev_function real_writev = nullptr;
descriptor_function real_fsync = nullptr;
descriptor_function real_close = nullptr;
long term_at = 0;
long sync_fail_at = 0;
long close_fail_at = 0;
long syncs = 0;
long closes = 0;

int log_fd = -1;
long fail_at = 0;
int fail_error = ENOSPC;
long writes = 0;

void load_real_functions() {
  if (real_write != nullptr) return;
  real_write = reinterpret_cast<write_function>(dlsym(RTLD_NEXT, "write"));
  real_pwrite = reinterpret_cast<pwrite_function>(dlsym(RTLD_NEXT, "pwrite"));
  real_writev = reinterpret_cast<writev_function>(dlsym(RTLD_NEXT, "writev"));
  real_fsync = reinterpret_cast<descriptor_function>(dlsym(RTLD_NEXT, "fsync"));
  real_close = reinterpret_cast<descriptor_function>(dlsym(RTLD_NEXT, "close"));
}

__attribute__((constructor)) void load() {
  load_real_functions();
  unsetenv("LD_PRELOAD");
  if (const char* log = std::getenv("REFUSE_WRITES_LOG"); log != nullptr) {
    log_fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  }
  if (const char* at = std::getenv("REFUSE_WRITES_FAIL_AT"); at != nullptr) fail_at = std::atol(at);
  if (const char* error = std::getenv("REFUSE_WRITES_ERRNO"); error != nullptr)
    fail_error = std::atoi(error);
  if (const char* at = std::getenv("REFUSE_WRITES_SYNC_AT"); at != nullptr)
    sync_fail_at = std::atol(at);
  if (const char* at = std::getenv("REFUSE_WRITES_TERM_AT"); at != nullptr) term_at = std::atol(at);
  if (const char* at = std::getenv("REFUSE_WRITES_CLOSE_AT"); at != nullptr)
    close_fail_at = std::atol(at);
  if (const char* sentinel = std::getenv("REFUSE_WRITES_SENTINEL"); sentinel != nullptr) {
    const int fd = open(sentinel, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) real_close(fd);
  }
}

// Counts a write to fd of size bytes and says whether it is to fail.
bool refuse(int fd, size_t size) {
  load_real_functions();
  struct stat info {};
  if (fd <= STDERR_FILENO || fd == log_fd || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    return false;
  ++writes;
  if (log_fd >= 0) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[4096];
    const ssize_t length = readlink(link, path, sizeof path - 1);
    path[length > 0 ? length : 0] = '\0';
    char line[4200];
    const int n = std::snprintf(line, sizeof line, "%s %zu\n", path, size);
    if (n > 0 && static_cast<size_t>(n) < sizeof line)
      (void)real_write(log_fd, line, static_cast<size_t>(n));
  }
  if (writes == term_at) raise(SIGTERM);
  if (writes != fail_at) return false;
  errno = fail_error;
  return true;
}

// A regular file's descriptor, and for close one open for writing too.
bool is_counted_file(int fd, bool written) {
  struct stat info {};
  const int flags = fcntl(fd, F_GETFL);
  return fd > STDERR_FILENO && fd != log_fd && flags >= 0 &&
         (!written || (flags & O_ACCMODE) != O_RDONLY) && fstat(fd, &info) == 0 &&
         S_ISREG(info.st_mode);
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* buffer, size_t size) {
  if (refuse(fd, size)) return -1;
  return real_write(fd, buffer, size);
}

ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
  if (refuse(fd, size)) return -1;
  return real_pwrite(fd, buffer, size, offset);
}

ssize_t writev(int fd, const struct iovec* parts, int count) {
  size_t size = 0;
  for (int i = 0; i < count; ++i) size += parts[i].iov_len;
  if (refuse(fd, size)) return -1;
  return real_writev(fd, parts, count);
}

int fsync(int fd) {
  load_real_functions();
  if (is_counted_file(fd, false) && ++syncs == sync_fail_at) {
    errno = fail_error;
    return -1;
  }
  return real_fsync(fd);
}

int close(int fd) {
  load_real_functions();
  const bool counted = is_counted_file(fd, true);
  const int result = real_close(fd);
  if (counted && ++closes == close_fail_at) {
    errno = fail_error;
    return -1;
  }
  return result;
}

}  // extern "C"
