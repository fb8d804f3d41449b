// The detection server's listing: the fuzz input is the typed server address (first line) and
// the listing the server answers. The listing goes through the download dialog's model: every
// box and file selected, the addresses it would fetch and remove, and the download of each
// file, whose local copy must stay inside the chosen folder whatever the server names it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "detections/box_data_files.h"
#include "fuzz_support.h"

namespace {

using namespace lapora;
using namespace lapora::fuzz;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchFolder folder;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = input.find('\n');
  const std::string typed(input.substr(0, newline));
  const std::string_view listing =
      newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);

  const std::string base = ServerBase(typed);
  std::vector<CDetectionFile> files = ParseBoxListing(listing, base);
  for (const CDetectionFile& file : files) {
    Check(!file.box.empty() && !file.fileName.empty() && file.detections >= 0,
          "a listed file without a box, a name or a count");
    Check(file.address == BoxFileAddress(base, file.box, file.fileName), "a file's address");
    Check(UrlEncodePart(file.box).find('/') == std::string::npos &&
              UrlEncodePart(file.fileName).find('/') == std::string::npos,
          "a name's \"/\" leaked into the address");
    const std::string removal = RemoveAddressOf(file.address);
    Check(removal == base + "/removeDataFile/" + UrlEncodePart(file.box) + "/" +
                         UrlEncodePart(file.fileName),
          "the removal address is not the file's");
    (void)DetectionFileEntry(file);
  }

  CBoxFilesModel model(typed, "1", "");
  model.SetListing(listing);
  const std::string into = folder.File("downloads");
  for (int box = 0; box < static_cast<int>(model.Boxes().size()); ++box) {
    model.SelectBox(box);
    Check(model.SelectedBox() == box, "a box entry does not select");
    for (int index = 0; index < static_cast<int>(model.Files().size()); ++index) {
      model.SelectFile(index);
      const CDetectionFile* file = model.CurrentFile();
      Check(file != nullptr && file->box == model.Boxes()[static_cast<std::size_t>(box)],
            "a selected file of another box");
      Check(model.SelectedAddress() == file->address, "the copied address is not the file's");
      (void)model.FileEntries();
      std::string fetched;
      DownloadOutcome outcome = model.Download(
          into, [](const std::string&) { return true; },
          [&](const std::string& url, const std::string& path, std::string*) {
            fetched = url;
            Check(StartsWith(path, into + "/LVX_") &&
                      path.find('/', into.size() + 1) == std::string::npos,
                  "a download leaves its folder: " + path);
            return true;
          });
      if (outcome.status == DownloadStatus::kDone) {
        Check(fetched == file->address, "the download fetched another address");
      } else {
        Check(outcome.status == DownloadStatus::kEmptyFile, "a download failed without a cause");
      }
    }
  }
  if (model.CurrentFile() != nullptr) {
    RemoveOutcome removed =
        model.RemoveSelected([&](const std::string& url, std::string* answer, std::string*) {
          Check(StartsWith(url, model.Base() + "/removeDataFile/"), "a removal elsewhere: " + url);
          *answer = "ok";
          return true;
        });
    Check(removed.ok, "a listed file cannot be removed");
  }
  return 0;
}
