#include "ui/dlg_export_detection_lines.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QSet>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "resources/messages_export_dialog.h"
#include "ui/dlg_ftp_servers.h"
#include "ui/dlg_job_progress.h"
#include "ui/dlg_recalage.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

constexpr int kListWidth = 480;
// Column widths in thirty-seconds of the list width.
constexpr std::array<int, 6> kColumnShares = {3, 4, 4, 8, 5, 8};
constexpr int kToolTipMs = 15000;
constexpr int kPeriodMin = 1;
constexpr int kPeriodMax = 10;

// Tool tips wrap at 400 pixels.
QString WrappedTip(const std::string& text) {
  return QStringLiteral("<div style='max-width:400px'>") + ToQt(text).toHtmlEscaped() +
         QStringLiteral("</div>");
}

}  // namespace

CDlgExportDetectionLines::CDlgExportDetectionLines(CExportLinesDialogModel& model, QWidget* parent)
    : QDialog(parent), m_model(model) {
  setWindowTitle(ToQt(kMsgExportTitle));
  m_showMessage = [this](const QString& text, QMessageBox::Icon icon) {
    ExecMessage(this, icon, windowTitle(), text);
  };
  m_ask = [this](const QString& text) {
    return QMessageBox::question(this, windowTitle(), text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  };
  m_chooseFolder = [this](const QString& start) {
    return QFileDialog::getExistingDirectory(this, windowTitle(), start);
  };

  const ExportSettings& opened = m_model.Opened();
  auto* layout = new QVBoxLayout(this);

  // Gap, folder, name, ZIP and FTP.
  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel(ToQt(kMsgExportGapLabel), this), 0, 0);
  m_gap = new QLineEdit(ToQt(opened.delta), this);
  fields->addWidget(m_gap, 0, 1);
  fields->addWidget(new QLabel(ToQt(kMsgExportFolderLabel), this), 1, 0);
  m_folder = new QLineEdit(ToQt(opened.exportPath), this);
  fields->addWidget(m_folder, 1, 1);
  m_folderBrowse = new QPushButton(ToQt(kMsgExportBrowse), this);
  fields->addWidget(m_folderBrowse, 1, 2);
  fields->addWidget(new QLabel(ToQt(kMsgExportNameLabel), this), 2, 0);
  m_name = new QLineEdit(ToQt(opened.genericFilename), this);
  fields->addWidget(m_name, 2, 1);
  m_zip = new QCheckBox(ToQt(kMsgExportZipBox), this);
  m_zip->setChecked(opened.zip);
  fields->addWidget(m_zip, 3, 1);
  auto* ftpRow = new QHBoxLayout;
  m_ftp = new QCheckBox(ToQt(kMsgExportFtpBox), this);
  m_ftp->setChecked(opened.ftpExport);
  m_ftp->setToolTipDuration(kToolTipMs);
  m_ftpPick = new QPushButton(ToQt(kMsgExportBrowse), this);
  m_ftpTarget = new QLabel(this);
  ftpRow->addWidget(m_ftp);
  ftpRow->addWidget(m_ftpPick);
  ftpRow->addWidget(m_ftpTarget, 1);
  fields->addLayout(ftpRow, 4, 1, 1, 2);
  layout->addLayout(fields);

  // Display type.
  auto* types = new QHBoxLayout;
  auto* typeGroup = new QButtonGroup(this);
  const Message* typeTexts[3] = {&kMsgExportTypeClockRadio, &kMsgExportTypePassageRadio,
                                 &kMsgExportTypeLogicaRadio};
  for (int i = 0; i < 3; ++i) {
    m_types[i] = new QRadioButton(ToQt(*typeTexts[i]), this);
    typeGroup->addButton(m_types[i], i);
    types->addWidget(m_types[i]);
  }
  m_types[m_model.DisplayType()]->setChecked(true);
  layout->addLayout(types);

  // The detector list and its side controls.
  auto* middle = new QHBoxLayout;
  m_list = new QTreeWidget(this);
  m_list->setColumnCount(6);
  m_list->setHeaderLabels({ToQt(kMsgExportColumnDetector), ToQt(kMsgExportColumnMaxPass),
                           ToQt(kMsgExportColumnCount), ToQt(kMsgExportColumnBestTime),
                           ToQt(kMsgExportColumnBib), ToQt(kMsgExportColumnHandicap)});
  m_list->setRootIsDecorated(false);
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setMinimumWidth(kListWidth);
  m_list->header()->setDefaultAlignment(Qt::AlignCenter);
  for (int c = 0; c < 6; ++c) {
    m_list->setColumnWidth(c, kListWidth * kColumnShares[static_cast<std::size_t>(c)] / 32);
  }
  middle->addWidget(m_list, 1);
  auto* side = new QVBoxLayout;
  m_filter = new QPushButton(ToQt(kMsgExportFilter), this);
  side->addWidget(m_filter);
  side->addWidget(new QLabel(ToQt(kMsgExportHandicapLabel), this));
  auto* handicapRow = new QHBoxLayout;
  m_handicap = new QLabel(ToQt(kMsgExportNoHandicap), this);
  m_reset = new QPushButton(ToQt(kMsgExportResetButton), this);
  m_reset->setToolTip(WrappedTip(Tr(kMsgExportResetTip)));
  m_reset->setToolTipDuration(kToolTipMs);
  handicapRow->addWidget(m_handicap, 1);
  handicapRow->addWidget(m_reset);
  side->addLayout(handicapRow);
  m_retiming = new QPushButton(ToQt(kMsgExportRetiming), this);
  side->addWidget(m_retiming);
  side->addStretch(1);
  middle->addLayout(side);
  layout->addLayout(middle);

  auto* dataRow = new QHBoxLayout;
  dataRow->addWidget(new QLabel(ToQt(kMsgExportDataLabel), this));
  m_data = new QLabel(this);
  dataRow->addWidget(m_data, 1);
  m_exportNow = new QPushButton(ToQt(kMsgExportNow), this);
  dataRow->addWidget(m_exportNow);
  layout->addLayout(dataRow);

  // The background export and "Fermer".
  auto* bottom = new QHBoxLayout;
  m_background = new QCheckBox(ToQt(kMsgExportEvery), this);
  m_background->setChecked(opened.backgroundExport);
  m_period = new QLineEdit(QString::number(opened.exportPeriodMinutes), this);
  m_period->setMaximumWidth(50);
  m_periodUp = new QToolButton(this);
  m_periodUp->setArrowType(Qt::UpArrow);
  m_periodDown = new QToolButton(this);
  m_periodDown->setArrowType(Qt::DownArrow);
  bottom->addWidget(m_background);
  bottom->addWidget(m_period);
  bottom->addWidget(m_periodUp);
  bottom->addWidget(m_periodDown);
  bottom->addWidget(new QLabel(ToQt(kMsgExportMinutes), this));
  bottom->addStretch(1);
  m_close = new QPushButton(ToQt(kMsgExportClose), this);
  bottom->addWidget(m_close);
  layout->addLayout(bottom);

  connect(m_filter, &QPushButton::clicked, this, [this] { (void)Filter(); });
  connect(typeGroup, &QButtonGroup::idClicked, this, &CDlgExportDetectionLines::DisplayTypeChosen);
  connect(m_list, &QTreeWidget::itemSelectionChanged, this,
          &CDlgExportDetectionLines::UpdateSideControls);
  connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { RunRetiming(); });
  connect(m_retiming, &QPushButton::clicked, this, &CDlgExportDetectionLines::RunRetiming);
  connect(m_reset, &QPushButton::clicked, this, &CDlgExportDetectionLines::ResetHandicap);
  connect(m_folderBrowse, &QPushButton::clicked, this, &CDlgExportDetectionLines::BrowseFolder);
  connect(m_ftp, &QCheckBox::clicked, this, &CDlgExportDetectionLines::FtpToggled);
  connect(m_ftpPick, &QPushButton::clicked, this, &CDlgExportDetectionLines::PickServers);
  connect(m_exportNow, &QPushButton::clicked, this, &CDlgExportDetectionLines::ExportNow);
  connect(m_periodUp, &QToolButton::clicked, this, [this] { StepPeriod(1); });
  connect(m_periodDown, &QToolButton::clicked, this, [this] { StepPeriod(-1); });
  connect(m_close, &QPushButton::clicked, this, &CDlgExportDetectionLines::reject);

  UpdateFtpTarget();
  UpdateSideControls();
}

JobWait CDlgExportDetectionLines::ProgressWait() {
  return [this](CProgressJob& job) { WaitWithProgressDialog(job, windowTitle(), {}, this); };
}

CDlgExportDetectionLines::FilterEnd CDlgExportDetectionLines::Filter() {
  CExportLinesDialogModel::FilterResult result =
      m_model.Filter(FromQt(m_gap->text()), ProgressWait());
  if (!result.warning.empty()) {
    m_showMessage(ToQt(result.warning), QMessageBox::Warning);
    return FilterEnd::kRefused;
  }
  if (result.cancelled) {
    return FilterEnd::kCancelled;
  }
  FillRows();
  UpdateSideControls();
  return FilterEnd::kFilled;
}

void CDlgExportDetectionLines::Refilter(std::optional<int> displayTypeBefore) {
  QSet<QString> selected;
  for (QTreeWidgetItem* item : m_list->selectedItems()) {
    selected.insert(item->text(0));
  }
  if (Filter() == FilterEnd::kCancelled) {
    // The rows stay those of the last "Filtrer", in the display type they had; a handicap
    // stored meanwhile shows, as it is what the exports will use.
    if (displayTypeBefore) {
      m_model.SetDisplayType(*displayTypeBefore);
      m_types[m_model.DisplayType()]->setChecked(true);
    }
    FillRows();
  }
  for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = m_list->topLevelItem(i);
    item->setSelected(selected.contains(item->text(0)));
  }
  m_list->setFocus();
  UpdateSideControls();
}

void CDlgExportDetectionLines::FillRows() {
  m_list->clear();
  for (std::size_t row = 0; row < m_model.Rows().size(); ++row) {
    auto* item = new QTreeWidgetItem(m_list);
    std::array<std::string, 6> columns = m_model.RowColumns(row);
    for (int c = 0; c < 6; ++c) {
      item->setText(c, ToQt(columns[static_cast<std::size_t>(c)]));
      item->setTextAlignment(c, Qt::AlignCenter);
    }
  }
}

std::optional<std::size_t> CDlgExportDetectionLines::SingleSelectedRow() const {
  QList<QTreeWidgetItem*> selected = m_list->selectedItems();
  if (selected.size() != 1) {
    return std::nullopt;
  }
  int row = m_list->indexOfTopLevelItem(selected.front());
  if (row < 0 || static_cast<std::size_t>(row) >= m_model.Rows().size()) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(row);
}

void CDlgExportDetectionLines::UpdateSideControls() {
  std::optional<std::size_t> row = SingleSelectedRow();
  m_handicap->setText(row ? ToQt(m_model.Rows()[*row].handicap.FormatHundredths())
                          : ToQt(kMsgExportNoHandicap));
  m_retiming->setEnabled(row.has_value());
  m_reset->setEnabled(row.has_value());
  bool rows = m_model.HasRows();
  for (QRadioButton* radio : m_types) {
    radio->setEnabled(rows);
  }
  m_exportNow->setEnabled(rows);
  m_data->setText(ToQt(m_model.DataToExportText()));
}

void CDlgExportDetectionLines::UpdateFtpTarget() {
  m_ftpTarget->setText(ToQt(m_model.FtpTargetLabel()));
  m_ftp->setToolTip(WrappedTip(m_model.FtpToolTip()));
}

void CDlgExportDetectionLines::DisplayTypeChosen(int displayType) {
  const int before = m_model.DisplayType();
  m_model.SetDisplayType(displayType);
  Refilter(before);
}

void CDlgExportDetectionLines::RunRetiming() {
  std::optional<std::size_t> row = SingleSelectedRow();
  if (!row) {
    return;
  }
  CDlgRecalage retiming(m_model.RetimingFor(*row), this);
  if (retiming.exec() == QDialog::Accepted) {
    std::string warning = m_model.SetHandicap(*row, retiming.Handicap());
    // What the settings now hold, which is what the exports will use.
    m_handicap->setText(ToQt(m_model.Rows().at(*row).handicap.FormatHundredths()));
    if (!warning.empty()) {
      m_showMessage(ToQt(warning), QMessageBox::Warning);
    }
  }
  Refilter();
}

void CDlgExportDetectionLines::ResetHandicap() {
  std::optional<std::size_t> row = SingleSelectedRow();
  if (!row || !m_ask(ToQt(kMsgExportResetQuestion))) {
    return;
  }
  std::string warning = m_model.ResetHandicap(*row);
  m_handicap->setText(ToQt(m_model.Rows().at(*row).handicap.FormatHundredths()));
  if (!warning.empty()) {
    m_showMessage(ToQt(warning), QMessageBox::Warning);
  }
  Refilter();
}

void CDlgExportDetectionLines::BrowseFolder() {
  QString chosen = m_chooseFolder(m_folder->text());
  if (chosen.isEmpty() || chosen.compare(m_folder->text(), Qt::CaseInsensitive) == 0) {
    return;
  }
  while (chosen.size() > 1 && (chosen.endsWith('/') || chosen.endsWith('\\'))) {
    chosen.chop(1);
  }
  m_folder->setText(chosen);
}

void CDlgExportDetectionLines::FtpToggled(bool on) {
  if (m_model.NeedsServerPicker(on)) {
    PickServers();
  }
}

void CDlgExportDetectionLines::PickServers() {
  CDlgFtpServers picker(m_model.FtpServerLabels(), m_model.Environment().ftpServersPath, this);
  if (picker.exec() == QDialog::Accepted) {
    m_model.SetFtpServers(picker.CheckedLabels());
    UpdateFtpTarget();
  }
}

void CDlgExportDetectionLines::ExportNow() {
  // The export runs on a worker; the window goes on under its progress dialog.
  CExportLinesDialogModel::ExportNowResult result =
      m_model.ExportNow(FromQt(m_gap->text()), FromQt(m_folder->text()), FromQt(m_name->text()),
                        m_zip->isChecked(), m_ftp->isChecked(), ProgressWait());
  if (!result.warning.empty()) {
    m_showMessage(ToQt(result.warning), QMessageBox::Warning);
    return;
  }
  for (const std::string& error : result.outcome.errors) {
    m_showMessage(ToQt(error), QMessageBox::Critical);
  }
  if (!result.outcome.message.empty()) {
    m_showMessage(ToQt(result.outcome.message),
                  result.outcome.failed ? QMessageBox::Warning : QMessageBox::Information);
  }
}

void CDlgExportDetectionLines::StepPeriod(int delta) {
  bool ok = false;
  int value = m_period->text().trimmed().toInt(&ok);
  value = ok ? value + delta : kPeriodMin;
  m_period->setText(QString::number(std::clamp(value, kPeriodMin, kPeriodMax)));
}

void CDlgExportDetectionLines::reject() {
  if (!m_closed) {
    m_closed = true;
    ExportDialogFields fields;
    fields.delta = FromQt(m_gap->text());
    fields.exportPath = FromQt(m_folder->text());
    fields.genericFilename = FromQt(m_name->text());
    fields.ftpExport = m_ftp->isChecked();
    fields.zip = m_zip->isChecked();
    fields.displayType = m_model.DisplayType();
    fields.periodText = FromQt(m_period->text());
    fields.backgroundExport = m_background->isChecked();
    m_model.Close(fields);
    m_list->clear();
  }
  QDialog::reject();
}

}  // namespace lapora
