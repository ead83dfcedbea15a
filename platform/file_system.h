/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Files and directories as the setup programs use them.
//
// Paths are absolute POSIX paths. None of these functions throws; each
// blocks only on the file system. Failures return false / nullopt and, where
// an error pointer is given, say which call failed and why.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/system_error.h"

namespace lyralink::platform {

enum class EntryKind : uint8_t { none, file, directory, other };

// What is at `path`, following symbolic links; none when nothing (or a
// dangling link) is there.
EntryKind entry_kind(const std::string& path);
// Whether anything, a dangling symbolic link included, has that name.
bool entry_present(const std::string& path);
inline bool is_directory(const std::string& path) { return entry_kind(path) == EntryKind::directory; }

// Creates one directory level (mode 0755 before the umask). False when it
// already exists or cannot be created.
bool make_directory(const std::string& path, SystemError* error = nullptr);
// Removes an empty directory; false when it is missing, not empty or refused.
bool remove_directory(const std::string& path);
// Deletes a file or symbolic link (never a directory). True when the name
// is gone afterwards.
bool delete_file(const std::string& path);

// Acting on a path without passing a symbolic link.
//
// What the setup programs take away is named by an uninstall log, and a
// directory named there may since have been replaced by a symbolic link
// (by whoever may write to the directory above it). These functions walk
// the path from "/" one level at a time, each directory opened with
// O_NOFOLLOW relative to the one before, and act on the last name relative
// to the directory so opened. A link on the way is never followed, and a
// level swapped for one during the walk ends it instead of redirecting it.
// The path must be absolute; empty and "." levels are passed over, a ".."
// level is refused. Each blocks only on the file system.
enum class InPlace : uint8_t {
  done,          // acted on (or, for make_directory_writable_in_place, writable already)
  missing,       // nothing of that name, or a level on the way is no directory
  through_link,  // a level on the way is a symbolic link (for the directory
                 // calls: or the entry itself); nothing was touched
  failed,        // refused by the system (permissions, not empty, ...) or a ".." level
};
// Deletes a file, or a symbolic link itself (never what it points to);
// never a directory (failed). The file's own permission bits are left as
// they are: deleting a name needs only the write permission of its
// directory, and a chmod would reach every other hard link of the file.
InPlace delete_file_in_place(const std::string& path);
// Removes an empty directory.
InPlace remove_directory_in_place(const std::string& path);
// Gives a directory its owner's write permission (the "normal"
// attributes), so that what is in it can be removed.
InPlace make_directory_writable_in_place(const std::string& path);

// The working directory, as the system has it (no symbolic links in it);
// nullopt when it cannot be found (removed, or too long).
std::optional<std::string> working_directory();

// Last-write time in nanoseconds since the epoch; nullopt when missing.
std::optional<int64_t> last_write_time_ns(const std::string& path);

enum class CopyResult : uint8_t { copied, source_missing, failed };
// Copies source to target through "<target dir>/.<name>.part", then renames
// it over the target, so a half-copied file never replaces a good one. The
// copy keeps the source's permission bits and last-write time. A leftover
// part file of an earlier copy is replaced.
CopyResult copy_file(const std::string& source, const std::string& target, SystemError* error = nullptr);
// "<dir>/.<name>.part" for "<dir>/<name>".
std::string part_file_path(const std::string& target);

// The whole file, up to max_bytes (nullopt when larger, missing or unreadable).
std::optional<std::string> read_file(const std::string& path, size_t max_bytes = 16u << 20);

// A file read together with who owns it, as the system told it for the same
// open file (so the checks and the content belong to one file).
struct OwnedFile {
  std::string content;
  UserId owner = 0;
  uint32_t mode = 0;  // permission bits
  bool regular = false;
};
// The file is reached as the functions above reach their paths: never
// through a symbolic link, and a link as the file itself is not read
// either. nullopt when it is missing, unreadable or larger than 16 MiB;
// `place` (when given) then tells whether a link was the reason.
std::optional<OwnedFile> read_owned_file(const std::string& path, InPlace* place = nullptr);

// Creates a new file (never an existing one) with exactly `mode`, whatever
// the umask, holding `text`. False when the name exists or on failure.
bool create_new_file(const std::string& path, const std::string& text, uint32_t mode, SystemError* error = nullptr);
// Appends `text` with one write and closes the file again. False on failure.
bool append_to_file(const std::string& path, const std::string& text, SystemError* error = nullptr);
// Writes `text` to a fresh file made with mkstemp from `templ` (ending in
// XXXXXX) with mode 0600; the file's path, or nullopt.
std::optional<std::string> create_temporary_file(const std::string& templ, const std::string& text,
                                                 SystemError* error = nullptr);
// Writes a whole file at `path` (created or truncated) with `mode`.
bool write_file(const std::string& path, const std::string& text, uint32_t mode, SystemError* error = nullptr);

// Names of the subdirectories of `dir` ("." and ".." not counted), in
// directory order; links to directories count.
std::vector<std::string> subdirectory_names(const std::string& dir);
// Whether `dir` has at least one subdirectory (stops at the first).
bool has_subdirectory(const std::string& dir);

// The absolute path with every link, "." and ".." resolved; nullopt when
// it does not exist.
std::optional<std::string> canonical_path(const std::string& path);

// Whether at least one existing file or directory matches the shell
// wildcard pattern (glob: *, ?, [...]).
bool pattern_matches_existing(const std::string& pattern);

}  // namespace lyralink::platform
