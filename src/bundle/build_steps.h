#pragma once
// What the JavaScript and the style-sheet builds share: the progress lines,
// reading a source by its written path, the line feed that keeps sources
// apart, and the final move of an output to its destination.

#include <string>
#include <string_view>

#include "src/bundle/bundle.h"
#include "src/bundle/run_directory.h"
#include "src/failure.h"
#include "src/platform/env.h"

namespace brelix {

// What a build works with: the system it asks everything of and the run's
// folder it assembles its outputs in. Both outlive the build.
struct BuildContext {
  platform::Env& env;
  RunDirectory& directory;
};

// The progress suffixes, in the order a full build prints them.
inline constexpr std::string_view progress_start = ": start";
inline constexpr std::string_view progress_concatenating = ": Concatenating files";
inline constexpr std::string_view progress_concatenating_done = ": Concatenating done";
inline constexpr std::string_view progress_processing = ": Processing files";
inline constexpr std::string_view progress_appending = ": Appeding extra";
inline constexpr std::string_view progress_appending_done = ": Appeding done";
inline constexpr std::string_view progress_done = ": done";

// Printed after ": Processing files" by a build that leaves its release
// output as it was (debug_only_variable).
inline constexpr std::string_view progress_release_not_rebuilt =
    ": Release output not rebuilt (BRELIX_DEBUG_ONLY)";

// Opt-in switches, each on when its variable is "1" exactly:
// only the debug outputs are built, for a developer's edit-and-reload loop;
// a destination whose bytes a build would not change is left alone, so
// that its modification time and identity stay.
inline constexpr std::string_view debug_only_variable = "BRELIX_DEBUG_ONLY";
inline constexpr std::string_view keep_unchanged_variable = "BRELIX_KEEP_UNCHANGED";

// The cause added to a destination folder's failure, before the folder.
inline constexpr std::string_view destination_folder_cause = "the destination folder ";

// What a build was doing when the system failed it, added to the report
// with the path (see with_action).
inline constexpr std::string_view action_reading_source = "reading source";
inline constexpr std::string_view action_writing = "writing";
inline constexpr std::string_view action_moving = "moving into place";

inline constexpr std::string_view progress_write_failed =
    "could not write a progress line to standard output";

// Prints the bundle's name, the suffix and a line feed to standard output
// in one write. A write that fails is the fault progress_write_failed.
Result<> print_progress(platform::Env& env, std::string_view name, std::string_view suffix);

// Prints ": done" and then an empty line, each in one write.
Result<> print_done(platform::Env& env, std::string_view name);

// Expands a written source path and reads the file whole. A failed
// expansion comes back as its own failure, unchanged; an OS failure as the
// system's text, with action_reading_source and the expanded path. A FIFO, device or other file
// that is not a regular file is refused without waiting on it, and a file too large for memory is a
// failure; both name the file.
Result<std::string> read_source(platform::Env& env, std::string_view written_path);

// Deletes whatever a file left at path, then opens it for append: an
// output that must never start with an earlier failed run's content.
Result<platform::File> open_cleared_for_append(platform::Env& env, const std::string& path);

// True when bytes are a source after which one line feed must follow, so
// that a source ending inside a // comment cannot swallow the first line of
// the next: not empty, and the last byte is not a line feed.
bool needs_line_feed(std::string_view bytes);

// Writes bytes and, when needs_line_feed says so, one line feed to file.
Result<> write_source(platform::Env& env, platform::File& file, std::string_view bytes);

// Flushes, syncs and closes a working file before it is moved into place,
// so that a write the system could only report then is not taken for
// success. The failure names the file. Without durable the file is closed
// and its failure reported, but the build does not wait for the storage:
// for debug-only builds, whose outputs the next save makes again.
Result<> finish_working_file(platform::Env& env, platform::File& file, std::string_view path,
                             bool durable = true);

// Moves the file at from to to, replacing a file there. A rename where it
// can be; when the two lie on different devices or volumes, a copy into a
// new temporary file beside the destination that is then renamed over it,
// so the destination is never half written either way; from is removed
// after that. A failed copy removes its temporary file and reports the
// system's error; other failures are the rename's own. On failure the
// destination is as it was. The copy is removed on an interruption too, and
// copies that earlier runs killed outright left beside the destination are
// removed once they are older than any run.
Result<> move_file(platform::Env& env, std::string_view from, std::string_view to);

// Moves a bundle's two finished working files to its destinations, the
// debug output first, stopping at the first failure; then syncs each
// destination folder once, so that the renames are durable. An empty
// release path is a build that made only the debug output. With
// keep_unchanged_variable on, a working file whose bytes equal its
// destination's is deleted instead and the destination stays untouched.
Result<> move_outputs(platform::Env& env, const std::string& debug, const std::string& release,
                      const Bundle& bundle);

// True when the variable is "1".
bool switched_on(platform::Env& env, std::string_view variable);

// Checks, before a build reads its sources, that the folder of out_debug,
// and of out when release_too, can take the moves at the end: the failure
// is the one the move would report, its cause destination_folder_cause and
// the folder.
Result<> check_destination_folders(platform::Env& env, const Bundle& bundle, bool release_too);

}  // namespace brelix
