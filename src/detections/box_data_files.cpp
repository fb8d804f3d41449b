#include "detections/box_data_files.h"

#include <sys/stat.h>

#include <utility>

#include "foundation/folders.h"
#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "platform/http_client.h"
#include "resources/messages_download.h"

namespace lapora {

namespace {

constexpr std::string_view kGetPart = "getDataFile";
constexpr std::string_view kRemovePart = "removeDataFile";

bool FolderExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A whole field that is a decimal integer of 0 or more (blanks around it allowed).
bool ParseCount(std::string_view field, int* count) {
  std::string_view text = TrimBlanks(field);
  std::size_t pos = 0;
  int value = 0;
  if (text.empty() || !ScanInt(text, &pos, &value, IntOverflow::kRefuse) || pos != text.size() ||
      value < 0) {
    return false;
  }
  *count = value;
  return true;
}

HttpGetText TextReader(const HttpGetText& getText) {
  if (getText) {
    return getText;
  }
  return [](const std::string& url, std::string* data, std::string* error) {
    return GetInternetData(url, data, error);
  };
}

HttpGetFile FileReader(const HttpGetFile& getFile) {
  if (getFile) {
    return getFile;
  }
  return [](const std::string& url, const std::string& path, std::string* error) {
    return GetInternetFile(url, path, error);
  };
}

}  // namespace

std::string ServerBase(std::string_view typed) {
  std::string_view base = TrimBlanks(typed);
  while (!base.empty() && base.back() == '/') {
    base.remove_suffix(1);
  }
  return std::string(base);
}

std::string UrlEncodePart(std::string_view part) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(part.size());
  for (char c : part) {
    auto byte = static_cast<unsigned char>(c);
    bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                      (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                      byte == '~';
    if (unreserved) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0x0F]);
    }
  }
  return out;
}

std::string ListingAddress(const std::string& base) {
  return base + "/getDataFiles";
}

std::string BoxFileAddress(const std::string& base, std::string_view box,
                           std::string_view fileName) {
  return base + "/" + std::string(kGetPart) + "/" + UrlEncodePart(box) + "/" +
         UrlEncodePart(fileName);
}

std::string RemoveAddressOf(const std::string& address) {
  // The address ends with "/getDataFile/box/file" where box and file hold no "/" (encoded);
  // only that part is replaced, whatever the base address or the names contain.
  std::size_t fileSlash = address.rfind('/');
  if (fileSlash == std::string::npos || fileSlash == 0) {
    return {};
  }
  std::size_t boxSlash = address.rfind('/', fileSlash - 1);
  if (boxSlash == std::string::npos || boxSlash < kGetPart.size() + 1) {
    return {};
  }
  std::size_t partStart = boxSlash - kGetPart.size();
  if (address.compare(partStart, kGetPart.size(), kGetPart) != 0 || address[partStart - 1] != '/') {
    return {};
  }
  return address.substr(0, partStart) + std::string(kRemovePart) + address.substr(boxSlash);
}

std::string RemoveCarriageReturns(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r') {
      out.push_back(c);
    }
  }
  return out;
}

std::vector<CDetectionFile> ParseBoxListing(std::string_view listing, const std::string& base) {
  std::string text = RemoveCarriageReturns(listing);
  std::vector<CDetectionFile> files;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    std::string_view line(text.data() + start, end - start);
    start = end + 1;

    std::vector<std::string_view> fields;
    std::size_t from = 0;
    for (;;) {
      std::size_t at = line.find(';', from);
      fields.push_back(line.substr(from, at == std::string_view::npos ? line.npos : at - from));
      if (at == std::string_view::npos) {
        break;
      }
      from = at + 1;
    }
    CDetectionFile file;
    if (fields.size() != 5 || fields[0].empty() || fields[1].empty() ||
        !ParseCount(fields[2], &file.detections)) {
      continue;
    }
    file.box = std::string(fields[0]);
    file.fileName = std::string(fields[1]);
    file.date = std::string(fields[3]);
    file.time = std::string(fields[4]);
    file.address = BoxFileAddress(base, file.box, file.fileName);
    files.push_back(std::move(file));
  }
  return files;
}

std::vector<std::string> ListingBoxes(const std::vector<CDetectionFile>& files) {
  std::vector<std::string> boxes;
  const std::string* previous = nullptr;
  for (const CDetectionFile& file : files) {
    if (previous == nullptr || *previous != file.box) {
      boxes.push_back(file.box);
    }
    previous = &file.box;
  }
  return boxes;
}

std::string DetectionFileEntry(const CDetectionFile& file) {
  return StrF(Tr(kMsgDownloadEntry).c_str(), file.fileName.c_str(), file.detections,
              file.date.c_str(), file.time.c_str());
}

std::string LocalDownloadPath(std::string_view folder, std::string_view fileName) {
  std::string name(fileName);
  for (char& c : name) {
    if (c == '/' || c == '\\') {
      c = '_';
    }
  }
  std::string path(folder);
  if (!path.empty() && path.back() != '/') {
    path.push_back('/');
  }
  return path + kDownloadFilePrefix + name;
}

// ---------------------------------------------------------------------------------------------

std::string ReadServerUrl(const SettingsStore& store) {
  return store.ReadSettingText(kServerSection, kServerUrlKey, "");
}

bool WriteServerUrl(SettingsStore& store, std::string_view url) {
  return store.WriteSettingText(kServerSection, kServerUrlKey, TrimBlanks(url));
}

DownloadSettings ReadDownloadSettings(const SettingsStore& store,
                                      const std::string& documentsFolder) {
  DownloadSettings settings;
  settings.lastBox = store.ReadSettingText(kDownloadVarnexSection, kDownloadLastBoxKey, "");
  settings.lastFile = store.ReadSettingText(kDownloadVarnexSection, kDownloadLastFileKey, "");
  settings.folder =
      store.ReadSettingText(kDownloadVarnexSection, kDownloadPathKey, documentsFolder + "/VARNEX");
  return settings;
}

void WriteDownloadSelection(SettingsStore& store, const std::string& lastBox,
                            const std::string& lastFile) {
  store.WriteSettingText(kDownloadVarnexSection, kDownloadLastBoxKey, lastBox);
  store.WriteSettingText(kDownloadVarnexSection, kDownloadLastFileKey, lastFile);
}

void WriteDownloadFolder(SettingsStore& store, const std::string& folder) {
  store.WriteSettingText(kDownloadVarnexSection, kDownloadPathKey, folder);
}

std::string WriteChosenFolder(SettingsStore& store, std::string_view picked) {
  std::string folder(picked);
  if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) {
    folder.pop_back();
  }
  store.WriteSettingText(kDownloadRaceResultSection, kDownloadRaceResultPathKey, folder);
  return folder;
}

// ---------------------------------------------------------------------------------------------

bool FetchBoxListing(const std::string& base, const HttpGetText& getText, std::string* listing,
                     std::string* error) {
  std::string data;
  std::string failure;
  if (!TextReader(getText)(ListingAddress(base), &data, &failure)) {
    *error = failure;
    return false;
  }
  *listing = RemoveCarriageReturns(data);
  return true;
}

DownloadOutcome DownloadBoxFile(const CDetectionFile* file, std::string_view folderField,
                                const std::function<bool(const std::string& question)>& askCreate,
                                const HttpGetFile& getFile) {
  DownloadOutcome outcome;
  outcome.folder = std::string(TrimBlanks(folderField));
  if (outcome.folder.empty()) {
    outcome.status = DownloadStatus::kNoFolder;
    outcome.message = Tr(kMsgDownloadNoFolder);
    return outcome;
  }
  if (!FolderExists(outcome.folder) && askCreate &&
      askCreate(StrF(Tr(kMsgDownloadCreateFolder).c_str(), outcome.folder.c_str()))) {
    if (!MakePath(outcome.folder) || !FolderExists(outcome.folder)) {
      outcome.status = DownloadStatus::kCannotCreate;
      outcome.message = StrF(Tr(kMsgDownloadCannotCreate).c_str(), outcome.folder.c_str());
      return outcome;
    }
  }
  if (file == nullptr) {
    outcome.status = DownloadStatus::kNoSelection;
    return outcome;
  }
  if (file->detections == 0) {
    outcome.status = DownloadStatus::kEmptyFile;
    outcome.message = StrF(Tr(kMsgDownloadFileEmpty).c_str(), file->fileName.c_str());
    return outcome;
  }
  std::string path = LocalDownloadPath(outcome.folder, file->fileName);
  std::string error;
  if (!FileReader(getFile)(file->address, path, &error)) {
    outcome.status = DownloadStatus::kFailed;
    outcome.message = Tr(kMsgDownloadError) + error;
    return outcome;
  }
  outcome.status = DownloadStatus::kDone;
  outcome.message = Tr(kMsgDownloadDone);
  outcome.path = std::move(path);
  return outcome;
}

RemoveOutcome RemoveBoxFile(const CDetectionFile& file, const HttpGetText& getText) {
  RemoveOutcome outcome;
  std::string address = RemoveAddressOf(file.address);
  std::string answer;
  std::string error;
  if (address.empty()) {
    error = "no removal address for " + file.address;
  } else if (TextReader(getText)(address, &answer, &error)) {
    outcome.ok = true;
    outcome.message = Tr(kMsgDownloadServerReturned) + answer;
    return outcome;
  }
  outcome.message = Tr(kMsgDownloadRemoveError) + error;
  return outcome;
}

// ---------------------------------------------------------------------------------------------

CBoxFilesModel::CBoxFilesModel(std::string base, std::string lastBox, std::string lastFile)
    : m_base(ServerBase(base)), m_lastBox(std::move(lastBox)), m_lastFile(std::move(lastFile)) {}

void CBoxFilesModel::SetListing(std::string_view listing) {
  m_all = ParseBoxListing(listing, m_base);
  m_boxes = ListingBoxes(m_all);
  m_selectedBox = m_boxes.empty() ? -1 : 0;
  for (std::size_t i = 0; i < m_boxes.size(); ++i) {
    if (m_boxes[i] == m_lastBox) {
      m_selectedBox = static_cast<int>(i);
      break;
    }
  }
  ShowFilesOfBox();
}

bool CBoxFilesModel::Refresh(const HttpGetText& getText, std::string* error) {
  std::string listing;
  if (!FetchBoxListing(m_base, getText, &listing, error)) {
    return false;
  }
  SetListing(listing);
  return true;
}

void CBoxFilesModel::SelectBox(int index) {
  m_selectedBox = (index >= 0 && static_cast<std::size_t>(index) < m_boxes.size()) ? index : -1;
  ShowFilesOfBox();
}

void CBoxFilesModel::ShowFilesOfBox() {
  m_files.clear();
  m_selectedFile = -1;
  if (m_selectedBox < 0) {
    return;
  }
  m_lastBox = m_boxes[static_cast<std::size_t>(m_selectedBox)];
  for (const CDetectionFile& file : m_all) {
    if (file.box == m_lastBox) {
      m_files.push_back(file);
    }
  }
  for (std::size_t i = 0; i < m_files.size(); ++i) {
    if (m_files[i].fileName == m_lastFile) {
      m_selectedFile = static_cast<int>(i);
      break;
    }
  }
}

std::vector<std::string> CBoxFilesModel::FileEntries() const {
  std::vector<std::string> entries;
  entries.reserve(m_files.size());
  for (const CDetectionFile& file : m_files) {
    entries.push_back(DetectionFileEntry(file));
  }
  return entries;
}

void CBoxFilesModel::SelectFile(int index) {
  m_selectedFile = (index >= 0 && static_cast<std::size_t>(index) < m_files.size()) ? index : -1;
  if (m_selectedFile >= 0) {
    m_lastFile = m_files[static_cast<std::size_t>(m_selectedFile)].fileName;
  }
}

const CDetectionFile* CBoxFilesModel::CurrentFile() const {
  return m_selectedFile >= 0 ? &m_files[static_cast<std::size_t>(m_selectedFile)] : nullptr;
}

bool CBoxFilesModel::CanDownload() const {
  return !m_boxes.empty() && m_selectedFile >= 0;
}

bool CBoxFilesModel::CanCopyAddress() const {
  return m_boxes.empty() || m_selectedFile >= 0;
}

DownloadOutcome CBoxFilesModel::Download(
    std::string_view folderField, const std::function<bool(const std::string& question)>& askCreate,
    const HttpGetFile& getFile) {
  const CDetectionFile* file = m_selectedBox >= 0 ? CurrentFile() : nullptr;
  DownloadOutcome outcome = DownloadBoxFile(file, folderField, askCreate, getFile);
  if (outcome.status == DownloadStatus::kDone) {
    m_resultPath = outcome.path;
    m_lastBox = file->box;
    m_lastFile = file->fileName;
  } else {
    m_resultPath.clear();
  }
  return outcome;
}

RemoveOutcome CBoxFilesModel::RemoveSelected(const HttpGetText& getText) {
  const CDetectionFile* file = CurrentFile();
  if (file == nullptr) {
    return {};
  }
  RemoveOutcome outcome = RemoveBoxFile(*file, getText);
  if (outcome.ok) {
    CDetectionFile removed = *file;
    m_files.erase(m_files.begin() + m_selectedFile);
    for (auto it = m_all.begin(); it != m_all.end(); ++it) {
      if (it->box == removed.box && it->fileName == removed.fileName) {
        m_all.erase(it);
        break;
      }
    }
    m_selectedFile = -1;
  }
  return outcome;
}

std::string CBoxFilesModel::SelectedAddress() const {
  const CDetectionFile* file = CurrentFile();
  return file != nullptr ? file->address : std::string();
}

}  // namespace lapora
