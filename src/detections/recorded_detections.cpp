#include "detections/recorded_detections.h"

#include <charconv>
#include <limits>
#include <thread>

#include "foundation/log.h"
#include "foundation/text.h"
#include "resources/messages_detections.h"

namespace lapora {

namespace {

void AppendInt(std::string& out, long value) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

// Appends the detection line of the record with its CR LF end.
void AppendDetectionLine(std::string& out, int number, const CKolResult& record) {
  AppendInt(out, number);
  out.push_back('\t');
  out.append(record.detectorLabel);
  out.push_back('\t');
  out.append(record.bibText);
  out.append("\t1\t");
  out.append(record.timeText);
  out.append(record.kindMarker != 0 ? "\t2\r\n" : "\t1\r\n");
}

}  // namespace

std::string FormatDetectionLine(int number, const CKolResult& record) {
  std::string line;
  AppendDetectionLine(line, number, record);
  return line;
}

std::string DetectionTimeText(const CChrono& absTime, const CChrono& raceTime, int kindMarker) {
  if (kindMarker == 0) {
    return raceTime.FormatHundredths();
  }
  std::string text;
  AppendInt(text, absTime.Seconds());
  text.push_back('.');
  AppendInt(text, absTime.Millis() / 10);
  return text;
}

std::int32_t NextRecordId(std::int32_t last) {
  // After the wrap-around through the negative numbers, -1 becomes 1.
  std::int32_t next = last == std::numeric_limits<std::int32_t>::max()
                          ? std::numeric_limits<std::int32_t>::min()
                          : last + 1;
  return next == -1 || next == 0 ? 1 : next;
}

CRecordedDetections::CRecordedDetections(Logger& log) : m_log(log) {}

CRecordedDetections::~CRecordedDetections() {
  std::lock_guard lock(m_recordsMutex);
  CloseFileLocked();
}

CKolResult CRecordedDetections::AddDetectionRecord(const std::string& detectorLabel,
                                                   const std::string& bibText,
                                                   const CChrono& absTime, const CChrono& raceTime,
                                                   int kindMarker, bool writeToFile) {
  std::uint64_t ticket = 0;
  CKolResult record;
  {
    std::lock_guard lock(m_recordsMutex);
    record = AddLocked(detectorLabel, bibText, absTime, raceTime, kindMarker, writeToFile, &ticket);
  }
  WriteLinesUpTo(ticket);
  return record;
}

std::optional<CKolResult> CRecordedDetections::FindRecord(int id) const {
  std::lock_guard lock(m_recordsMutex);
  return FindLocked(id);
}

bool CRecordedDetections::SetValid(int id, int valid) {
  std::lock_guard lock(m_recordsMutex);
  return SetValidLocked(id, valid);
}

int CRecordedDetections::CountValidRecords() const {
  std::lock_guard lock(m_recordsMutex);
  return m_validCount;
}

std::size_t CRecordedDetections::RecordCount() const {
  std::lock_guard lock(m_recordsMutex);
  return m_records.size();
}

void CRecordedDetections::ClearRecords() {
  std::lock_guard lock(m_recordsMutex);
  ClearLocked();
}

std::vector<CKolResult> CRecordedDetections::Snapshot() const {
  std::lock_guard lock(m_recordsMutex);
  return m_records;
}

void CRecordedDetections::OpenDetectionFile(const std::string& path) {
  std::lock_guard lock(m_recordsMutex);
  OpenFileLocked(path);
}

void CRecordedDetections::CloseDetectionFile() {
  std::lock_guard lock(m_recordsMutex);
  CloseFileLocked();
}

bool CRecordedDetections::IsDetectionFileOpen() const {
  std::lock_guard lock(m_recordsMutex);
  return m_file != nullptr;
}

std::string CRecordedDetections::DetectionFilePath() const {
  std::lock_guard lock(m_recordsMutex);
  return m_filePath;
}

CKolResult CRecordedDetections::AddLocked(const std::string& detectorLabel,
                                          const std::string& bibText, const CChrono& absTime,
                                          const CChrono& raceTime, int kindMarker, bool writeToFile,
                                          std::uint64_t* ticket) {
  // The id is taken under the lock so that ids grow in list order.
  CKolResult& record = m_records.emplace_back();
  record.bibText = bibText;
  record.timeText = DetectionTimeText(absTime, raceTime, kindMarker);
  record.detectorLabel = detectorLabel;
  record.kindMarker = kindMarker;
  record.reserved1 = 1;
  record.reserved2 = 0;
  record.valid = 1;
  m_lastId = NextRecordId(m_lastId);
  record.id = m_lastId;
  m_byId[record.id] = m_records.size() - 1;
  ++m_validCount;

  *ticket = 0;
  if (writeToFile && m_file != nullptr) {
    std::lock_guard lock(m_queueMutex);
    AppendDetectionLine(m_queuedLines, static_cast<int>(m_records.size()), record);
    *ticket = ++m_queuedCount;
  }
  return record;
}

void CRecordedDetections::WriteLinesUpTo(std::uint64_t ticket) {
  if (ticket == 0) {
    return;
  }
  // A write takes a few microseconds. Waiting for another thread's write by polling, rather
  // than sleeping on the lock, spares the wake-up of a sleeping thread, which costs more than
  // the write itself; the yield lets a box thread with work run meanwhile. A write that takes
  // long (a slow disk) ends the polling and the wait goes on on the lock.
  constexpr int kPollAttempts = 256;
  for (int attempt = 0; attempt < kPollAttempts; ++attempt) {
    if (m_writtenLines.load(std::memory_order_acquire) >= ticket) {
      return;
    }
    std::unique_lock lock(m_fileMutex, std::try_to_lock);
    if (lock.owns_lock()) {
      if (m_writtenLines.load(std::memory_order_relaxed) < ticket) {
        WriteQueuedLinesLocked();
      }
      return;
    }
    std::this_thread::yield();
  }
  std::lock_guard lock(m_fileMutex);
  if (m_writtenLines.load(std::memory_order_relaxed) < ticket) {
    WriteQueuedLinesLocked();
  }
}

void CRecordedDetections::WriteQueuedLinesLocked() {
  m_writeBuffer.clear();
  std::uint64_t queued;
  {
    std::lock_guard lock(m_queueMutex);
    m_writeBuffer.swap(m_queuedLines);  // the queue keeps the emptied buffer's capacity
    queued = m_queuedCount;
  }
  // Lines are queued only while a file is open, and a file is closed only after its queue was
  // drained, so these lines belong to m_file. Write errors are not reported: the records stay
  // in memory either way.
  if (!m_writeBuffer.empty() && m_file != nullptr) {
    std::fwrite(m_writeBuffer.data(), 1, m_writeBuffer.size(), m_file);
    std::fflush(m_file);
  }
  // Published after the write: a thread that sees its rank here knows its line is written.
  m_writtenLines.store(queued, std::memory_order_release);
}

std::optional<CKolResult> CRecordedDetections::FindLocked(int id) const {
  auto found = m_byId.find(id);
  if (found == m_byId.end()) {
    return std::nullopt;
  }
  return m_records[found->second];
}

bool CRecordedDetections::SetValidLocked(int id, int valid) {
  auto found = m_byId.find(id);
  if (found == m_byId.end()) {
    return false;
  }
  CKolResult& record = m_records[found->second];
  m_validCount += (valid != 0 ? 1 : 0) - (record.valid != 0 ? 1 : 0);
  record.valid = valid;
  return true;
}

void CRecordedDetections::ClearLocked() {
  m_records.clear();
  m_byId.clear();
  m_validCount = 0;
}

void CRecordedDetections::OpenFileLocked(const std::string& path) {
  if (m_file != nullptr && path == m_filePath) {
    return;
  }
  CloseFileLocked();
  // Binary append with explicit CR LF: the same bytes on every platform.
  std::FILE* file = std::fopen(path.c_str(), "ab");
  {
    std::lock_guard lock(m_fileMutex);
    m_file = file;
  }
  m_log.PostLog(0, StrF(Tr(kMsgOpeningDetectionFile).c_str(), path.c_str()));
  if (m_file == nullptr) {
    m_log.PostLog(0, StrF(Tr(kMsgErrorOpeningDetectionFile).c_str(), path.c_str()));
  }
  m_filePath = path;
}

void CRecordedDetections::CloseFileLocked() {
  std::lock_guard lock(m_fileMutex);
  WriteQueuedLinesLocked();  // lines queued before the close belong to this file
  if (m_file != nullptr) {
    std::fclose(m_file);
    m_file = nullptr;
  }
}

}  // namespace lapora
