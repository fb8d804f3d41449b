// The recorded detection list (the records, in recording order, with their ids) and the
// incoming-detections file that receives one detection line per record. Thread-safe: every
// operation takes m_recordsMutex, which guards the list, the id counter and the choice of file,
// so file lines come in list order with consecutive numbers. WithLock runs several steps under
// that one lock (a reset clears the list and switches files with no detection in between).
//
// The write itself is done outside m_recordsMutex, by group commit: a record's line is queued
// under the lock, then the writer drains every queued line in one write and flush. With several
// box threads recording at once, one thread's write covers the lines the others queued
// meanwhile, and nobody waits for the list while a write is in progress. AddDetectionRecord
// still returns only once its line is in the file.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "foundation/chrono.h"
#include "foundation/kol_result.h"
#include "foundation/yielding_mutex.h"

namespace lapora {

class Logger;

// The detection line: number, detector label, bib text, 1, time text, clock kind (2 for an
// absolute-clock record, else 1), tab-separated, ending with CR LF.
std::string FormatDetectionLine(int number, const CKolResult& record);

// The time text of a record: FormatHundredths of the race time of day, or for an
// absolute-clock record the Unix seconds, a point and the hundredths without padding.
std::string DetectionTimeText(const CChrono& absTime, const CChrono& raceTime, int kindMarker);

// The record id that follows `last`: ids count up from 1 and wrap through the negative numbers,
// never giving 0 or -1.
std::int32_t NextRecordId(std::int32_t last);

class CRecordedDetections {
 public:
  // The log receives the open messages of the incoming-detections file.
  explicit CRecordedDetections(Logger& log);
  ~CRecordedDetections();
  CRecordedDetections(const CRecordedDetections&) = delete;
  CRecordedDetections& operator=(const CRecordedDetections&) = delete;

  // The steps available while the lock is held (see WithLock). Valid only inside the callback.
  class Locked {
   public:
    CKolResult AddDetectionRecord(const std::string& detectorLabel, const std::string& bibText,
                                  const CChrono& absTime, const CChrono& raceTime, int kindMarker,
                                  bool writeToFile) {
      std::uint64_t ticket = 0;
      CKolResult record = m_owner.AddLocked(detectorLabel, bibText, absTime, raceTime, kindMarker,
                                            writeToFile, &ticket);
      m_owner.WriteLinesUpTo(ticket);
      return record;
    }
    std::optional<CKolResult> FindRecord(int id) const { return m_owner.FindLocked(id); }
    bool SetValid(int id, int valid) { return m_owner.SetValidLocked(id, valid); }
    int CountValidRecords() const { return m_owner.m_validCount; }
    std::size_t RecordCount() const { return m_owner.m_records.size(); }
    const std::vector<CKolResult>& Records() const { return m_owner.m_records; }
    void ClearRecords() { m_owner.ClearLocked(); }
    void OpenDetectionFile(const std::string& path) { m_owner.OpenFileLocked(path); }
    void CloseDetectionFile() { m_owner.CloseFileLocked(); }
    bool IsDetectionFileOpen() const { return m_owner.m_file != nullptr; }
    const std::string& DetectionFilePath() const { return m_owner.m_filePath; }

   private:
    friend class CRecordedDetections;
    explicit Locked(CRecordedDetections& owner) : m_owner(owner) {}
    CRecordedDetections& m_owner;
  };

  // Runs fn(Locked&) while holding m_recordsMutex and returns its result. fn must not call the
  // locking operations of this object (the mutex is not recursive).
  template <typename Fn>
  decltype(auto) WithLock(Fn&& fn) {
    std::lock_guard lock(m_recordsMutex);
    Locked locked(*this);
    return std::forward<Fn>(fn)(locked);
  }

  // Makes a record with a new id (valid, reserved fields 1 and 0), appends it and, when
  // writeToFile is set and the incoming-detections file is open, writes and flushes its line.
  // Returns a copy of the record.
  CKolResult AddDetectionRecord(const std::string& detectorLabel, const std::string& bibText,
                                const CChrono& absTime, const CChrono& raceTime, int kindMarker,
                                bool writeToFile);
  // A copy of the record with this id, or none (after ClearRecords, ids of the old records
  // are found no more).
  std::optional<CKolResult> FindRecord(int id) const;
  // Sets the valid flag of the record with this id (0 removed, 1 restored). False when the id
  // is not in the list.
  bool SetValid(int id, int valid);
  int CountValidRecords() const;
  std::size_t RecordCount() const;
  // Removes every record. The id counter goes on: the next record takes the next id.
  void ClearRecords();
  // Copies of every record, in recording order.
  std::vector<CKolResult> Snapshot() const;

  // Opens the incoming-detections file for appending (created when missing) and posts the
  // open message; does nothing when this very path is already open. On failure posts the error
  // message and leaves no file open; the path is remembered in both cases.
  void OpenDetectionFile(const std::string& path);
  void CloseDetectionFile();
  bool IsDetectionFileOpen() const;
  // The path last given to OpenDetectionFile (empty at first).
  std::string DetectionFilePath() const;

 private:
  // REQUIRES: m_recordsMutex is held (for every *Locked function below). A line queued for
  // the file sets *ticket to its rank among all queued lines (else 0): WriteLinesUpTo(*ticket)
  // writes it.
  CKolResult AddLocked(const std::string& detectorLabel, const std::string& bibText,
                       const CChrono& absTime, const CChrono& raceTime, int kindMarker,
                       bool writeToFile, std::uint64_t* ticket);
  std::optional<CKolResult> FindLocked(int id) const;
  bool SetValidLocked(int id, int valid);
  void ClearLocked();
  void OpenFileLocked(const std::string& path);
  // Drains the queued lines into the file when any is queued with a rank up to ticket (a
  // writer that came first may have written them already). Takes m_fileMutex; the caller may
  // hold m_recordsMutex.
  void WriteLinesUpTo(std::uint64_t ticket);
  // REQUIRES: m_fileMutex is held. Writes and flushes every queued line.
  void WriteQueuedLinesLocked();
  void CloseFileLocked();

  Logger& m_log;
  // Lock order: m_recordsMutex, then m_fileMutex, then m_queueMutex.
  mutable YieldingMutex m_recordsMutex;
  std::vector<CKolResult> m_records;                     // guarded by m_recordsMutex
  std::unordered_map<std::int32_t, std::size_t> m_byId;  // id -> index in m_records; guarded
  std::int32_t m_lastId = 0;                             // guarded by m_recordsMutex
  int m_validCount = 0;                                  // guarded by m_recordsMutex
  // Set only while holding both m_recordsMutex and m_fileMutex; read under either.
  std::FILE* m_file = nullptr;
  std::string m_filePath;  // guarded by m_recordsMutex

  std::mutex m_fileMutex;
  std::string m_writeBuffer;  // guarded by m_fileMutex: the lines being written
  // The rank of the last line written: stored under m_fileMutex, read by any thread.
  std::atomic<std::uint64_t> m_writtenLines{0};

  std::mutex m_queueMutex;
  std::string m_queuedLines;        // guarded by m_queueMutex: lines not yet written
  std::uint64_t m_queuedCount = 0;  // guarded by m_queueMutex: the rank of the last one queued
};

}  // namespace lapora
