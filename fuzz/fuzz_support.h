// Helpers shared by the fuzz targets: a scratch folder for the files a target writes, the
// real log and event queue drained the way the main thread drains them, and a failure report
// that makes libFuzzer keep the input. One fuzzing thread per process.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <variant>

#include "foundation/events.h"
#include "foundation/log.h"

namespace lapora::fuzz {

// A folder of the process's own, removed when the process ends normally.
class ScratchFolder {
 public:
  ScratchFolder() {
    // Memory-backed when the system has such a folder: a disk-backed one makes the targets
    // that write a file per input many times slower.
    std::error_code error;
    std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    std::string pattern = (base / "lapora-fuzz-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (made == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    m_path = made;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return m_path; }
  std::string File(std::string_view name) const { return m_path + "/" + std::string(name); }

 private:
  std::string m_path;
};

inline void WriteWholeFile(const std::string& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A broken property: print what was expected and stop, so that libFuzzer saves the input.
[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz property broken: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

inline void Check(bool holds, const std::string& what) {
  if (!holds) {
    Fail(what);
  }
}

// Handles every pending event as the main thread would: each posted log text goes through the
// log's own rendering (no log file is set, so nothing is written). Returns the texts shown.
inline std::size_t DrainEvents(EventQueue& events, Logger& log) {
  std::size_t shown = 0;
  events.Dispatch([&](const Event& event) {
    if (const auto* line = std::get_if<LogLineEvent>(&event)) {
      std::string windowLine;
      if (log.HandlePostedText(line->level, line->text, &windowLine)) {
        ++shown;
      }
    }
  });
  return shown;
}

}  // namespace lapora::fuzz
