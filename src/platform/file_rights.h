// Files meant for this user alone: a new file made so that nothing already at its name (a file,
// a link planted by someone else) is ever written through, and the narrowing of a file that
// holds secrets but lets others in. Thread-safe (no state).
#pragma once

#include <string>

namespace lapora {

enum class CreateFileResult { kCreated, kExists, kFailed };

// Creates path as a new empty file that only its owner may read and write. kExists when
// anything at all is there already: a link is never followed, not even one that points nowhere.
CreateFileResult CreatePrivateFile(const std::string& path, std::string* errorText = nullptr);

enum class NarrowResult { kMissing, kAlreadyPrivate, kNarrowed, kFailed };

// Takes from an existing file every right its group and others have, and its owner's execute
// right with them; never adds a right. *oldRights receives the rights found (e.g. 0644) unless
// the file is missing.
NarrowResult NarrowToOwner(const std::string& path, unsigned* oldRights,
                           std::string* errorText = nullptr);

}  // namespace lapora
