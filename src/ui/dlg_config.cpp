#include "ui/dlg_config.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include "foundation/app_settings.h"
#include "foundation/text.h"
#include "resources/messages_config.h"
#include "ui/dlg_config_advanced.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

constexpr int kAddressWidth = 150;
constexpr int kPortWidth = 70;
constexpr int kIdWidth = 120;

// A tooltip that stays up 15 s and wraps at 400 pixels.
void SetLongTooltip(QWidget* widget, const QString& text) {
  widget->setToolTip(QStringLiteral("<table width=\"%1\"><tr><td>%2</td></tr></table>")
                         .arg(CDlgConfig::kTooltipWidth)
                         .arg(text.toHtmlEscaped()));
  widget->setToolTipDuration(CDlgConfig::kTooltipMs);
}

QLabel* RightLabel(const Message& message, QWidget* parent) {
  auto* label = new QLabel(ToQt(message), parent);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

void KeepRoomWhenHidden(QWidget* widget) {
  QSizePolicy policy = widget->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  widget->setSizePolicy(policy);
}

}  // namespace

CDlgConfig::CDlgConfig(ConfigurationSession& session, QWidget* parent)
    : QDialog(parent), m_session(session) {
  setWindowTitle(ToQt(kMsgConfigTitle));
  m_showWarning = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
  m_showInfo = [this](const QString& text, bool ok) {
    if (ok) {
      QMessageBox::information(this, windowTitle(), text);
    } else {
      QMessageBox::warning(this, windowTitle(), text);
    }
  };
  m_chooseSaveFile = [this](const QString& title, const QString& start, const QString& filter) {
    // The dialog asks before overwriting and only lets existing folders be chosen.
    return QFileDialog::getSaveFileName(this, title, start, filter);
  };
  m_openFolder = [](const QString& folder) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
  };

  ConfigurationFields fields = m_session.OpeningFields();

  // Installed boxes.
  auto* boxes = new QGroupBox(ToQt(kMsgConfigBoxesGroup), this);
  auto* boxesLayout = new QVBoxLayout(boxes);
  auto* heading = new QLabel(ToQt(kMsgConfigBoxesHeading), boxes);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  boxesLayout->addWidget(heading);
  auto* slotGrid = new QGridLayout;
  slotGrid->setHorizontalSpacing(6);
  slotGrid->setVerticalSpacing(6);
  for (int i = 0; i < kBoxSlotCount; ++i) {
    const SlotFields& slot = fields.boxSlots[static_cast<std::size_t>(i)];
    auto* boxLabel = new QLabel(ToQt(StrF(Tr(kMsgConfigBoxLabel).c_str(), i + 1)), boxes);
    boxLabel->setFont(bold);
    m_slotAddress[i] = new QLineEdit(ToQt(slot.address), boxes);
    m_slotAddress[i]->setMinimumWidth(kAddressWidth);
    m_slotPort[i] = new QLineEdit(ToQt(slot.port), boxes);
    m_slotPort[i]->setFixedWidth(kPortWidth);
    m_slotId[i] = new QComboBox(boxes);
    m_slotId[i]->setMinimumWidth(kIdWidth);
    for (const std::string& entry : DetectorIdEntries()) {
      m_slotId[i]->addItem(ToQt(entry));
    }
    m_slotId[i]->setCurrentIndex(slot.detectorIndex);
    m_slotId[i]->setEnabled(slot.identifierEnabled);
    if (!slot.editable) {
      for (QWidget* field :
           {static_cast<QWidget*>(m_slotAddress[i]), static_cast<QWidget*>(m_slotPort[i]),
            static_cast<QWidget*>(m_slotId[i])}) {
        field->setEnabled(false);
      }
    }
    slotGrid->addWidget(boxLabel, i, 0);
    slotGrid->addWidget(RightLabel(kMsgConfigHostLabel, boxes), i, 1);
    slotGrid->addWidget(m_slotAddress[i], i, 2);
    slotGrid->addWidget(RightLabel(kMsgConfigPortLabel, boxes), i, 3);
    slotGrid->addWidget(m_slotPort[i], i, 4);
    slotGrid->addWidget(RightLabel(kMsgConfigBoxIdLabel, boxes), i, 5);
    slotGrid->addWidget(m_slotId[i], i, 6);
  }
  slotGrid->setColumnStretch(2, 1);
  boxesLayout->addLayout(slotGrid);
  auto* note = new QLabel(ToQt(kMsgConfigBoxesNote), boxes);
  note->setWordWrap(true);
  boxesLayout->addWidget(note);

  // Export.
  auto* exportGroup = new QGroupBox(ToQt(kMsgConfigExportGroup), this);
  auto* exportLayout = new QHBoxLayout(exportGroup);
  m_exportFile = new QLineEdit(ToQt(fields.exportFile), exportGroup);
  m_browse = new QPushButton(ToQt(kMsgConfigBrowse), exportGroup);
  m_browse->setFixedWidth(32);
  exportLayout->addWidget(new QLabel(ToQt(kMsgConfigExportFileLabel), exportGroup));
  exportLayout->addWidget(m_exportFile, 1);
  exportLayout->addWidget(m_browse);

  // Direct connection.
  auto* direct = new QGroupBox(ToQt(kMsgConfigDirectGroup), this);
  auto* directGrid = new QGridLayout(direct);
  m_host = new QLineEdit(ToQt(fields.host), direct);
  m_host->setMinimumWidth(kAddressWidth);
  m_port = new QLineEdit(ToQt(fields.port), direct);
  m_port->setFixedWidth(kPortWidth);
  m_reconnect = new QLineEdit(ToQt(fields.reconnectSeconds), direct);
  m_reconnect->setFixedWidth(48);
  directGrid->addWidget(RightLabel(kMsgConfigHostLabel, direct), 0, 0);
  directGrid->addWidget(m_host, 0, 1);
  directGrid->addWidget(RightLabel(kMsgConfigPortLabel, direct), 0, 2);
  directGrid->addWidget(m_port, 0, 3);
  auto* retry = new QHBoxLayout;
  retry->addWidget(new QLabel(ToQt(kMsgConfigRetryLabel), direct));
  retry->addWidget(m_reconnect);
  retry->addWidget(new QLabel(ToQt(kMsgConfigSeconds), direct));
  retry->addStretch(1);
  directGrid->addLayout(retry, 1, 0, 1, 4);
  m_catchUp = new QCheckBox(ToQt(kMsgConfigCatchUp), direct);
  m_catchUp->setChecked(fields.catchUp);
  directGrid->addWidget(m_catchUp, 2, 0, 1, 4);
  directGrid->setColumnStretch(1, 1);

  // Other settings.
  auto* other = new QGroupBox(ToQt(kMsgConfigOtherGroup), this);
  auto* otherLayout = new QHBoxLayout(other);
  auto* otherGrid = new QGridLayout;
  m_lostConnection = new QComboBox(other);
  for (const LostConnectionChoice& choice : LostConnectionChoices()) {
    m_lostConnection->addItem(ToQt(*choice.text), choice.seconds);
  }
  m_lostConnection->setCurrentIndex(fields.lostConnectionIndex);
  SetLongTooltip(m_lostConnection, ToQt(kMsgConfigLostConnectionTip));
  m_longRace = new QComboBox(other);
  for (const std::string& entry : LongRaceEntries()) {
    m_longRace->addItem(ToQt(entry));
  }
  m_longRace->setCurrentIndex(fields.longRaceIndex);
  m_ignoreUnknown = new QCheckBox(ToQt(kMsgConfigIgnoreUnknownTags), other);
  m_ignoreUnknown->setChecked(fields.ignoreUnknownTags);
  m_beepDetections = new QCheckBox(ToQt(kMsgConfigBeepDetections), other);
  m_beepDetections->setChecked(fields.beepDetections);
  m_beepWhenQuit = new QCheckBox(ToQt(kMsgConfigBeepWhenQuit), other);
  m_beepWhenQuit->setChecked(fields.beepWhenQuit);
  otherGrid->addWidget(RightLabel(kMsgConfigLostConnectionLabel, other), 0, 0);
  otherGrid->addWidget(m_lostConnection, 0, 1);
  otherGrid->addWidget(RightLabel(kMsgConfigLongRaceLabel, other), 1, 0);
  otherGrid->addWidget(m_longRace, 1, 1);
  otherGrid->addWidget(m_ignoreUnknown, 2, 0, 1, 2);
  auto* sounds = new QHBoxLayout;
  sounds->addWidget(new QLabel(ToQt(kMsgConfigSoundsLabel), other));
  sounds->addWidget(m_beepDetections);
  sounds->addWidget(m_beepWhenQuit);
  sounds->addStretch(1);
  otherGrid->addLayout(sounds, 3, 0, 1, 2);
  otherGrid->setColumnStretch(1, 1);
  otherLayout->addLayout(otherGrid, 1);
  auto* otherButtons = new QVBoxLayout;
  m_reloadChips = new QPushButton(ToQt(kMsgConfigReloadChipTable), other);
  m_advanced = new QPushButton(ToQt(kMsgConfigAdvancedButton), other);
  m_viewLogs = new QPushButton(ToQt(kMsgConfigViewLogFolder), other);
  otherButtons->addWidget(m_reloadChips);
  auto* pair = new QHBoxLayout;
  pair->addWidget(m_advanced);
  pair->addWidget(m_viewLogs);
  otherButtons->addLayout(pair);
  otherButtons->addStretch(1);
  otherLayout->addLayout(otherButtons);

  // Bottom: the warning and the buttons.
  auto* bottom = new QHBoxLayout;
  m_warningIcon = new QLabel(this);
  m_warningIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
  m_warningText = new QLabel(ToQt(kMsgConfigIncompatible), this);
  QFont warningFont = m_warningText->font();
  warningFont.setBold(true);
  m_warningText->setFont(warningFont);
  m_warningText->setStyleSheet(QStringLiteral("color: #c00000;"));
  KeepRoomWhenHidden(m_warningIcon);
  KeepRoomWhenHidden(m_warningText);
  m_ok = new QPushButton(ToQt(kMsgConfigOk), this);
  m_cancel = new QPushButton(ToQt(kMsgConfigCancel), this);
  m_ok->setDefault(true);
  bottom->addWidget(m_warningIcon);
  bottom->addWidget(m_warningText);
  bottom->addStretch(1);
  bottom->addWidget(m_ok);
  bottom->addWidget(m_cancel);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 10);
  layout->setSpacing(10);
  layout->addWidget(boxes);
  layout->addWidget(exportGroup);
  layout->addWidget(direct);
  layout->addWidget(other);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(m_ok, &QPushButton::clicked, this, &CDlgConfig::accept);
  connect(m_cancel, &QPushButton::clicked, this, &CDlgConfig::reject);
  connect(m_browse, &QPushButton::clicked, this, &CDlgConfig::BrowseExportFile);
  connect(m_reloadChips, &QPushButton::clicked, this, &CDlgConfig::ReloadChipTable);
  connect(m_viewLogs, &QPushButton::clicked, this, &CDlgConfig::ViewLogFolder);
  connect(m_advanced, &QPushButton::clicked, this, &CDlgConfig::OpenAdvanced);
  // Connected once the fields are filled, so that only the operator's changes count.
  for (int i = 0; i < kBoxSlotCount; ++i) {
    connect(m_slotAddress[i], &QLineEdit::textChanged, this, &CDlgConfig::OnFieldChanged);
    connect(m_slotPort[i], &QLineEdit::textChanged, this, &CDlgConfig::OnFieldChanged);
    connect(m_slotId[i], &QComboBox::currentIndexChanged, this, &CDlgConfig::OnFieldChanged);
  }
  for (QLineEdit* edit : {m_host, m_port, m_reconnect}) {
    connect(edit, &QLineEdit::textChanged, this, &CDlgConfig::OnFieldChanged);
  }

  m_blink.setInterval(kBlinkMs);
  connect(&m_blink, &QTimer::timeout, this, &CDlgConfig::BlinkTick);
  CheckCompatibility();
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

std::array<SlotFields, kBoxSlotCount> CDlgConfig::ReadSlotFields() const {
  std::array<SlotFields, kBoxSlotCount> boxSlots;
  for (int i = 0; i < kBoxSlotCount; ++i) {
    SlotFields& slot = boxSlots[static_cast<std::size_t>(i)];
    slot.address = FromQt(m_slotAddress[i]->text());
    slot.port = FromQt(m_slotPort[i]->text());
    slot.detectorIndex = m_slotId[i]->currentIndex();
  }
  return boxSlots;
}

ConfigurationFields CDlgConfig::ReadFields() const {
  ConfigurationFields fields;
  fields.boxSlots = ReadSlotFields();
  fields.exportFile = FromQt(m_exportFile->text());
  fields.host = FromQt(m_host->text());
  fields.port = FromQt(m_port->text());
  fields.reconnectSeconds = FromQt(m_reconnect->text());
  fields.catchUp = m_catchUp->isChecked();
  fields.lostConnectionIndex = m_lostConnection->currentIndex();
  fields.longRaceIndex = m_longRace->currentIndex();
  fields.ignoreUnknownTags = m_ignoreUnknown->isChecked();
  fields.beepDetections = m_beepDetections->isChecked();
  fields.beepWhenQuit = m_beepWhenQuit->isChecked();
  return fields;
}

void CDlgConfig::OnFieldChanged() {
  m_fieldChanged = true;
  auto results = m_session.ApplySlotsSilently(ReadSlotFields());
  for (int i = 0; i < kBoxSlotCount; ++i) {
    const SlotApplyResult& result = results[static_cast<std::size_t>(i)];
    if (result.ok && m_slotAddress[i]->isEnabled()) {
      m_slotId[i]->setEnabled(result.identifierEnabled);
    }
  }
  CheckCompatibility();
}

void CDlgConfig::CheckCompatibility() {
  if (m_session.IsIncompatible()) {
    if (!m_blink.isActive()) {
      m_blinkShown = true;
      m_warningIcon->setVisible(true);
      m_warningText->setVisible(true);
      m_blink.start();
    }
    return;
  }
  m_blink.stop();
  m_blinkShown = false;
  m_warningIcon->setVisible(false);
  m_warningText->setVisible(false);
}

void CDlgConfig::BlinkTick() {
  m_blinkShown = !m_blinkShown;
  m_warningIcon->setVisible(m_blinkShown);
  m_warningText->setVisible(m_blinkShown);
}

void CDlgConfig::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!m_onTopTimerStarted) {
    m_onTopTimerStarted = true;
    QTimer::singleShot(s_stayOnTopMs, this, [this] {
      if (!m_fieldChanged) {
        StopKeepingOnTop();
      }
    });
  }
}

void CDlgConfig::StopKeepingOnTop() {
  if (!IsKeptOnTop()) {
    return;
  }
  // QWidget::setWindowFlag would recreate the native window: that hides the dialog, which ends
  // the exec() running it as a Cancel and leaves the main window blocked. The flag is changed
  // on the native window in place instead; the widget only records it.
  Qt::WindowFlags flags = windowFlags() & ~Qt::WindowStaysOnTopHint;
  overrideWindowFlags(flags);
  if (QWindow* window = windowHandle()) {
    window->setFlags(flags);
  }
}

void CDlgConfig::BrowseExportFile() {
  std::string current = FromQt(m_exportFile->text());
  std::string filter = Tr(kMsgExportFileFilter);
  // The description carries the pattern in parentheses, which is what Qt reads.
  filter = filter.substr(0, filter.find('\t'));
  QString chosen = m_chooseSaveFile(ToQt(kMsgExportFileDialogTitle),
                                    ToQt(m_session.ExportStartPath(current)), ToQt(filter));
  if (chosen.isEmpty()) {
    return;
  }
  std::string name = WithKolExtension(FromQt(chosen));
  m_exportFile->setText(ToQt(name));
  m_session.RememberExportFolder(name);
}

void CDlgConfig::ReloadChipTable() {
  ChipReloadResult result = m_session.ReloadChipTable();
  m_showInfo(ToQt(result.message), result.ok);
}

void CDlgConfig::ViewLogFolder() {
  m_openFolder(ToQt(m_session.LogFolder()));
}

void CDlgConfig::OpenAdvanced() {
  StopKeepingOnTop();
  CDlgConfigAdvanced advanced(m_session.Settings(), this);
  advanced.exec();
}

void CDlgConfig::accept() {
  ConfigurationOkResult result = m_session.Ok(ReadFields());
  if (!result.accepted) {
    QLineEdit* field = nullptr;
    switch (result.field) {
      case ConfigField::kDirectPort:
        field = m_port;
        break;
      case ConfigField::kReconnectSeconds:
        field = m_reconnect;
        break;
      case ConfigField::kSlotPort:
        if (result.slotIndex >= 0 && result.slotIndex < kBoxSlotCount) {
          field = m_slotPort[result.slotIndex];
        }
        break;
      case ConfigField::kNone:
        break;
    }
    if (!result.message.empty()) {
      m_showWarning(ToQt(result.message));
    }
    if (field != nullptr) {
      field->setFocus();
      field->selectAll();
    }
    return;
  }
  m_blink.stop();
  QDialog::accept();
}

}  // namespace lapora
