#include "ui/dlg_config_advanced.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <string>

#include "foundation/app_settings.h"
#include "resources/messages_config.h"
#include "station/configuration.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

// An up-down control whose arrows stay within the field's range while its edit box takes any
// number, as a Windows up-down buddy does: the OK's range check reports what was typed.
class RangeSpinBox : public QSpinBox {
 public:
  RangeSpinBox(int minimum, int maximum, QWidget* parent)
      : QSpinBox(parent), m_minimum(minimum), m_maximum(maximum) {
    setRange(-999999, 999999);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setMinimumWidth(80);
    setAlignment(Qt::AlignRight);
  }
  void stepBy(int steps) override { setValue(std::clamp(value() + steps, m_minimum, m_maximum)); }

 protected:
  StepEnabled stepEnabled() const override {
    StepEnabled enabled = StepNone;
    if (value() < m_maximum) {
      enabled |= StepUpEnabled;
    }
    if (value() > m_minimum) {
      enabled |= StepDownEnabled;
    }
    return enabled;
  }

 private:
  int m_minimum;
  int m_maximum;
};

}  // namespace

CDlgConfigAdvanced::CDlgConfigAdvanced(AppSettings& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings) {
  setWindowTitle(ToQt(kMsgAdvancedTitle));
  m_showWarning = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };

  struct Row {
    const Message* before;
    const Message* after;
    int minimum;
    int maximum;
  };
  const std::array<Row, 3> rows{{
      {&kMsgAdvancedInputDeltaBefore, &kMsgAdvancedInputDeltaAfter, kIgnoreInputMin,
       kIgnoreInputMax},
      {&kMsgAdvancedOutputDeltaBefore, &kMsgAdvancedOutputDeltaAfter, kIgnoreOutputMin,
       kIgnoreOutputMax},
      {&kMsgAdvancedReadDeltaBefore, &kMsgAdvancedReadDeltaAfter, kReadDeltaMin, kReadDeltaMax},
  }};
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(12);
  for (int i = 0; i < 3; ++i) {
    const Row& row = rows[static_cast<std::size_t>(i)];
    auto* before = new QLabel(ToQt(*row.before), this);
    before->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_fields[i] = new RangeSpinBox(row.minimum, row.maximum, this);
    grid->addWidget(before, i, 0);
    grid->addWidget(m_fields[i], i, 1);
    grid->addWidget(new QLabel(ToQt(*row.after), this), i, 2);
  }
  m_sync = new QCheckBox(ToQt(kMsgAdvancedSyncDetections), this);
  grid->addWidget(m_sync, 3, 0, 1, 3);
  m_autoRecover = new QCheckBox(ToQt(kMsgAdvancedAutoRecover), this);
  grid->addWidget(m_autoRecover, 4, 0, 1, 3);
  AdvancedValues values = AdvancedOpeningValues(m_settings);
  m_fields[0]->setValue(values.ignoreInputMsDelta);
  m_fields[1]->setValue(values.ignoreOutputMsDelta);
  m_fields[2]->setValue(values.readMsDelta);
  m_sync->setChecked(values.syncDetections);
  m_autoRecover->setChecked(values.autoRecover);

  auto* buttons = new QDialogButtonBox(this);
  m_factory = buttons->addButton(ToQt(kMsgAdvancedFactory), QDialogButtonBox::ResetRole);
  m_ok = buttons->addButton(ToQt(kMsgConfigOk), QDialogButtonBox::AcceptRole);
  m_cancel = buttons->addButton(ToQt(kMsgConfigCancel), QDialogButtonBox::RejectRole);
  m_ok->setDefault(true);
  connect(m_factory, &QPushButton::clicked, this, &CDlgConfigAdvanced::RestoreFactorySettings);
  connect(buttons, &QDialogButtonBox::accepted, this, &CDlgConfigAdvanced::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CDlgConfigAdvanced::reject);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 14, 14, 10);
  layout->setSpacing(14);
  layout->addLayout(grid);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CDlgConfigAdvanced::RestoreFactorySettings() {
  AdvancedValues factory = AdvancedFactoryValues();
  m_fields[0]->setValue(factory.ignoreInputMsDelta);
  m_fields[1]->setValue(factory.ignoreOutputMsDelta);
  m_fields[2]->setValue(factory.readMsDelta);
  m_sync->setChecked(factory.syncDetections);
  m_autoRecover->setChecked(factory.autoRecover);
}

void CDlgConfigAdvanced::accept() {
  std::array<std::string, 3> texts;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    texts[i] = FromQt(m_fields[i]->cleanText());
  }
  AdvancedOkResult result =
      AdvancedOk(m_settings, texts, m_sync->isChecked(), m_autoRecover->isChecked());
  if (!result.accepted) {
    m_showWarning(ToQt(result.message));
    if (result.field >= 0 && result.field < 3) {
      m_fields[result.field]->setFocus();
      m_fields[result.field]->selectAll();
    }
    return;
  }
  QDialog::accept();
}

}  // namespace lapora
