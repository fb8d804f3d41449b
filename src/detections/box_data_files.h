// The download of box data files from a detection server: the listing the server gives, the
// addresses of a file and of its removal, the settings of the download dialog, and the steps
// behind its buttons (fetch the listing, download a file, remove a file), as a model the dialog
// only shows. Interface thread only; the HTTP reads are the caller's (the dialog runs them on a
// worker behind its progress dialog).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lapora {

class SettingsStore;

inline constexpr char kServerSection[] = "Server";
inline constexpr char kServerUrlKey[] = "ServerURL";
inline constexpr char kDownloadVarnexSection[] = "DownloadVarnex";
inline constexpr char kDownloadLastBoxKey[] = "DownloadVarnexServer.LastSelBox";
inline constexpr char kDownloadLastFileKey[] = "DownloadVarnexServer.LastSelFile";
inline constexpr char kDownloadPathKey[] = "DownloadVarnexPath";
inline constexpr char kDownloadRaceResultSection[] = "DownloadRaceResult";
inline constexpr char kDownloadRaceResultPathKey[] = "DownloadRaceResultPath";
// What the local copy of a server file is called: this prefix and the file name.
inline constexpr char kDownloadFilePrefix[] = "LVX_";
// An example of a server address for the server dialog.
inline constexpr char kServerUrlExample[] = "e.g. http://myserver/detections/server.php";

// One file the server holds.
class CDetectionFile {
 public:
  std::string address;  // base + "/getDataFile/" + box + "/" + file name
  std::string fileName;
  int detections = 0;
  std::string date;  // as the server wrote it
  std::string time;  // as the server wrote it
  std::string box;
};

// The HTTP reads the steps use: a text into memory, a body into a file. Each returns false with
// *error on failure (then no file is left). Empty: GetInternetData / GetInternetFile.
using HttpGetText =
    std::function<bool(const std::string& url, std::string* data, std::string* error)>;
using HttpGetFile =
    std::function<bool(const std::string& url, const std::string& path, std::string* error)>;

// The server's base address as typed: blanks at both ends and trailing "/" removed (the
// requests add their own "/").
std::string ServerBase(std::string_view typed);
// A path part (box or file name) with every byte outside the unreserved set written as %XX,
// so that a "/", "?", "#" or blank in a name stays inside its part.
std::string UrlEncodePart(std::string_view part);
std::string ListingAddress(const std::string& base);
std::string BoxFileAddress(const std::string& base, std::string_view box,
                           std::string_view fileName);
// The address with its "getDataFile" part (the one before box and file name) replaced by
// "removeDataFile"; empty when the address has no such part.
std::string RemoveAddressOf(const std::string& address);

// Every carriage return removed.
std::string RemoveCarriageReturns(std::string_view text);
// The files of a listing (carriage returns already removed or not), in listing order: lines cut
// at line feeds, each with exactly five ";" fields box;file;detections;date;time, the third a
// decimal integer of 0 or more; other lines are skipped, and so are lines with an empty box or
// file name (they name no file).
std::vector<CDetectionFile> ParseBoxListing(std::string_view listing, const std::string& base);
// The boxes of the box selector: each file's box when it differs from the previous file's.
std::vector<std::string> ListingBoxes(const std::vector<CDetectionFile>& files);
// The list entry of a file (build language).
std::string DetectionFileEntry(const CDetectionFile& file);
// Where a file is stored: folder + "/LVX_" + file name, with every "/" and "\" of the name made
// "_" so that a name from the server cannot lead outside the folder.
std::string LocalDownloadPath(std::string_view folder, std::string_view fileName);

// ---------------------------------------------------------------------------------------------
// Settings.

std::string ReadServerUrl(const SettingsStore& store);
bool WriteServerUrl(SettingsStore& store, std::string_view url);

struct DownloadSettings {
  std::string lastBox;
  std::string lastFile;
  std::string folder;
};
// documentsFolder + "/VARNEX" is the folder's default.
DownloadSettings ReadDownloadSettings(const SettingsStore& store,
                                      const std::string& documentsFolder);
void WriteDownloadSelection(SettingsStore& store, const std::string& lastBox,
                            const std::string& lastFile);
void WriteDownloadFolder(SettingsStore& store, const std::string& folder);
// The folder picked with "...", a trailing "/" or "\" removed; written under
// "DownloadRaceResultPath". Returns the folder as shown.
std::string WriteChosenFolder(SettingsStore& store, std::string_view picked);

// ---------------------------------------------------------------------------------------------
// Steps.

// The listing at base + "/getDataFiles", carriage returns removed. False with *error (the text
// for the message box) when the server cannot be read; *listing is then unchanged.
[[nodiscard]] bool FetchBoxListing(const std::string& base, const HttpGetText& getText,
                                   std::string* listing, std::string* error);

enum class DownloadStatus {
  kDone,          // message: "Download done"; path: the local file
  kNoFolder,      // message: the warning; stay
  kCannotCreate,  // message: the error; stay
  kNoSelection,   // nothing to say; stay
  kEmptyFile,     // message: the warning; stay
  kFailed,        // message: "Download error\n" + the error; stay
};
struct DownloadOutcome {
  DownloadStatus status = DownloadStatus::kNoSelection;
  std::string message;
  std::string path;    // the downloaded file (kDone only)
  std::string folder;  // the folder used, blanks removed
};
// The Download button. folderField is the destination field; askCreate puts the Yes/No question
// for a missing folder (Yes: the folder is made with every level; No: the download goes on and
// fails if the folder is really missing). file may be null (no selection).
DownloadOutcome DownloadBoxFile(const CDetectionFile* file, std::string_view folderField,
                                const std::function<bool(const std::string& question)>& askCreate,
                                const HttpGetFile& getFile);

struct RemoveOutcome {
  bool ok = false;
  std::string message;  // "Server returned: " + answer, or "Error: " + error
};
// Asks the server to remove the file (the question is the caller's).
RemoveOutcome RemoveBoxFile(const CDetectionFile& file, const HttpGetText& getText);

// ---------------------------------------------------------------------------------------------
// The state of the download dialog.

class CBoxFilesModel {
 public:
  // base: the server's base address; lastBox and lastFile: the remembered selection.
  CBoxFilesModel(std::string base, std::string lastBox, std::string lastFile);

  // A new listing (carriage returns removed or not): box selector filled, the remembered box
  // selected (else the first) and its files shown.
  void SetListing(std::string_view listing);
  // Fetches the listing and takes it; false with *error when the server cannot be read (the
  // lists are then as they were).
  [[nodiscard]] bool Refresh(const HttpGetText& getText, std::string* error);

  const std::vector<std::string>& Boxes() const { return m_boxes; }
  // -1 when there is none.
  int SelectedBox() const { return m_selectedBox; }
  // Selects a box entry and shows its files; the box becomes the last box.
  void SelectBox(int index);
  // The files of the selected box, in listing order.
  const std::vector<CDetectionFile>& Files() const { return m_files; }
  std::vector<std::string> FileEntries() const;
  int SelectedFile() const { return m_selectedFile; }
  // -1 clears the selection; the file becomes the last file.
  void SelectFile(int index);
  const CDetectionFile* CurrentFile() const;

  bool CanDownload() const;  // also Remove file
  bool CanCopyAddress() const;

  // The Download button; on success the last box and file are the downloaded one's and
  // ResultPath is the local file.
  DownloadOutcome Download(std::string_view folderField,
                           const std::function<bool(const std::string& question)>& askCreate,
                           const HttpGetFile& getFile);
  // Removes the selected file on the server and, on success, from the lists. NeedsRefresh then
  // says whether the list has become empty (the caller refreshes the listing).
  RemoveOutcome RemoveSelected(const HttpGetText& getText);
  bool NeedsRefresh() const { return m_files.empty(); }
  // The address the Copy URL button puts on the clipboard (empty without a selected file).
  std::string SelectedAddress() const;

  const std::string& LastBox() const { return m_lastBox; }
  const std::string& LastFile() const { return m_lastFile; }
  const std::string& ResultPath() const { return m_resultPath; }
  const std::string& Base() const { return m_base; }

 private:
  void ShowFilesOfBox();

  std::string m_base;
  std::string m_lastBox;
  std::string m_lastFile;
  std::string m_resultPath;
  std::vector<CDetectionFile> m_all;  // the whole listing
  std::vector<std::string> m_boxes;
  int m_selectedBox = -1;
  std::vector<CDetectionFile> m_files;  // the selected box's
  int m_selectedFile = -1;
};

}  // namespace lapora
