// The download dialog of box data files: the boxes and files a detection server holds, the
// destination folder, and the buttons Refresh, Remove file, Copy URL, Download and Cancel. It
// only shows the fields; the listing, the checks and the transfers are core code
// (detections/box_data_files). Qt thread only; the HTTP calls run on a worker behind a progress
// dialog with Cancel, so a slow or silent server never freezes the window.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <functional>
#include <string>

#include "detections/box_data_files.h"

namespace lapora {

class SettingsStore;

// What the dialog uses; the store outlives the dialog.
struct BoxFilesSetup {
  SettingsStore& store;
  std::string base;             // the server's base address
  std::string listing;          // fetched by the caller; empty: none yet
  std::string documentsFolder;  // the destination's default hangs from it
  HttpGetText getText{};        // empty: GetInternetData
  HttpGetFile getFile{};        // empty: GetInternetFile
};

// An HTTP read that runs on a worker while the progress dialog (over parent) shows the bytes
// received and its Cancel stops the transfer; inner does the transfer (empty: GetInternetData or
// GetInternetFile). The wrapper is called on the Qt thread and returns once the transfer ended.
HttpGetText HttpGetTextWithProgress(QWidget* parent, HttpGetText inner);
HttpGetFile HttpGetFileWithProgress(QWidget* parent, HttpGetFile inner);

class CDlgBoxFiles : public QDialog {
  Q_OBJECT

 public:
  explicit CDlgBoxFiles(BoxFilesSetup setup, QWidget* parent = nullptr);

  // The downloaded file after exec() returned Accepted; empty otherwise.
  const std::string& ResultPath() const { return m_model.ResultPath(); }
  const CBoxFilesModel& Model() const { return m_model; }

  // Seams for tests: warnings and errors, information boxes, Yes/No questions, the folder
  // browser (empty answer: cancelled).
  void SetWarningShower(std::function<void(const QString&)> shower) {
    m_showWarning = std::move(shower);
  }
  void SetInformationShower(std::function<void(const QString&)> shower) {
    m_showInformation = std::move(shower);
  }
  void SetQuestionAsker(std::function<bool(const QString&)> asker) { m_ask = std::move(asker); }
  void SetFolderChooser(std::function<QString(const QString&)> chooser) {
    m_chooseFolder = std::move(chooser);
  }

  QComboBox* BoxSelector() const { return m_boxes; }
  QListWidget* FileList() const { return m_files; }
  QLineEdit* FolderEdit() const { return m_folder; }
  QToolButton* BrowseButton() const { return m_browse; }
  QPushButton* RefreshButton() const { return m_refresh; }
  QPushButton* RemoveButton() const { return m_remove; }
  QPushButton* CopyButton() const { return m_copy; }
  QPushButton* DownloadButton() const { return m_download; }
  QPushButton* CancelButton() const { return m_cancel; }

 public slots:
  void ListBoxFiles();
  void DownloadBoxFile();
  void RemoveBoxFile();
  void CopyFileAddress();
  void ChooseDestination();
  void reject() override;

 private:
  void FillBoxes();
  void ShowFilesOfBox();
  void UpdateButtons();

  BoxFilesSetup m_setup;
  DownloadSettings m_opening;  // as read when the dialog opened
  CBoxFilesModel m_model;
  std::function<void(const QString&)> m_showWarning;
  std::function<void(const QString&)> m_showInformation;
  std::function<bool(const QString&)> m_ask;
  std::function<QString(const QString&)> m_chooseFolder;
  bool m_filling = false;  // the widgets are being filled: their signals are not the operator's

  QComboBox* m_boxes = nullptr;
  QListWidget* m_files = nullptr;
  QLineEdit* m_folder = nullptr;
  QToolButton* m_browse = nullptr;
  QPushButton* m_refresh = nullptr;
  QPushButton* m_remove = nullptr;
  QPushButton* m_copy = nullptr;
  QPushButton* m_download = nullptr;
  QPushButton* m_cancel = nullptr;
};

}  // namespace lapora
