#include "ui/dlg_import_varnex.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QVBoxLayout>
#include <utility>

#include "foundation/app_settings.h"
#include "foundation/text.h"
#include "platform/system_folders.h"
#include "resources/messages_download.h"
#include "resources/messages_import.h"
#include "ui/dlg_box_files.h"
#include "ui/dlg_job_progress.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

constexpr int kBoxCount = 4;
constexpr char kDateFormat[] = "dd/MM/yyyy";

QGroupBox* Frame(int number, QWidget* parent) {
  return new QGroupBox(QStringLiteral(" %1 ").arg(number), parent);
}

}  // namespace

QString QtFileFilter(const std::string& tabbed) {
  std::vector<std::string_view> parts = SplitBoxDataFields(tabbed, '\t');
  QStringList filters;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    QString name = ToQt(std::string(parts[i]));
    QString pattern = ToQt(std::string(parts[i + 1]));
    filters.push_back(name.contains('(') ? name : QStringLiteral("%1 (%2)").arg(name, pattern));
  }
  return filters.join(QStringLiteral(";;"));
}

CDlgImportVarnex::CDlgImportVarnex(ImportDialogSetup setup, QWidget* parent)
    : QDialog(parent), m_setup(std::move(setup)) {
  setWindowTitle(ToQt(kMsgImportTitle));
  m_showWarning = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
  m_ask = [this](const QString& text) {
    return QMessageBox::question(this, windowTitle(), text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  };
  ImportDialogMemory& memory = m_setup.memory;

  // 1: the source.
  QGroupBox* frame1 = Frame(1, this);
  auto* row1 = new QHBoxLayout(frame1);
  row1->addWidget(new QLabel(ToQt(kMsgImportFileLabel), frame1));
  m_file = new QLineEdit(frame1);
  m_file->setMinimumWidth(360);
  row1->addWidget(m_file, 1);
  m_sourceButton = new QToolButton(frame1);
  m_sourceButton->setText(QStringLiteral("..."));
  m_sourceMenu = new QMenu(m_sourceButton);
  connect(m_sourceMenu->addAction(ToQt(kMsgImportSelectFile)), &QAction::triggered, this,
          &CDlgImportVarnex::ChooseFile);
  for (int box = 1; box <= kBoxCount; ++box) {
    QAction* action = m_sourceMenu->addAction(ToQt(StrF(Tr(kMsgImportGetFromBox).c_str(), box)));
    connect(action, &QAction::triggered, this, [this, box] { FetchFromBox(box); });
    m_boxActions[static_cast<std::size_t>(box - 1)] = action;
  }
  m_fromServerAction = m_sourceMenu->addAction(ToQt(kMsgDownloadImportFromServer));
  connect(m_fromServerAction, &QAction::triggered, this, &CDlgImportVarnex::ImportFromServer);
  m_defineServerAction = m_sourceMenu->addAction(ToQt(kMsgDownloadDefineServer));
  connect(m_defineServerAction, &QAction::triggered, this, [this] { DefineServer(); });
  m_fromServerAction->setEnabled(m_setup.store != nullptr);
  m_defineServerAction->setEnabled(m_setup.store != nullptr);
  connect(m_sourceMenu, &QMenu::aboutToShow, this, [this] {
    for (int box = 1; box <= kBoxCount; ++box) {
      m_boxActions[static_cast<std::size_t>(box - 1)]->setEnabled(m_setup.boxConnected &&
                                                                  m_setup.boxConnected(box));
    }
  });
  m_sourceButton->setMenu(m_sourceMenu);
  m_sourceButton->setPopupMode(QToolButton::InstantPopup);
  row1->addWidget(m_sourceButton);

  // 2: the day and the time span.
  QGroupBox* frame2 = Frame(2, this);
  auto* row2 = new QHBoxLayout(frame2);
  row2->addWidget(new QLabel(ToQt(kMsgImportDateLabel), frame2));
  m_date = new QDateEdit(frame2);
  m_date->setCalendarPopup(true);
  m_date->setDisplayFormat(QString::fromLatin1(kDateFormat));
  QDate remembered =
      QDate::fromString(QString::fromStdString(memory.dateText), QString::fromLatin1(kDateFormat));
  m_date->setDate(remembered.isValid() ? remembered : QDate::currentDate());
  row2->addWidget(m_date);
  auto timeField = [&](const Message& label, const std::string& text, const Message& tip,
                       const Message& entry, const char* value, QLineEdit** edit, QMenu** menu) {
    row2->addWidget(new QLabel(ToQt(label), frame2));
    *edit = new QLineEdit(ToQt(text), frame2);
    (*edit)->setMaximumWidth(100);
    row2->addWidget(*edit);
    auto* button = new QToolButton(frame2);
    button->setText(QStringLiteral("v"));
    button->setToolTip(ToQt(tip));
    *menu = new QMenu(button);
    QLineEdit* target = *edit;
    connect((*menu)->addAction(ToQt(entry)), &QAction::triggered, this,
            [target, value] { target->setText(QString::fromLatin1(value)); });
    button->setMenu(*menu);
    button->setPopupMode(QToolButton::InstantPopup);
    row2->addWidget(button);
  };
  timeField(kMsgImportFrom, memory.startText.empty() ? "00:00:00" : memory.startText,
            kMsgImportStartMarkerTip, kMsgImportStartOfDay, "00:00:00", &m_start, &m_startMenu);
  timeField(kMsgImportTo, memory.endText.empty() ? "23:59:59" : memory.endText,
            kMsgImportEndMarkerTip, kMsgImportEndOfDay, "23:59:59", &m_end, &m_endMenu);
  row2->addStretch(1);

  // 3: the search.
  QGroupBox* frame3 = Frame(3, this);
  auto* row3 = new QHBoxLayout(frame3);
  m_search = new QPushButton(ToQt(kMsgImportSearch), frame3);
  row3->addWidget(m_search);
  m_showAbnormal = new QCheckBox(ToQt(kMsgImportShowAbnormal), frame3);
  row3->addWidget(m_showAbnormal);
  row3->addStretch(1);
  connect(m_search, &QPushButton::clicked, this, &CDlgImportVarnex::Search);

  // 4: box id and time correction.
  QGroupBox* frame4 = Frame(4, this);
  auto* row4 = new QHBoxLayout(frame4);
  row4->addWidget(new QLabel(ToQt(kMsgImportBoxIdLabel), frame4));
  m_boxId = new QComboBox(frame4);
  for (const std::string& entry : ImportBoxIdEntries()) {
    m_boxIds.push_back(ImportBoxIdOfEntry(entry));
    m_boxId->addItem(ToQt(ImportBoxIdDisplay(entry, m_setup.announcedIds)));
  }
  m_boxId->setCurrentIndex(-1);
  row4->addWidget(m_boxId);
  row4->addWidget(new QLabel(ToQt(kMsgImportCorrectionLabel), frame4));
  m_correction = new QComboBox(frame4);
  for (const Message* entry : {&kMsgImportCorrectionAsIs, &kMsgImportCorrection24h,
                               &kMsgImportCorrection48h, &kMsgImportCorrection72h}) {
    m_correction->addItem(ToQt(*entry));
  }
  const std::string compact = FromQt(m_date->date().toString(QStringLiteral("yyyyMMdd")));
  const std::array<std::string, 4> raceDays = m_setup.settings.RaceDayDates();
  int correction = 0;
  for (std::size_t k = 0; k < raceDays.size(); ++k) {
    if (raceDays[k] == compact) {
      correction = static_cast<int>(k);
      break;
    }
  }
  m_correction->setCurrentIndex(correction);
  row4->addWidget(m_correction);
  m_indicator = new QLabel(frame4);
  QFont bold = m_indicator->font();
  bold.setBold(true);
  m_indicator->setFont(bold);
  row4->addWidget(m_indicator);
  row4->addStretch(1);

  // 5: the actions.
  QGroupBox* frame5 = Frame(5, this);
  auto* grid5 = new QGridLayout(frame5);
  m_replay = new QPushButton(ToQt(kMsgImportReplayButton), frame5);
  m_import = new QPushButton(ToQt(kMsgImportSimpleButton), frame5);
  grid5->addWidget(m_replay, 0, 0);
  grid5->addWidget(m_import, 0, 1);
  grid5->addWidget(new QLabel(ToQt(kMsgImportOutputLabel), frame5), 1, 0);
  auto* outputRow = new QHBoxLayout;
  m_output = new QLineEdit(frame5);
  outputRow->addWidget(m_output, 1);
  auto* outputButton = new QToolButton(frame5);
  outputButton->setText(QStringLiteral("..."));
  outputRow->addWidget(outputButton);
  m_save = new QPushButton(ToQt(kMsgImportSaveButton), frame5);
  outputRow->addWidget(m_save);
  grid5->addLayout(outputRow, 1, 1);
  connect(outputButton, &QToolButton::clicked, this, &CDlgImportVarnex::ChooseOutput);
  connect(m_replay, &QPushButton::clicked, this, [this] { CloseWith(ImportAction::kReplay); });
  connect(m_import, &QPushButton::clicked, this, [this] { CloseWith(ImportAction::kImport); });
  connect(m_save, &QPushButton::clicked, this, [this] { CloseWith(ImportAction::kSave); });

  // Information, count and Cancel.
  m_information = new QListWidget(this);
  m_information->setMinimumHeight(160);
  m_clear = new QPushButton(ToQt(kMsgImportClearLogs), this);
  connect(m_clear, &QPushButton::clicked, m_information, &QListWidget::clear);
  m_count = new QLabel(this);
  m_cancel = new QPushButton(ToQt(kMsgImportCancel), this);
  connect(m_cancel, &QPushButton::clicked, this, &CDlgImportVarnex::reject);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(m_clear);
  bottom->addStretch(1);
  bottom->addWidget(m_count);
  bottom->addStretch(1);
  bottom->addWidget(m_cancel);

  auto* layout = new QVBoxLayout(this);
  for (QGroupBox* frame : {frame1, frame2, frame3, frame4, frame5}) {
    layout->addWidget(frame);
  }
  layout->addWidget(new QLabel(ToQt(kMsgImportInformation), this));
  layout->addWidget(m_information, 1);
  layout->addLayout(bottom);

  connect(m_correction, &QComboBox::currentIndexChanged, this, &CDlgImportVarnex::UpdateIndicator);
  connect(m_boxId, &QComboBox::currentIndexChanged, this, &CDlgImportVarnex::UpdateActions);
  UpdateIndicator();
  UpdateActions();
  m_search->setDefault(true);
}

std::string CDlgImportVarnex::BoxId() const {
  int index = m_boxId->currentIndex();
  return index >= 0 && static_cast<std::size_t>(index) < m_boxIds.size()
             ? m_boxIds[static_cast<std::size_t>(index)]
             : std::string();
}

ImportRequest CDlgImportVarnex::TakeRequest() {
  ImportRequest request;
  request.action = m_action;
  request.found = std::move(m_found);
  m_found.clear();
  request.headers = m_headers;
  request.boxId = BoxId();
  request.correctionIndex = CorrectionIndex();
  request.attached = m_attached;
  request.outputPath = m_outputPath;
  return request;
}

void CDlgImportVarnex::AddInformation(const std::string& text) {
  m_information->addItem(ToQt(text));
  m_information->scrollToBottom();
}

void CDlgImportVarnex::UpdateIndicator() {
  int k = m_correction->currentIndex();
  m_indicator->setText(k > 0 ? ToQt(StrF(Tr(kMsgImportCorrectionIndicator).c_str(), k * 24))
                             : QString());
  m_indicator->setVisible(k > 0);
}

void CDlgImportVarnex::UpdateActions() {
  bool enabled = !m_found.empty() && m_boxId->currentIndex() >= 0;
  for (QWidget* widget : std::initializer_list<QWidget*>{m_replay, m_import, m_save, m_count}) {
    widget->setEnabled(enabled);
  }
  m_count->setText(QStringLiteral("%1 %2").arg(m_found.size()).arg(ToQt(kMsgImportConsistent)));
}

void CDlgImportVarnex::SelectBoxId(const std::string& id) {
  for (std::size_t i = 0; i < m_boxIds.size(); ++i) {
    if (m_boxIds[i] == id) {
      m_boxId->setCurrentIndex(static_cast<int>(i));
      return;
    }
  }
}

void CDlgImportVarnex::ChooseFile() {
  QString path =
      QFileDialog::getOpenFileName(this, ToQt(kMsgImportSelectFile), ToQt(m_setup.memory.parseDir),
                                   QtFileFilter(Tr(kMsgImportFileFilter)));
  if (path.isEmpty()) {
    return;
  }
  m_file->setText(path);
  m_setup.memory.parseDir = FromQt(QFileInfo(path).absolutePath());
  m_attached.reset();
}

bool CDlgImportVarnex::DefineServer() {
  if (m_setup.store == nullptr) {
    return false;
  }
  bool ok = false;
  QString url = QInputDialog::getText(this, ToQt(kMsgDownloadServerPrompt),
                                      ToQt(kMsgDownloadServerPrompt) + QStringLiteral("\n") +
                                          QString::fromLatin1(kServerUrlExample),
                                      QLineEdit::Normal, ToQt(ReadServerUrl(*m_setup.store)), &ok);
  if (!ok) {
    return false;
  }
  return WriteServerUrl(*m_setup.store, FromQt(url));
}

void CDlgImportVarnex::ImportFromServer() {
  if (m_setup.store == nullptr) {
    return;
  }
  if (ReadServerUrl(*m_setup.store).empty() && !DefineServer()) {
    return;
  }
  std::string base = ServerBase(ReadServerUrl(*m_setup.store));
  if (base.empty()) {
    return;
  }
  std::string listing;
  std::string error;
  bool fetched = FetchBoxListing(base, HttpGetTextWithProgress(this, {}), &listing, &error);
  if (!fetched) {
    m_showWarning(ToQt(error));
    return;
  }
  CDlgBoxFiles download(
      BoxFilesSetup{*m_setup.store, base, listing, XdgDocumentsFolder(), {}, m_setup.download},
      this);
  if (download.exec() != QDialog::Accepted || download.ResultPath().empty()) {
    return;
  }
  // The box id is the operator's to choose: a server file belongs to no connected box.
  m_file->setText(ToQt(download.ResultPath()));
  m_attached.reset();
}

void CDlgImportVarnex::FetchFromBox(int box) {
  if (!m_setup.fetchFromBox) {
    return;
  }
  ImportBoxFetch fetch = m_setup.fetchFromBox(box);
  if (!fetch.ok) {
    m_file->setText(ToQt(kMsgImportFailure));
    m_attached.reset();
    return;
  }
  m_file->setText(ToQt(fetch.url));
  SelectBoxId(fetch.box.detectorLabel);
  m_attached = fetch.box;
}

void CDlgImportVarnex::ChooseOutput() {
  QString path =
      QFileDialog::getSaveFileName(this, ToQt(kMsgImportOutputTitle), ToQt(m_setup.memory.saveDir),
                                   QtFileFilter(Tr(kMsgImportOutputFilter)));
  if (path.isEmpty()) {
    return;
  }
  m_output->setText(path);
  m_setup.memory.saveDir = FromQt(QFileInfo(path).absolutePath());
}

void CDlgImportVarnex::Search() {
  QDate date = m_date->date();
  ImportSearchInput input;
  input.year = date.year();
  input.month = date.month();
  input.day = date.day();
  input.startText = FromQt(m_start->text());
  input.endText = FromQt(m_end->text());
  input.fileField = FromQt(m_file->text().trimmed());
  input.showAbnormal = m_showAbnormal->isChecked();

  // The download and the scan run on a worker: the window stays alive however slow the link
  // or big the file, and the progress dialog's Cancel stops either.
  ImportSearchOutcome outcome;
  std::vector<std::string> alerts;
  CProgressJob job(ImportScanCaption(), [&](CProgressJob& worker) {
    ImportSearchServices services{m_setup.chipTable, m_setup.settings, m_setup.tempFiles,
                                  m_setup.download, m_setup.sound};
    services.callbacks.info = [&worker](const std::string& text) { worker.AddLine(text); };
    services.callbacks.progress = [&worker](const std::string& text) {
      return worker.Report(text);
    };
    services.callbacks.alert = [&alerts](const std::string& text) { alerts.push_back(text); };
    outcome = RunImportSearch(input, services);
  });
  job.Start();
  WaitWithProgressDialog(
      job, ToQt(input.fileField), [this](const std::string& line) { AddInformation(line); }, this);
  job.Join();
  for (const std::string& alert : alerts) {
    m_showWarning(ToQt(alert));
  }
  m_setup.memory.dateText = outcome.check.dateText;
  if (!outcome.check.ok) {
    m_showWarning(ToQt(outcome.check.message));
    QWidget* field = m_file;
    switch (outcome.check.faultyField) {
      case ImportField::kStartTime:
        field = m_start;
        break;
      case ImportField::kEndTime:
        field = m_end;
        break;
      case ImportField::kDate:
        field = m_date;
        break;
      default:
        break;
    }
    field->setFocus();
    if (outcome.check.faultyField == ImportField::kFile) {
      m_correction->setCurrentIndex(outcome.check.correctionIndex);
      m_setup.memory.startText = input.startText;
      m_setup.memory.endText = input.endText;
    }
    return;
  }
  m_correction->setCurrentIndex(outcome.check.correctionIndex);
  m_setup.memory.startText = input.startText;
  m_setup.memory.endText = input.endText;
  m_headers = outcome.headers;
  m_found = std::move(outcome.scan.found);
  UpdateActions();
}

void CDlgImportVarnex::CloseWith(ImportAction action) {
  if (m_found.empty() || BoxId().empty()) {
    return;
  }
  if (action == ImportAction::kSave) {
    ImportSaveCheck check = CheckImportSave(FromQt(m_output->text()));
    if (!check.ok) {
      m_showWarning(ToQt(check.message));
      m_output->setFocus();
      return;
    }
    if (check.exists) {
      if (!m_ask(ToQt(check.overwriteQuestion))) {
        return;
      }
      std::string message;
      if (!RemoveImportOutput(check.path, &message)) {
        m_showWarning(ToQt(message));
        return;
      }
    }
    m_outputPath = check.path;
  } else if (!m_ask(ToQt(ImportActionQuestion(action)))) {
    return;
  }
  m_action = action;
  RememberOnClose();
  QDialog::accept();
}

void CDlgImportVarnex::reject() {
  m_action = ImportAction::kNone;
  RememberOnClose();
  QDialog::reject();
}

void CDlgImportVarnex::RememberOnClose() {
  QDate date = m_date->date();
  m_setup.memory.dateText = StrF("%02d/%02d/%04d", date.day(), date.month(), date.year());
}

}  // namespace lapora
