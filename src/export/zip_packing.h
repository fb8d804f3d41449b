// ZIP packing of export files through minizip: one deflated entry per file (default level),
// named after the file without its folder, dated with the file's last-write time in local time,
// no extra fields or comments. Diagnostics go to the standard output. Plain functions: safe from
// any thread as long as two calls do not write the same archive.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace lapora {

inline constexpr int kZipOk = 0;
inline constexpr int kZipFailed = -1;      // archive not created, source unreadable, write failed
inline constexpr int kZipNoMemory = -104;  // the copy buffer could not be had
inline constexpr std::size_t kZipBlockSize = 8192;

// One source file into a new archive. The archive is written under a temporary name beside it
// and renamed over an existing one once complete, so that a reader sees the old archive or the
// new one whole. 0 on success, else kZipNoMemory, kZipFailed or the negative minizip code of
// the failing step; on failure neither the temporary file nor an older archive is left.
[[nodiscard]] int zpZipFile(const std::string& source, const std::string& archive);
// The same with one entry per source, in the order given.
[[nodiscard]] int ZipFiles(const std::vector<std::string>& sources, const std::string& archive);

}  // namespace lapora
