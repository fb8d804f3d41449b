#include "detections/recorded_detections.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <limits>

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

std::optional<TornDetectionFile> FindTornEarlierDetectionFile(const std::string& folder,
                                                              const std::string& currentPath) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path newest;
  fs::file_time_type newestTime{};
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    std::string name = path.filename().string();
    if (name.rfind("Lapora-", 0) != 0 || path.extension() != ".dat" ||
        path.string() == currentPath || !it->is_regular_file(error)) {
      continue;
    }
    fs::file_time_type time = it->last_write_time(error);
    if (!error && (newest.empty() || time > newestTime)) {
      newest = path;
      newestTime = time;
    }
  }
  if (newest.empty()) {
    return std::nullopt;
  }
  std::ifstream in(newest, std::ios::binary | std::ios::ate);
  std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : 0;
  if (size <= 0) {
    return std::nullopt;
  }
  // A line is a few tens of bytes: the tail shows whether the last one is whole.
  constexpr std::streamoff kTail = 64 * 1024;
  std::streamoff start = size > kTail ? size - kTail : 0;
  std::string tail(static_cast<std::size_t>(size - start), '\0');
  in.seekg(start);
  if (!in.read(tail.data(), static_cast<std::streamsize>(tail.size()))) {
    return std::nullopt;
  }
  std::size_t lastEnd = tail.rfind('\n');
  std::size_t after = lastEnd == std::string::npos ? tail.size() : tail.size() - lastEnd - 1;
  if (after == 0) {
    return std::nullopt;
  }
  return TornDetectionFile{newest.string(), after};
}

std::int32_t NextRecordId(std::int32_t last) {
  // After the wrap-around through the negative numbers, -1 becomes 1.
  std::int32_t next = last == std::numeric_limits<std::int32_t>::max()
                          ? std::numeric_limits<std::int32_t>::min()
                          : last + 1;
  return next == -1 || next == 0 ? 1 : next;
}

CRecordedDetections::CRecordedDetections(Logger& log) : m_log(log), m_writer(log) {}

CRecordedDetections::~CRecordedDetections() = default;

CKolResult CRecordedDetections::AddDetectionRecord(const std::string& detectorLabel,
                                                   const std::string& bibText,
                                                   const CChrono& absTime, const CChrono& raceTime,
                                                   int kindMarker, bool writeToFile,
                                                   RecordRelease release) {
  bool releaseNow = false;
  CKolResult record;
  {
    std::lock_guard lock(m_recordsMutex);
    record = AddLocked(detectorLabel, bibText, absTime, raceTime, kindMarker, writeToFile, &release,
                       &releaseNow);
  }
  if (releaseNow && release.sink != nullptr) {
    release.sink->ReleaseRecord(record, release);
  }
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

void CRecordedDetections::EnsureDetectionFileOpen() {
  std::lock_guard lock(m_recordsMutex);
  if (!m_fileOpen && !m_filePath.empty()) {
    OpenFileLocked(m_filePath);
  }
}

bool CRecordedDetections::IsDetectionFileOpen() const {
  std::lock_guard lock(m_recordsMutex);
  return m_fileOpen;
}

std::string CRecordedDetections::DetectionFilePath() const {
  std::lock_guard lock(m_recordsMutex);
  return m_filePath;
}

CKolResult CRecordedDetections::AddLocked(const std::string& detectorLabel,
                                          const std::string& bibText, const CChrono& absTime,
                                          const CChrono& raceTime, int kindMarker, bool writeToFile,
                                          RecordRelease* release, bool* releaseNow) {
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

  *releaseNow = !writeToFile || m_filePath.empty();
  if (!*releaseNow) {
    // Whoever records has a file: a line recorded after "disconnect all" (a box started from
    // its menu, a manual entry, a replay) reopens the run's file.
    if (!m_fileOpen) {
      OpenFileLocked(m_filePath);
    }
    m_lineScratch.clear();
    AppendDetectionLine(m_lineScratch, static_cast<int>(m_records.size()), record);
    m_writer.QueueLine(m_filePath, m_lineScratch, record, std::move(*release));
  }
  return record;
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

std::vector<ClearedRecords> CRecordedDetections::TakeClearedRecords() {
  std::lock_guard lock(m_recordsMutex);
  return std::exchange(m_cleared, {});
}

void CRecordedDetections::ClearLocked() {
  // Moved, not freed: the box threads waiting for the lock wait for two swaps, not for a
  // million records to be freed.
  if (!m_records.empty() || !m_byId.empty()) {
    m_cleared.push_back(ClearedRecords{std::exchange(m_records, {}), std::exchange(m_byId, {})});
  }
  m_validCount = 0;
}

void CRecordedDetections::OpenFileLocked(const std::string& path) {
  if (m_fileOpen && path == m_filePath) {
    return;
  }
  if (path != m_filePath) {
    m_filePaths.push_back(path);
  }
  m_filePath = path;
  m_fileOpen = true;
  m_log.PostLog(0, StrF(Tr(kMsgOpeningDetectionFile).c_str(), path.c_str()));
  m_writer.QueueOpen(path);
}

void CRecordedDetections::CloseFileLocked() {
  if (m_fileOpen) {
    m_fileOpen = false;
    m_writer.QueueClose();
  }
}

}  // namespace lapora
