// The running log: texts posted from any thread with a level, handled on the main thread
// (filtered by the log level, shown in the log list, appended to Lapora.log), and texts
// written straight to the file (banners, purge notices). Post*/WriteLog are thread-safe;
// HandlePostedText and LogList belong to the main thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "foundation/text.h"

namespace lapora {

class EventQueue;
struct LogLineEvent;

class Logger {
 public:
  // Largest text kept after formatting (the formatting buffers hold 1024 characters).
  static constexpr std::size_t kMaxText = 1023;

  explicit Logger(EventQueue& events);

  void SetLogFilePath(const std::string& path);
  std::string LogFilePath() const;

  // Texts posted before the main window handles them are dropped.
  void SetPostingEnabled(bool enabled) { m_postingEnabled = enabled; }
  bool PostingEnabled() const { return m_postingEnabled; }

  void SetLevel(int level) { m_level = level; }
  int Level() const { return m_level; }

  // Any thread; returns at once.
  void PostLog(int level, const std::string& text);
  // Any thread: the event PostLog would post, for posting it in a batch with others; false
  // (nothing to post) while posting is not enabled.
  bool MakeLogLine(int level, std::string text, LogLineEvent* line) const;
  void PostLogF(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Picks the format by the build language, then as PostLogF.
  void PostLogBilingual(int level, const char* frenchFormat, const char* englishFormat, ...);
  // Formats a catalogue entry in the build language. The entry comes by value: the variable
  // arguments cannot start after a reference.
  void PostLogMsg(int level, Message message, ...);
  // show: the text is also shown in a message box by the main thread. Then posts
  // "######## " + text at level 0.
  void PostAlert(const std::string& text, bool show);

  // Appends one line to the file at once, on the calling thread, with no level and no list
  // entry. A text that is exactly "\n" writes an empty line.
  void WriteLog(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void WriteLogText(const std::string& text);

  // Main thread, for each posted text: renders it, appends the file line when the level
  // passes, and returns true with the window line (time stamp, blank, rendered text) when it
  // must be shown.
  bool HandlePostedText(int level, const std::string& text, std::string* windowLine);

  // Main thread, around a window turn's posted texts: the file lines the thread makes in the
  // turn (posted texts and its own WriteLog, in order) are kept and written by one
  // open-write-close at EndFileBatch or WriteFileBatch, not one per line; other threads' lines
  // go out at once. Batches nest.
  void BeginFileBatch();
  void EndFileBatch();
  // Writes the lines kept so far (before the program may block, e.g. on a message box).
  void WriteFileBatch();

  // "<CR>"/"<LF>" in place of carriage returns and line feeds.
  static std::string Render(const std::string& text);
  // Local time as "%d %B %Y - %H:%M:%S" in the current locale; empty if it cannot be made.
  static std::string TimeStamp();

 private:
  void AppendFileLine(const std::string& text);
  void AppendFileBytes(const std::string& bytes);
  std::string StampNow();
  void WriteFileBatchLocked();

  EventQueue& m_events;
  mutable std::mutex m_pathMutex;
  std::string m_path;
  std::mutex m_batchMutex;
  int m_batchDepth = 0;           // under m_batchMutex
  std::thread::id m_batchThread;  // under m_batchMutex
  std::string m_batch;            // under m_batchMutex
  std::time_t m_stampTime = -1;   // the last time stamp made, under m_batchMutex
  std::string m_stamp;
  std::atomic<bool> m_postingEnabled{false};
  std::atomic<int> m_level{50};
};

// The log window's lines, capped: above 8000 lines the 2000 oldest go, with two notices in the
// file. Main thread only.
class LogList {
 public:
  static constexpr std::size_t kMaxLines = 8000;
  static constexpr std::size_t kPurgeLines = 2000;

  explicit LogList(Logger& log) : m_log(log) {}
  // Returns the number of lines purged from the front (0 usually).
  std::size_t Add(const std::string& line);
  void Clear() { m_lines.clear(); }
  const std::deque<std::string>& Lines() const { return m_lines; }

 private:
  Logger& m_log;
  std::deque<std::string> m_lines;
};

}  // namespace lapora
