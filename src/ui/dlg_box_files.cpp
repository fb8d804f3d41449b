#include "ui/dlg_box_files.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QVBoxLayout>
#include <utility>

#include "foundation/progress_job.h"
#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "platform/http_client.h"
#include "resources/messages_download.h"
#include "ui/dlg_job_progress.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

// Runs transfer on a worker behind the progress dialog. transfer gets the HTTP options that
// report the bytes received and stop at Cancel.
bool TransferWithProgress(
    QWidget* parent, const std::string& url,
    const std::function<bool(const HttpOptions& http, std::string* error)>& transfer,
    std::string* error) {
  bool ok = false;
  std::string failure;
  CProgressJob job(Tr(kMsgDownloadTitle), [&](CProgressJob& worker) {
    HttpOptions http;
    http.keepGoing = [&worker, &url](std::int64_t received) {
      return worker.Report(
          StrF(Tr(kMsgDownloadProgress).c_str(), url.c_str(), static_cast<int>(received / 1024)));
    };
    ok = transfer(http, &failure);
  });
  job.Start();
  WaitWithProgressDialog(job, ToQt(kMsgDownloadTitle), {}, parent);
  job.Join();
  if (!ok) {
    *error = failure;
  }
  return ok;
}

}  // namespace

HttpGetText HttpGetTextWithProgress(QWidget* parent, HttpGetText inner) {
  return [parent, inner = std::move(inner)](const std::string& url, std::string* data,
                                            std::string* error) {
    std::string body;
    bool ok = TransferWithProgress(
        parent, url,
        [&](const HttpOptions& http, std::string* failure) {
          return inner ? inner(url, &body, failure) : GetInternetData(url, &body, failure, http);
        },
        error);
    if (ok) {
      *data = std::move(body);
    }
    return ok;
  };
}

HttpGetFile HttpGetFileWithProgress(QWidget* parent, HttpGetFile inner) {
  return [parent, inner = std::move(inner)](const std::string& url, const std::string& path,
                                            std::string* error) {
    return TransferWithProgress(
        parent, url,
        [&](const HttpOptions& http, std::string* failure) {
          return inner ? inner(url, path, failure) : GetInternetFile(url, path, failure, http);
        },
        error);
  };
}

CDlgBoxFiles::CDlgBoxFiles(BoxFilesSetup setup, QWidget* parent)
    : QDialog(parent),
      m_setup(std::move(setup)),
      m_opening(ReadDownloadSettings(m_setup.store, m_setup.documentsFolder)),
      m_model(m_setup.base, m_opening.lastBox, m_opening.lastFile) {
  setWindowTitle(ToQt(kMsgDownloadTitle));
  m_setup.getText = HttpGetTextWithProgress(this, std::move(m_setup.getText));
  m_setup.getFile = HttpGetFileWithProgress(this, std::move(m_setup.getFile));
  m_showWarning = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
  m_showInformation = [this](const QString& text) {
    QMessageBox::information(this, windowTitle(), text);
  };
  m_ask = [this](const QString& text) {
    return QMessageBox::question(this, windowTitle(), text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  };
  m_chooseFolder = [this](const QString& start) {
    return QFileDialog::getExistingDirectory(this, windowTitle(), start);
  };

  auto* layout = new QVBoxLayout(this);
  auto* boxFrame = new QGroupBox(ToQt(kMsgDownloadBoxes), this);
  auto* boxRow = new QHBoxLayout(boxFrame);
  m_boxes = new QComboBox(boxFrame);
  m_boxes->setMinimumWidth(120);
  boxRow->addWidget(m_boxes);
  boxRow->addStretch(1);
  m_refresh = new QPushButton(ToQt(kMsgDownloadRefresh), boxFrame);
  boxRow->addWidget(m_refresh);
  layout->addWidget(boxFrame);

  auto* fileFrame = new QGroupBox(ToQt(kMsgDownloadFilesFound), this);
  auto* fileColumn = new QVBoxLayout(fileFrame);
  m_files = new QListWidget(fileFrame);
  // Sized for "XX/XX/XXXX" and "XX:XX:XX" columns after the name and the count.
  m_files->setMinimumSize(480, 200);
  m_files->setSelectionMode(QAbstractItemView::SingleSelection);
  fileColumn->addWidget(m_files);
  layout->addWidget(fileFrame);

  auto* folderFrame = new QGroupBox(ToQt(kMsgDownloadDestination), this);
  auto* folderRow = new QHBoxLayout(folderFrame);
  m_folder = new QLineEdit(ToQt(m_opening.folder), folderFrame);
  folderRow->addWidget(m_folder, 1);
  m_browse = new QToolButton(folderFrame);
  m_browse->setText(QStringLiteral("..."));
  folderRow->addWidget(m_browse);
  layout->addWidget(folderFrame);

  auto* buttons = new QHBoxLayout;
  m_remove = new QPushButton(ToQt(kMsgDownloadRemove), this);
  m_copy = new QPushButton(ToQt(kMsgDownloadCopyUrl), this);
  m_download = new QPushButton(ToQt(kMsgDownloadDownload), this);
  m_cancel = new QPushButton(ToQt(kMsgDownloadCancel), this);
  m_download->setDefault(true);
  buttons->addWidget(m_remove);
  buttons->addWidget(m_copy);
  buttons->addStretch(1);
  buttons->addWidget(m_download);
  buttons->addWidget(m_cancel);
  layout->addLayout(buttons);

  connect(m_refresh, &QPushButton::clicked, this, &CDlgBoxFiles::ListBoxFiles);
  connect(m_remove, &QPushButton::clicked, this, &CDlgBoxFiles::RemoveBoxFile);
  connect(m_copy, &QPushButton::clicked, this, &CDlgBoxFiles::CopyFileAddress);
  connect(m_download, &QPushButton::clicked, this, &CDlgBoxFiles::DownloadBoxFile);
  connect(m_cancel, &QPushButton::clicked, this, &CDlgBoxFiles::reject);
  connect(m_browse, &QToolButton::clicked, this, &CDlgBoxFiles::ChooseDestination);
  connect(m_boxes, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (m_filling) {
      return;
    }
    m_model.SelectBox(index);
    ShowFilesOfBox();
  });
  connect(m_files, &QListWidget::currentRowChanged, this, [this](int row) {
    if (m_filling) {
      return;
    }
    m_model.SelectFile(row);
    UpdateButtons();
  });
  connect(m_files, &QListWidget::itemDoubleClicked, this, [this] { DownloadBoxFile(); });

  if (!m_setup.listing.empty()) {
    m_model.SetListing(m_setup.listing);
    FillBoxes();
  }
  ShowFilesOfBox();
}

void CDlgBoxFiles::FillBoxes() {
  m_filling = true;
  m_boxes->clear();
  for (const std::string& box : m_model.Boxes()) {
    m_boxes->addItem(ToQt(box));
  }
  m_boxes->setCurrentIndex(m_model.SelectedBox());
  m_filling = false;
}

void CDlgBoxFiles::ShowFilesOfBox() {
  m_filling = true;
  m_files->clear();
  m_files->addItem(ToQt(kMsgDownloadLooking));
  m_files->setEnabled(false);
  m_files->clear();
  for (const std::string& entry : m_model.FileEntries()) {
    m_files->addItem(ToQt(entry));
  }
  m_files->setCurrentRow(m_model.SelectedFile());
  m_files->setEnabled(true);
  m_filling = false;
  UpdateButtons();
}

void CDlgBoxFiles::UpdateButtons() {
  m_download->setEnabled(m_model.CanDownload());
  m_remove->setEnabled(m_model.CanDownload());
  m_copy->setEnabled(m_model.CanCopyAddress());
  m_refresh->setEnabled(true);
}

void CDlgBoxFiles::ListBoxFiles() {
  std::string error;
  if (!m_model.Refresh(m_setup.getText, &error)) {
    m_showWarning(ToQt(error));
    return;
  }
  FillBoxes();
  ShowFilesOfBox();
}

void CDlgBoxFiles::DownloadBoxFile() {
  auto ask = [this](const std::string& question) { return m_ask(ToQt(question)); };
  DownloadOutcome outcome = m_model.Download(FromQt(m_folder->text()), ask, m_setup.getFile);
  switch (outcome.status) {
    case DownloadStatus::kNoSelection:
      return;
    case DownloadStatus::kDone:
      m_showInformation(ToQt(outcome.message));
      WriteDownloadSelection(m_setup.store, m_model.LastBox(), m_model.LastFile());
      WriteDownloadFolder(m_setup.store, outcome.folder);
      accept();
      return;
    case DownloadStatus::kFailed:
    case DownloadStatus::kCannotCreate:
    case DownloadStatus::kNoFolder:
    case DownloadStatus::kEmptyFile:
      m_showWarning(ToQt(outcome.message));
      return;
  }
}

void CDlgBoxFiles::RemoveBoxFile() {
  if (m_model.CurrentFile() == nullptr) {
    return;
  }
  if (!m_ask(ToQt(kMsgDownloadRemoveQuestion))) {
    return;
  }
  RemoveOutcome outcome = m_model.RemoveSelected(m_setup.getText);
  if (outcome.ok) {
    m_showInformation(ToQt(outcome.message));
    ShowFilesOfBox();
  } else {
    m_showWarning(ToQt(outcome.message));
  }
  UpdateButtons();
  if (m_model.NeedsRefresh()) {
    ListBoxFiles();
  }
}

void CDlgBoxFiles::CopyFileAddress() {
  std::string address = m_model.SelectedAddress();
  if (address.empty()) {
    return;
  }
  QGuiApplication::clipboard()->setText(ToQt(address));
}

void CDlgBoxFiles::ChooseDestination() {
  QString picked = m_chooseFolder(m_folder->text());
  if (picked.isEmpty()) {
    return;
  }
  m_folder->setText(ToQt(WriteChosenFolder(m_setup.store, FromQt(picked))));
}

void CDlgBoxFiles::reject() {
  WriteDownloadSelection(m_setup.store, m_model.LastBox(), m_model.LastFile());
  QDialog::reject();
}

}  // namespace lapora
