#include "ui/dlg_insert_time_new.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPixmap>
#include <QVBoxLayout>
#include <utility>

#include "foundation/text.h"
#include "resources/messages_listops.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

constexpr int kFieldWidth = 220;

}  // namespace

CDlgInsertTimeNew::CDlgInsertTimeNew(std::vector<std::string> detectors,
                                     int rememberedDetectorIndex,
                                     const std::array<std::string, 4>& raceDayDates,
                                     const Clock& clock, QWidget* parent)
    : QDialog(parent), m_detectors(std::move(detectors)), m_clock(clock) {
  setWindowTitle(ToQt(kMsgManualEntryTitle));
  m_showWarning = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };

  ManualEntryDefaults defaults =
      MakeManualEntryDefaults(m_detectors.size(), rememberedDetectorIndex, raceDayDates, m_clock);

  auto* form = new QFormLayout;
  form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
  form->setHorizontalSpacing(10);
  form->setVerticalSpacing(8);

  m_time = new QLineEdit(ToQt(defaults.timeText), this);
  m_time->setMinimumWidth(kFieldWidth);
  form->addRow(ToQt(kMsgManualTimeLabel), m_time);

  m_bib = new QLineEdit(this);
  m_bib->setMinimumWidth(kFieldWidth);
  form->addRow(ToQt(kMsgManualBibLabel), m_bib);

  m_detector = new QComboBox(this);
  m_detector->setMinimumWidth(kFieldWidth);
  for (const std::string& label : m_detectors) {
    m_detector->addItem(ToQt(label));
  }
  m_detector->setCurrentIndex(defaults.detectorIndex);
  form->addRow(ToQt(kMsgManualDetectorLabel), m_detector);

  m_correction = new QComboBox(this);
  m_correction->setMinimumWidth(kFieldWidth);
  for (const Message* entry :
       {&kMsgCorrectionToday, &kMsgCorrection24h, &kMsgCorrection48h, &kMsgCorrection72h}) {
    m_correction->addItem(ToQt(*entry));
  }
  m_correction->setCurrentIndex(defaults.correctionIndex);
  form->addRow(ToQt(kMsgManualCorrectionLabel), m_correction);

  // The indicator keeps its room while hidden, so that the dialog does not jump.
  auto* indicator = new QHBoxLayout;
  m_indicatorImage = new QLabel(this);
  m_indicatorImage->setPixmap(QPixmap(QStringLiteral(":/images/longrace.png")));
  m_indicatorText = new QLabel(this);
  QFont bold = m_indicatorText->font();
  bold.setBold(true);
  m_indicatorText->setFont(bold);
  for (QLabel* label : {m_indicatorImage, m_indicatorText}) {
    QSizePolicy policy = label->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    label->setSizePolicy(policy);
  }
  indicator->addStretch(1);
  indicator->addWidget(m_indicatorImage);
  indicator->addWidget(m_indicatorText);
  form->addRow(QString(), indicator);

  auto* buttons = new QDialogButtonBox(this);
  m_ok = buttons->addButton(ToQt(kMsgManualOk), QDialogButtonBox::AcceptRole);
  m_cancel = buttons->addButton(ToQt(kMsgManualCancel), QDialogButtonBox::RejectRole);
  m_ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &CDlgInsertTimeNew::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CDlgInsertTimeNew::reject);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 14, 14, 10);
  layout->addLayout(form);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(m_correction, &QComboBox::currentIndexChanged, this, &CDlgInsertTimeNew::UpdateIndicator);
  UpdateIndicator();
  m_bib->setFocus();
}

void CDlgInsertTimeNew::UpdateIndicator() {
  int k = m_correction->currentIndex();
  bool shown = k > 0;
  m_indicatorText->setText(shown ? ToQt(StrF(Tr(kMsgCorrectionIndicator).c_str(), k * 24))
                                 : QString());
  m_indicatorText->setVisible(shown);
  m_indicatorImage->setVisible(shown);
}

void CDlgInsertTimeNew::accept() {
  ManualEntryInput input{FromQt(m_bib->text()), FromQt(m_time->text()), m_detector->currentIndex(),
                         m_correction->currentIndex()};
  ManualEntryCheckResult result = ManualEntryCheck(input, m_detectors, m_clock);
  if (!result.accepted) {
    QWidget* field = nullptr;
    switch (result.faultyField) {
      case ManualEntryField::kBib:
        field = m_bib;
        break;
      case ManualEntryField::kTime:
        field = m_time;
        break;
      case ManualEntryField::kDetector:
        field = m_detector;
        break;
      case ManualEntryField::kNone:
        break;
    }
    if (result.emptyField && field == m_bib) {
      m_bib->clear();
    }
    m_showWarning(ToQt(result.message));
    if (field != nullptr) {
      field->setFocus();
    }
    return;
  }
  m_entry = result.entry;
  QDialog::accept();
}

}  // namespace lapora
