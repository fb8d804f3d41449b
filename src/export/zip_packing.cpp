#include "export/zip_packing.h"

#include <minizip/zip.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <new>

#include "foundation/folders.h"
#include "platform/atomic_file.h"

namespace lapora {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The entry's date: the file's last-write time in local time (now when it cannot be read).
zip_fileinfo EntryInfo(const std::string& source) {
  zip_fileinfo info{};
  struct stat status {};
  std::time_t when = stat(source.c_str(), &status) == 0 ? status.st_mtime : std::time(nullptr);
  std::tm local{};
  if (localtime_r(&when, &local) != nullptr) {
    info.tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
    info.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
    info.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
    info.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
    info.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
    info.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
  }
  return info;
}

// Adds one entry; 0 or the code of the failing step (the entry is closed in every case).
int AddEntry(zipFile zip, const std::string& source, char* buffer) {
  zip_fileinfo info = EntryInfo(source);
  std::string name = FileNameOfPath(source);
  if (name.empty()) {
    name = source;
  }
  int err = zipOpenNewFileInZip(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                Z_DEFLATED, Z_DEFAULT_COMPRESSION);
  if (err != ZIP_OK) {
    std::printf("zpZipFile: Error in opening %s in zipfile\n", source.c_str());
    return err;
  }
  std::unique_ptr<std::FILE, FileCloser> in(std::fopen(source.c_str(), "rb"));
  if (!in) {
    std::printf("zpZipFile: Error in opening %s for reading\n", source.c_str());
    (void)zipCloseFileInZip(zip);
    return kZipFailed;
  }
  for (;;) {
    std::size_t read = std::fread(buffer, 1, kZipBlockSize, in.get());
    if (read < kZipBlockSize && std::ferror(in.get()) != 0) {
      std::printf("zpZipFile: Error in reading %s\n", source.c_str());
      err = kZipFailed;
      break;
    }
    if (read > 0 && zipWriteInFileInZip(zip, buffer, static_cast<unsigned>(read)) < 0) {
      std::printf("zpZipFile: Error in writing %s in the zipfile\n", source.c_str());
      err = kZipFailed;
      break;
    }
    if (read < kZipBlockSize) {
      break;  // end of file
    }
  }
  int closed = zipCloseFileInZip(zip);
  if (closed != ZIP_OK) {
    std::printf("zpZipFile: Error in closing %s in the zipfile\n", source.c_str());
    if (err == ZIP_OK) {
      err = closed;
    }
  }
  return err;
}

}  // namespace

int ZipFiles(const std::vector<std::string>& sources, const std::string& archive) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kZipBlockSize]);
  if (!buffer) {
    std::printf("zpZipFile: Error allocating memory\n");
    std::fflush(stdout);
    return kZipNoMemory;
  }
  // The archive is made under a temporary name beside it and renamed once complete: an upload
  // of the previous archive, or anyone else reading it, never sees a half-written one.
  std::string temporary = CreateTemporaryBeside(archive);
  zipFile zip = temporary.empty() ? nullptr : zipOpen(temporary.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) {
    std::printf("zpZipFile: Error opening %s\n", archive.c_str());
    std::fflush(stdout);
    if (!temporary.empty()) {
      std::remove(temporary.c_str());
    }
    return kZipFailed;
  }
  int err = ZIP_OK;
  for (const std::string& source : sources) {
    err = AddEntry(zip, source, buffer.get());
    if (err != ZIP_OK) {
      break;
    }
  }
  int closed = zipClose(zip, nullptr);
  if (closed != ZIP_OK) {
    std::printf("zpZipFile: Error in closing %s\n", archive.c_str());
    if (err == ZIP_OK) {
      err = closed;
    }
  }
  std::fflush(stdout);
  if (err != ZIP_OK) {
    // The half-written archive goes, and so does the previous one: whoever picks it up would
    // take it for this export's.
    std::remove(temporary.c_str());
    std::remove(archive.c_str());
    return err;
  }
  if (!ReplaceWithTemporary(temporary, archive)) {
    std::printf("zpZipFile: Error opening %s\n", archive.c_str());
    std::fflush(stdout);
    return kZipFailed;
  }
  return ZIP_OK;
}

int zpZipFile(const std::string& source, const std::string& archive) {
  return ZipFiles({source}, archive);
}

}  // namespace lapora
