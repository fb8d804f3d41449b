// The recorded detection list (the records, in recording order, with their ids) and the
// incoming-detections file that receives one detection line per record. Thread-safe: every
// operation takes m_recordsMutex, which guards the list, the id counter and the choice of file,
// so file lines come in list order with consecutive numbers. WithLock runs several steps under
// that one lock (a reset clears the list and switches files with no detection in between).
//
// The store owns the rule "whoever records has a file": a line recorded while the run's file is
// closed (after "disconnect all") opens it again for appending. The lines are written by a
// CIncomingFileWriter, by group commit outside the lock; a record given a RecordRelease is
// offered to its sink only once its line is in the file (synced unless SetSyncLines(false)), or
// once the operator was alerted that the file refuses it. Recording never waits for the disk.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "detections/incoming_file_writer.h"
#include "foundation/chrono.h"
#include "foundation/kol_result.h"
#include "foundation/yielding_mutex.h"

namespace lapora {

class Logger;
struct AppendFileFaults;

// The detection line: number, detector label, bib text, 1, time text, clock kind (2 for an
// absolute-clock record, else 1), tab-separated, ending with CR LF.
std::string FormatDetectionLine(int number, const CKolResult& record);

// The time text of a record: FormatHundredths of the race time of day, or for an
// absolute-clock record the Unix seconds, a point and the hundredths without padding.
std::string DetectionTimeText(const CChrono& absTime, const CChrono& raceTime, int kindMarker);

// An incoming-detections file that ends with an incomplete line: the program stopped (a crash,
// a power cut) in the middle of writing it.
struct TornDetectionFile {
  std::string path;
  std::size_t bytes = 0;  // after the last line end
};
// The newest earlier incoming-detections file of folder ("Lapora-*.dat" other than currentPath,
// by modification time), when its last line has no line end.
std::optional<TornDetectionFile> FindTornEarlierDetectionFile(const std::string& folder,
                                                              const std::string& currentPath);

// The record id that follows `last`: ids count up from 1 and wrap through the negative numbers,
// never giving 0 or -1.
std::int32_t NextRecordId(std::int32_t last);

// What ClearRecords took out of the list, for its owner to free where that costs nobody: the
// records of a race take a quarter of a second to free.
struct ClearedRecords {
  std::vector<CKolResult> records;
  std::unordered_map<std::int32_t, std::size_t> byId;
};

class CRecordedDetections {
 public:
  // The log receives the open messages, the alerts and the catch-up lines of the
  // incoming-detections file.
  explicit CRecordedDetections(Logger& log);
  ~CRecordedDetections();
  CRecordedDetections(const CRecordedDetections&) = delete;
  CRecordedDetections& operator=(const CRecordedDetections&) = delete;

  // The steps available while the lock is held (see WithLock). Valid only inside the callback.
  class Locked {
   public:
    std::optional<CKolResult> FindRecord(int id) const { return m_owner.FindLocked(id); }
    bool SetValid(int id, int valid) { return m_owner.SetValidLocked(id, valid); }
    int CountValidRecords() const { return m_owner.m_validCount; }
    std::size_t RecordCount() const { return m_owner.m_records.size(); }
    const std::vector<CKolResult>& Records() const { return m_owner.m_records; }
    void ClearRecords() { m_owner.ClearLocked(); }
    void OpenDetectionFile(const std::string& path) { m_owner.OpenFileLocked(path); }
    void CloseDetectionFile() { m_owner.CloseFileLocked(); }
    bool IsDetectionFileOpen() const { return m_owner.m_fileOpen; }
    const std::string& DetectionFilePath() const { return m_owner.m_filePath; }
    // Every file given to OpenDetectionFile, in order.
    const std::vector<std::string>& DetectionFilePaths() const { return m_owner.m_filePaths; }

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
  // writeToFile is set and the run has a file, queues its line (opening the run's file again
  // when it was closed). Returns a copy of the record at once. The release runs once the line
  // is in the file; at once, on this thread, when the record has no line to wait for.
  CKolResult AddDetectionRecord(const std::string& detectorLabel, const std::string& bibText,
                                const CChrono& absTime, const CChrono& raceTime, int kindMarker,
                                bool writeToFile, RecordRelease release = {});
  // A copy of the record with this id, or none (after ClearRecords, ids of the old records
  // are found no more).
  std::optional<CKolResult> FindRecord(int id) const;
  // Sets the valid flag of the record with this id (0 removed, 1 restored). False when the id
  // is not in the list.
  bool SetValid(int id, int valid);
  int CountValidRecords() const;
  std::size_t RecordCount() const;
  // Removes every record. The id counter goes on: the next record takes the next id. The
  // records are only moved aside under the lock; they are freed by whoever takes them
  // (TakeClearedRecords), or with this object.
  void ClearRecords();
  // The records removed by the clears since the last call, now owned by the caller.
  std::vector<ClearedRecords> TakeClearedRecords();
  // Copies of every record, in recording order.
  std::vector<CKolResult> Snapshot() const;

  // Makes path the run's incoming-detections file, opened for appending (created when
  // missing) ahead of its first line, and posts the open message; does nothing when this very
  // path is open already. A file that cannot be opened is an alert (see CIncomingFileWriter);
  // its lines wait in memory meanwhile.
  void OpenDetectionFile(const std::string& path);
  // Opens the run's file again when it was closed (a box started after "disconnect all"). The
  // next recorded line would do it anyway; this reports a refusal before the first detection.
  void EnsureDetectionFileOpen();
  // Closes the file once the lines queued before are in it. The path stays the run's file.
  void CloseDetectionFile();
  // The run's file is open (or being opened): recorded lines go to it without a reopening.
  bool IsDetectionFileOpen() const;
  // The run's file: the path last given to OpenDetectionFile (empty at first).
  std::string DetectionFilePath() const;

  // Each group commit ends with fdatasync (the default), or not.
  void SetSyncLines(bool sync) { m_writer.SetSync(sync); }
  // Failures of the file switched on by a test (null: none), for the files opened afterwards.
  void SetFileFaults(const AppendFileFaults* faults) { m_writer.SetFaults(faults); }
  // Waits until every line recorded so far is in its file and its record was released. False
  // when the file refused some of it or the time ran out.
  bool FlushDetectionFile(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return m_writer.Flush(timeout);
  }
  // After this returns the sink receives no release (the releases waiting for it are dropped).
  void RemoveReleaseSink(RecordReleaseSink* sink) { m_writer.RemoveSink(sink); }

 private:
  // REQUIRES: m_recordsMutex is held (for every *Locked function below). *releaseNow is set
  // when the record has no line to wait for: the caller runs the release once unlocked.
  CKolResult AddLocked(const std::string& detectorLabel, const std::string& bibText,
                       const CChrono& absTime, const CChrono& raceTime, int kindMarker,
                       bool writeToFile, RecordRelease* release, bool* releaseNow);
  std::optional<CKolResult> FindLocked(int id) const;
  bool SetValidLocked(int id, int valid);
  void ClearLocked();
  void OpenFileLocked(const std::string& path);
  void CloseFileLocked();

  Logger& m_log;
  mutable YieldingMutex m_recordsMutex;
  std::vector<CKolResult> m_records;                     // guarded by m_recordsMutex
  std::unordered_map<std::int32_t, std::size_t> m_byId;  // id -> index in m_records; guarded
  std::int32_t m_lastId = 0;                             // guarded by m_recordsMutex
  int m_validCount = 0;                                  // guarded by m_recordsMutex
  std::vector<ClearedRecords> m_cleared;                 // guarded: not taken yet
  std::string m_filePath;                                // guarded: the run's file
  std::vector<std::string> m_filePaths;                  // guarded: every run's file so far
  bool m_fileOpen = false;                               // guarded
  std::string m_lineScratch;                             // guarded: the line being queued
  // Declared last: destroyed first, writing what waits before the rest goes.
  CIncomingFileWriter m_writer;
};

}  // namespace lapora
