#pragma once
// The platform layer: every operating-system call the program makes goes
// through this header. There is one POSIX and one Win32 implementation
// beside it; nothing above this layer includes a system header or tests
// which platform it is built for.
//
// Texts cross this boundary as UTF-8. OS failures come back as a Failure
// whose message is the system's text for the error followed by
// " (os error N)", with no context added.

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "src/failure.h"

namespace brelix::platform {

// ---- Process ---------------------------------------------------------------

// Call first thing in main, with main's own parameters: keeps the argument
// list (Windows reads the UTF-16 command line from the OS instead) and sets
// up what the rest relies on (on POSIX a closed standard output must be a
// write failure, not death by SIGPIPE).
void initialise_process(int argc, char** argv);

// The argument list, argument zero included. An argument that is not valid
// Unicode (POSIX: not UTF-8; Windows: an unpaired surrogate) is nullopt.
std::vector<std::optional<std::string>> arguments();

[[noreturn]] void exit_process(int status);

// The characters that separate the components of a path as the OS reads
// it: "/" on POSIX, both "\\" and "/" on Windows.
std::string_view path_separators();

// ---- Environment -----------------------------------------------------------

struct EnvValue {
  enum class State { present, not_present, not_unicode };
  State state = State::not_present;
  // The value when present.
  std::string value;
  // When not_unicode: the raw value in quoted diagnostic form, e.g. "a\xff"
  // (POSIX bytes) or "a\u{d800}" (Windows UTF-16 units), quotes included.
  std::string raw_quoted;
};

EnvValue environment_variable(std::string_view name);

// The user's home (profile) folder; nullopt when it cannot be determined or
// is not valid Unicode.
std::optional<std::string> home_directory();

// ---- Standard streams and console -------------------------------------------

enum class Stream { output, error };

// Writes all of text; false when the stream refused any of it.
bool write(Stream stream, std::string_view text);
// Flushes what the OS may still hold for the stream; false on failure.
bool flush(Stream stream);

// True when the stream is a console or terminal that shows colours and
// styles: not redirected, NO_COLOR unset, on POSIX TERM set and not "dumb",
// on Windows virtual-terminal processing could be enabled.
bool is_colour_console(Stream stream);

// ---- Files -----------------------------------------------------------------
//
// Every handle is opened non-inheritable, so a child process (the minifier)
// never holds one of the build's files open, and lets other handles and
// processes read, write, delete and rename the file while it is open: the
// build keeps its own handles on a file while the minifier rewrites it and
// while the file is moved away.

// An open file, closed when the object goes.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool is_open() const { return handle_ != closed; }

  // Writes all of bytes, repeating partial writes and retrying interrupted
  // ones. A write that accepts no byte is the failure "failed to write
  // whole buffer". Requires: is_open().
  Result<> write_all(std::string_view bytes);

  // Closes now rather than at destruction; closing a closed file does
  // nothing. A failure to close is not reported: every write has already
  // been checked when it was made.
  void close();

  // Flushes what the system still holds for the file to its storage, then
  // closes it, reporting a failure of either (a write-back error can first
  // show up at either step on network and user-space file systems). The
  // file is closed whatever happens. Requires: is_open().
  Result<> sync_and_close();

  // Reads what is there, up to buffer's size, waiting for at least one
  // byte: the count read, 0 at the end of the stream (a pipe whose every
  // writer has closed it). Requires: is_open().
  Result<std::size_t> read_some(std::span<char> buffer);

 private:
  static constexpr std::intptr_t closed = -1;
  explicit File(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = closed;  // POSIX descriptor or Win32 HANDLE

  // The platform's implementation file makes and reads handles through it.
  friend struct FileAccess;
};

// True when a metadata query on the path succeeds (links followed).
bool exists(std::string_view path);

// Removes a file (not a directory).
Result<> delete_file(std::string_view path);

// Creates the file if missing; every write goes to its end; never truncates.
Result<File> open_for_append(std::string_view path);

// Creates the file if missing and truncates it to length zero if present.
Result<File> open_for_write(std::string_view path);

// Creates the file, failing if anything exists at the path (a link there is
// not followed). The file gets the access a newly created file normally
// gets (POSIX: 0666 less the umask).
Result<File> create_new_file(std::string_view path);

// The whole content, as bytes; nothing is decoded.
Result<std::string> read_whole(std::string_view path);

// Why a rename failed, and whether only because the two paths lie on
// different devices (POSIX EXDEV) or volumes (ERROR_NOT_SAME_DEVICE), in
// which case a copy can stand in for it.
struct RenameFailure {
  Failure failure;
  bool cross_device = false;
};

// Renames a file, replacing a file already at `to`.
std::expected<void, RenameFailure> rename_file(std::string_view from, std::string_view to);

// The directory part of a path ("." when it has none).
std::string parent_directory(std::string_view path);

// The directory with one more path component appended, with the platform's
// separator unless the directory already ends with one.
std::string join_path(std::string_view directory, std::string_view name);

// ---- Temporary directories ---------------------------------------------------

// The directory the platform reports for temporary files: POSIX TMPDIR when
// set and not empty, else /tmp; Windows GetTempPath2W, or GetTempPathW where
// that is missing. nullopt when it cannot be determined or is not valid
// Unicode.
std::optional<std::string> temporary_directory();

// Creates a new directory named `prefix` followed by random characters
// inside parent, exclusively (never one that existed before, never through
// a link), with access for the owner only (POSIX 0700; Windows a protected
// access list granting the current user alone). Returns its path.
Result<std::string> create_private_directory(std::string_view parent, std::string_view prefix);

// Removes an empty directory.
Result<> remove_directory(std::string_view path);

// Creates a new file named `prefix` followed by random characters inside
// directory, as create_new_file does. Returns the file and its path.
Result<std::pair<File, std::string>> create_unique_file(std::string_view directory,
                                                        std::string_view prefix);

// ---- Child processes ---------------------------------------------------------

// How a child ended: its exit status, or (POSIX) the signal that killed it.
struct ChildEnd {
  bool signalled = false;
  // The exit status (Windows: GetExitCodeProcess, unsigned) or the signal.
  std::uint32_t value = 0;
  bool success() const { return !signalled && value == 0; }
};

// A started child process; the record is released when the object goes
// (a child that was never waited for is waited for then, so none is left
// behind).
class Child {
 public:
  Child() = default;
  ~Child();
  Child(Child&& other) noexcept;
  Child& operator=(Child&& other) noexcept;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Waits until the child has ended. Requires: started and not yet waited.
  Result<ChildEnd> wait();

 private:
  std::intptr_t process_ = -1;  // POSIX pid or Win32 process HANDLE
  bool waited_ = false;
  friend struct ChildAccess;
};

// Starts a command with the program's own standard streams, working
// directory and environment. POSIX: the program is looked up on PATH and
// started directly, no shell. Windows: the command interpreter cmd runs it
// ("/V:OFF /C" and the command), so that cmd finds it as the user's console
// would (uglifyjs is a .cmd script there); the program and every argument
// are quoted so that cmd interprets none of their characters and the
// program receives each argument exactly.
Result<Child> start_command(std::string_view program, std::span<const std::string> arguments);

// A started child whose standard error goes into a pipe, and the pipe's
// reading end (non-inheritable, as every handle the program opens).
struct PipedChild {
  Child child;
  File error;
};

// As start_command, with the child's standard error going into a new pipe
// instead of the program's own, so that the program can read what the
// child reports there. The child must be waited for after the pipe is
// read to its end: one that fills the pipe waits for it to be read.
Result<PipedChild> start_command_with_error_pipe(std::string_view program,
                                                 std::span<const std::string> arguments);

// ---- Reliability: sources, durability, interruptions --------------------------

// Why a source could not be read: the system's failure, a file that is not
// a regular file (a FIFO, a device, a socket; opened without waiting for a
// writer), or one larger than the memory the program can get.
struct SourceFailure {
  enum class Kind { os, not_regular, too_large };
  Kind kind = Kind::os;
  Failure failure;  // the system's failure when kind is os
};

// The whole content of a regular file, as bytes. A directory fails as the
// system fails reading one.
std::expected<std::string, SourceFailure> read_regular_file(std::string_view path);

// The size of the regular file at path (links followed); nullopt when
// nothing is there or it is not a regular file.
std::optional<std::uint64_t> regular_file_size(std::string_view path);

// Makes a rename into the directory durable (POSIX: fsync of the
// directory). Best effort: a file system that cannot sync a directory is
// no failure, and Windows has no such step.
void sync_directory(std::string_view path);

// Removes the regular files in directory whose names start with prefix,
// that belong to the current user and were last written more than
// max_age_seconds ago: what runs killed in the middle of a step left
// behind. Links, folders and other users' files are left alone, and so is
// everything when the directory cannot be listed.
void remove_stale_files(std::string_view directory, std::string_view prefix,
                        std::int64_t max_age_seconds);

// True when other users could rename or replace what is inside the
// directory: POSIX, writable by all and without the sticky bit. False when
// it is safe, cannot be looked at (creating inside it reports that), or on
// Windows, where the access list of the run's folder protects it.
bool is_shared_unsafely(std::string_view directory);

// The system's own temporary directory, whatever the environment says
// (POSIX /tmp; Windows as temporary_directory), for when the one the
// environment names is shared unsafely.
std::optional<std::string> system_temporary_directory();

// While an object of this type lives, interruptions (POSIX SIGINT, SIGTERM,
// SIGHUP; Windows console control events) wait, so that what the handler
// must undo is registered together with the step that makes it.
class InterruptionsHeld {
 public:
  InterruptionsHeld();
  ~InterruptionsHeld();
  InterruptionsHeld(const InterruptionsHeld&) = delete;
  InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;
};

// Exit statuses of an interrupted run: 128 and the POSIX signal number.
inline constexpr int interrupted_status = 130;  // SIGINT, Ctrl-C, Ctrl-Break
inline constexpr int terminated_status = 143;   // SIGTERM, log-off, shutdown
inline constexpr int hung_up_status = 129;      // SIGHUP, console closed

// Tells the interruption handler, installed by initialise_process, what to
// undo: on an interruption it stops every running child (with all it
// started), deletes the named files inside directory and the directory, and
// the file set by remove_on_interruption, then exits with the status above,
// writing nothing. Call while InterruptionsHeld lives. The names must
// outlive the registration; an empty directory clears it.
void remove_directory_on_interruption(std::string_view directory,
                                      std::span<const std::string_view> names);
void remove_on_interruption(std::string_view path);

// True when the directory at path is still the one the run registered for
// removal (not replaced, not a link). True when none is registered.
bool is_registered_directory(std::string_view path);

// Removes what remove_directory_on_interruption registered, as the handler
// would: the named files from the directory that was registered (through
// its handle, wherever it now is), then the directory if it is still at
// its path and empty; and clears the registration.
void remove_registered_directory();
// ---- Content hashing, file identity and folders (the minifier cache) --------

using Sha256Digest = std::array<std::uint8_t, 32>;

// The SHA-256 of the pieces joined end to end, from the system's
// cryptography (OpenSSL's libcrypto on POSIX, BCrypt on Windows).
Result<Sha256Digest> sha256(std::span<const std::string_view> pieces);

// Size and last modification time (nanoseconds since the platform's
// epoch) of what a path names, links followed.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modified = 0;
};
std::optional<FileStamp> file_stamp(std::string_view path);

// The file start_command would run for program, or nullopt when there is
// none. POSIX: the first executable regular file of that name in PATH's
// folders, as posix_spawnp searches. Windows: as cmd looks it up, the
// current folder first (unless NoDefaultCurrentDirectoryInExePath is set),
// then PATH's folders, in each the name with every PATHEXT extension.
std::optional<std::string> find_command(std::string_view program);

// The path with every link resolved, or nullopt when it cannot be.
std::optional<std::string> final_path(std::string_view path);

// The regular files directly in directory, by name, with their stamps.
struct DirectoryFile {
  std::string name;
  FileStamp stamp;
  bool owned = false;  // belongs to the current user
};
Result<std::vector<DirectoryFile>> list_files(std::string_view directory);

// Creates the directory and any missing parents, each new one with access
// for the owner only, as create_private_directory gives. Succeeds when a
// directory is already there.
Result<> create_directories(std::string_view path);

// As create_unique_file, but the new file is readable and writable by its
// owner alone (POSIX 0600; Windows the owner-only access list).
Result<std::pair<File, std::string>> create_private_file(std::string_view directory,
                                                         std::string_view prefix);

// ---- The cache folder as a trust boundary -----------------------------------
//
// What the cache folder holds goes into the bundles, so only what the
// current user alone could have put there may be used.

// Whether the folder at path (links followed) is the current user's alone:
// POSIX, it belongs to the effective user and neither its group nor others
// may write it; Windows, its owner is the user (or the owner the user's
// new files get) and its access list lets nobody else but SYSTEM and the
// Administrators (who can take any file anyway) write it. absent when
// nothing is there; a failure when it cannot be looked at or is no folder.
enum class FolderTrust { trusted, absent, foreign_owner, writable_by_others };
Result<FolderTrust> folder_trust(std::string_view path);

// A file open for reading (and for setting its times), with its size when
// it was opened.
struct OwnedFile {
  File file;
  std::uint64_t size = 0;
};

// Opens the file at path only if it is a regular file of the current user:
// a link at the path is not followed, a FIFO or device is not waited for,
// and the checks are made on the open handle, so nothing can be swapped in
// between. nullopt otherwise, or when nothing is there.
std::optional<OwnedFile> open_owned_file(std::string_view path);

// Reads on from the file's position until count bytes or its end, whichever
// comes first: never more than count. Requires: is_open().
Result<std::string> read_up_to(File& file, std::size_t count);

// Up to count bytes from the start of the regular file at path (links
// followed; a FIFO or device is not read); nullopt when there is none.
std::optional<std::string> read_file_start(std::string_view path, std::size_t count);

// Sets the open file's modification time to now: the file itself, whatever
// its path names by now. Requires: opened by open_owned_file.
Result<> touch_file(File& file);

// ---- Destination folders and the console clock ------------------------------

// Succeeds when path is a folder into which this process may move a file;
// otherwise the failure such a move would report (POSIX ENOENT, ENOTDIR,
// EACCES, EROFS; Windows ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED), so a
// build can fail before its long work. POSIX asks the system and changes
// nothing; Windows, which cannot tell without trying, creates a file of a
// random name there that goes again when it is closed, at once.
Result<> check_folder_writable(std::string_view path);

// The width in columns of the console or terminal the stream shows on, for
// a status line drawn over itself; nullopt when the stream is redirected,
// and on POSIX also when TERM is unset or "dumb", as is_colour_console
// decides.
std::optional<std::size_t> console_columns(Stream stream);

// Closes the file, reporting a failure the system gives only then (a
// write-back error on network and user-space file systems), without
// waiting for the data to reach its storage as File::sync_and_close does.
// The file is closed whatever happens. Requires: file.is_open().
Result<> close_file(File& file);

}  // namespace brelix::platform
