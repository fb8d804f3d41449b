#include "ui/dlg_recalage.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QVBoxLayout>
#include <utility>

#include "resources/messages_export.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

// A value of the passage shown, in bold.
QLabel* ValueLabel(const std::string& value, QWidget* parent) {
  auto* label = new QLabel(ToQt(value), parent);
  QFont font = label->font();
  font.setWeight(QFont::Bold);  // 700
  label->setFont(font);
  return label;
}

}  // namespace

CDlgRecalage::CDlgRecalage(HandicapRetiming retiming, QWidget* parent)
    : QDialog(parent), m_retiming(std::move(retiming)) {
  setWindowTitle(ToQt(kMsgRetimingTitle));
  m_showWarning = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(ToQt(kMsgRetimingInstruction), this));

  auto* form = new QFormLayout;
  form->setHorizontalSpacing(10);
  form->setVerticalSpacing(8);
  m_pass = ValueLabel(std::to_string(m_retiming.passNumber), this);
  form->addRow(ToQt(kMsgRetimingPassLabel), m_pass);
  m_bib = ValueLabel(m_retiming.bib, this);
  form->addRow(ToQt(kMsgRetimingBibLabel), m_bib);
  m_clock = ValueLabel(m_retiming.clockTime.FormatHundredths(), this);
  form->addRow(ToQt(kMsgRetimingClockLabel), m_clock);
  m_time = new QLineEdit(ToQt(RetimingStartText(m_retiming)), this);
  m_time->setMinimumWidth(160);
  form->addRow(ToQt(kMsgRetimingTimeLabel), m_time);
  layout->addLayout(form);

  auto* buttons = new QHBoxLayout;
  m_ok = new QPushButton(ToQt(kMsgRetimingOk), this);
  m_ok->setDefault(true);
  m_cancel = new QPushButton(ToQt(kMsgRetimingCancel), this);
  buttons->addStretch(1);
  buttons->addWidget(m_ok);
  buttons->addWidget(m_cancel);
  layout->addLayout(buttons);
  connect(m_ok, &QPushButton::clicked, this, &CDlgRecalage::accept);
  connect(m_cancel, &QPushButton::clicked, this, &CDlgRecalage::reject);

  m_time->selectAll();
  m_time->setFocus();
}

void CDlgRecalage::accept() {
  HandicapRetiming attempt = m_retiming;
  if (std::optional<std::string> warning = ApplyRetiming(attempt, FromQt(m_time->text()))) {
    m_showWarning(ToQt(*warning));
    m_time->setFocus();
    return;
  }
  m_retiming = attempt;
  QDialog::accept();
}

}  // namespace lapora
