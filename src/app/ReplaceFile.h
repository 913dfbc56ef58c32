#pragma once
// Replacing a file whole, so that a reader of the path sees either the old
// contents or the new ones, never a mixture or a half-written file.
//
// The bytes go into a fresh temporary file in the target's folder (".hx40k-"
// followed by random letters and ".part": it starts with a dot and so can
// never be taken for a data file or a timer file), which is synced, renamed
// over the target, and then the folder is synced. Any failure removes the
// temporary file and leaves an earlier file of that name untouched.
//
// Lives in src/app, the lowest folder, because the timer file, the data files,
// the results log and the study files all write through it. Any thread; no
// shared state.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>

namespace hx {

enum class ReplaceStage {
    kNone,    // the file was replaced
    kCreate,  // the file could not be created (folder missing, no permission,
              // the target is a folder, a write-protected file or anything
              // but a regular file: a device, a pipe, a symbolic link)
    kWrite,   // writing, syncing, closing or renaming failed after creation
    kExists,  // keeping existing files was asked for and the name is taken
};

enum class IfExists {
    kReplace,  // an existing file of the name is replaced
    kKeep,     // an existing file is kept and the write fails with kExists;
               // also when another writer takes the name meanwhile
};

struct ReplaceFileResult {
    ReplaceStage failedAt = ReplaceStage::kNone;
    int error = 0;  // errno of the failing step
    bool ok() const { return failedAt == ReplaceStage::kNone; }
};

// Writes all size bytes of data to fd, going on after signals and short
// writes; false with errno set on failure (ENOSPC when the file system takes
// no more bytes).
bool writeAll(int fd, const void* data, std::size_t size);

// Writes bytes to path as described above. A new file gets the usual
// permissions (0666 less the umask); a replaced file keeps its own, without
// the set-user-ID, set-group-ID and sticky bits.
ReplaceFileResult replaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes,
                                      IfExists ifExists = IfExists::kReplace);

// A temporary file left by a copy of the program that was killed in mid-write
// stays for ever. This removes those of folder that are at least
// kStaleTemporaryAgeS old (seconds since 1970 in now) and that no running
// copy holds open (a writer keeps its temporary file locked). Returns how
// many were removed. Called at start-up for the data folder.
constexpr std::time_t kStaleTemporaryAgeS = 60;
std::size_t removeStaleTemporaryFiles(const std::string& folder, std::time_t now);

}  // namespace hx
