#include "foundation/log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <thread>

#include "foundation/events.h"

namespace lapora {

Logger::Logger(EventQueue& events) : m_events(events) {}

void Logger::SetLogFilePath(const std::string& path) {
  std::lock_guard lock(m_pathMutex);
  m_path = path;
}

std::string Logger::LogFilePath() const {
  std::lock_guard lock(m_pathMutex);
  return m_path;
}

void Logger::PostLog(int level, const std::string& text) {
  LogLineEvent line;
  if (MakeLogLine(level, text, &line)) {
    m_events.Post(std::move(line));
  }
}

bool Logger::MakeLogLine(int level, std::string text, LogLineEvent* line) const {
  if (!m_postingEnabled) {
    return false;
  }
  if (text.size() > kMaxText) {
    text.resize(kMaxText);
  }
  line->level = level;
  line->text = std::move(text);
  return true;
}

void Logger::PostLogF(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = StrFBounded(kMaxText, format, args);
  va_end(args);
  PostLog(level, text);
}

void Logger::PostLogBilingual(int level, const char* frenchFormat, const char* englishFormat, ...) {
  const char* format = BuildLanguage() == Language::kFrench ? frenchFormat : englishFormat;
  va_list args;
  va_start(args, englishFormat);
  std::string text = StrFBounded(kMaxText, format, args);
  va_end(args);
  PostLog(level, text);
}

void Logger::PostLogMsg(int level, Message message, ...) {
  std::string format = Tr(message);
  va_list args;
  va_start(args, message);
  std::string text = StrFBounded(kMaxText, format.c_str(), args);
  va_end(args);
  PostLog(level, text);
}

void Logger::PostAlert(const std::string& text, bool show) {
  if (show) {
    m_events.Post(AlertEvent{text});
  }
  PostLog(0, "######## " + text);
}

void Logger::WriteLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = StrFBounded(kMaxText, format, args);
  va_end(args);
  WriteLogText(text);
}

void Logger::WriteLogText(const std::string& text) {
  if (text == "\n") {
    AppendFileBytes("\r\n");
    return;
  }
  AppendFileLine(text);
}

void Logger::BeginFileBatch() {
  std::lock_guard lock(m_batchMutex);
  if (m_batchDepth++ == 0) {
    m_batchThread = std::this_thread::get_id();
  }
}

void Logger::EndFileBatch() {
  std::lock_guard lock(m_batchMutex);
  WriteFileBatchLocked();
  if (m_batchDepth > 0) {
    --m_batchDepth;
  }
}

void Logger::WriteFileBatch() {
  std::lock_guard lock(m_batchMutex);
  WriteFileBatchLocked();
}

void Logger::WriteFileBatchLocked() {
  if (m_batch.empty()) {
    return;
  }
  std::string path = LogFilePath();
  // Failures are not reported (the log cannot log itself).
  if (FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), "ab")) {
    std::fwrite(m_batch.data(), 1, m_batch.size(), f);
    std::fclose(f);
  }
  m_batch.clear();
}

void Logger::AppendFileBytes(const std::string& bytes) {
  std::lock_guard lock(m_batchMutex);
  // Only the batching thread's lines wait: another thread's line goes out at once, as it would
  // have been written before the window handled the lines batched so far anyway.
  if (m_batchDepth > 0 && std::this_thread::get_id() == m_batchThread) {
    m_batch += bytes;
    return;
  }
  std::string path = LogFilePath();
  // Open, write, close for every line: the file is complete after each line and can be read
  // while the program runs.
  if (FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), "ab")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

bool Logger::HandlePostedText(int level, const std::string& text, std::string* windowLine) {
  if (level > m_level) {
    return false;
  }
  std::string rendered = Render(text);
  if (windowLine != nullptr) {
    *windowLine = StampNow() + " " + rendered;
  }
  AppendFileLine(rendered);
  return true;
}

std::string Logger::Render(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\r') {
      out += "<CR>";
    } else if (c == '\n') {
      out += "<LF>";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string Logger::TimeStamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) {
    return {};
  }
  char buffer[128];
  std::size_t n = std::strftime(buffer, sizeof buffer, "%d %B %Y - %H:%M:%S", &local);
  // Under a UTF-8 locale the month names come as UTF-8 ("août"); texts inside are
  // Windows-1252. Single-byte locales give bytes that are not valid UTF-8 and pass unchanged.
  return Utf8ToCp1252(std::string_view(buffer, n));
}

void Logger::AppendFileLine(const std::string& text) {
  if (LogFilePath().empty()) {
    return;
  }
  AppendFileBytes(StampNow() + " : " + text + "\r\n");
}

std::string Logger::StampNow() {
  // A burst's lines share their second: the stamp is made once per second.
  std::lock_guard lock(m_batchMutex);
  std::time_t now = std::time(nullptr);
  if (now != m_stampTime) {
    m_stamp = TimeStamp();
    m_stampTime = now;
  }
  return m_stamp;
}

std::size_t LogList::Add(const std::string& line) {
  m_lines.push_back(line);
  if (m_lines.size() <= kMaxLines) {
    return 0;
  }
  m_log.WriteLog("Purge Log Window content...");
  m_lines.erase(m_lines.begin(), m_lines.begin() + kPurgeLines);
  m_log.WriteLog("Purge Log Window done");
  return kPurgeLines;
}

}  // namespace lapora
