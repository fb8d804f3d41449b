// Whole-file reads and crash-safe whole-file replacement: the new content goes to a temporary
// file beside the target, is synced, then renamed over the target, so a reader (or a restart
// after a crash) sees either the old file or the new one, never a part. Thread-safe as long as
// two threads do not replace the same file at once.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace lapora {

enum class ReadFileResult { kRead, kMissing, kFailed };

// Reads the whole file into content. kMissing when it does not exist.
ReadFileResult ReadWholeFile(const std::string& path, std::string* content,
                             std::string* errorText = nullptr);

// kKeep: an existing file keeps its rights, a new one gets 0644. kOwnerOnly: the file ends up
// readable and writable by its owner only (0600) whatever it had, and is never readable by
// others on the way, its temporary file being made 0600.
enum class FileRights { kKeep, kOwnerOnly };

// What a replacement promises. kSynced: the new content is on the disk before it takes the
// name, so it survives a power loss. kWhole: readers only ever see the old file or the new one
// whole (no sync: for files that are rewritten often and can be made again).
enum class FileDurability { kSynced, kWhole };

// Replaces path by a file holding content, with rights as said above. A symbolic link is
// followed: its target is replaced. On failure the old file is unchanged and no temporary file
// is left. A reader that opened the old file keeps reading the old content whole. An existing
// device or pipe is written to, not replaced.
[[nodiscard]] bool WriteFileAtomically(const std::string& path, const std::string& content,
                                       std::string* errorText = nullptr,
                                       FileRights rights = FileRights::kKeep,
                                       FileDurability durability = FileDurability::kSynced);

// Writes one piece of a file; false once a write failed.
using PieceWriter = std::function<bool(std::string_view)>;
// WriteFileAtomically for content made in pieces, so that it need not be held whole: fill
// writes the pieces in order and returns false to give up (the old file then stays).
[[nodiscard]] bool WriteFileInPieces(const std::string& path,
                                     const std::function<bool(const PieceWriter&)>& fill,
                                     std::string* errorText = nullptr,
                                     FileRights rights = FileRights::kKeep,
                                     FileDurability durability = FileDurability::kSynced);

// For content written by other means (a library that writes to a path): a new empty file beside
// path ("path.tmp-XXXXXX", with the permissions of the existing file, or 0644) to be filled and
// then renamed over path with ReplaceWithTemporary (path itself is replaced, even when it is a
// symbolic link). Empty on failure.
std::string CreateTemporaryBeside(const std::string& path, std::string* errorText = nullptr);
// Renames temporary over path; on failure removes temporary (path is unchanged).
[[nodiscard]] bool ReplaceWithTemporary(const std::string& temporary, const std::string& path,
                                        std::string* errorText = nullptr);

// Syncs the folder holding path, so that a rename inside it survives a power loss.
bool SyncParentFolder(const std::string& path);

}  // namespace lapora
