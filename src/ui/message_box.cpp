#include "ui/message_box.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace lapora {
namespace {

QStyle::StandardPixmap IconPixmap(QMessageBox::Icon icon) {
  switch (icon) {
    case QMessageBox::Information:
      return QStyle::SP_MessageBoxInformation;
    case QMessageBox::Warning:
      return QStyle::SP_MessageBoxWarning;
    case QMessageBox::Critical:
      return QStyle::SP_MessageBoxCritical;
    case QMessageBox::Question:
      return QStyle::SP_MessageBoxQuestion;
    case QMessageBox::NoIcon:
      break;
  }
  return QStyle::SP_CustomBase;
}

void ExecScrolledMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                         const QString& text) {
  QDialog dialog(parent);
  dialog.setWindowTitle(title);
  auto* layout = new QVBoxLayout(&dialog);
  auto* row = new QHBoxLayout;
  if (const QStyle::StandardPixmap pixmap = IconPixmap(icon); pixmap != QStyle::SP_CustomBase) {
    auto* iconLabel = new QLabel(&dialog);
    const int size = dialog.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &dialog);
    iconLabel->setPixmap(dialog.style()->standardIcon(pixmap, nullptr, &dialog).pixmap(size));
    iconLabel->setAlignment(Qt::AlignTop);
    row->addWidget(iconLabel, 0, Qt::AlignTop);
  }
  auto* label = new QLabel(text);
  label->setObjectName(QStringLiteral("messageText"));
  label->setTextFormat(Qt::PlainText);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* scroll = new QScrollArea(&dialog);
  scroll->setWidget(label);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  row->addWidget(scroll, 1);
  layout->addLayout(row, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setDefault(true);
  ok->setFocus();
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  layout->addWidget(buttons);

  // As tall as the text up to half the screen, as wide as its longest line up to two thirds.
  const QScreen* screen = parent != nullptr && parent->screen() != nullptr
                              ? parent->screen()
                              : QGuiApplication::primaryScreen();
  const QRect room = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 800, 600);
  const QSize wanted = label->sizeHint();
  scroll->setMinimumSize(std::min(wanted.width() + scroll->verticalScrollBar()->sizeHint().width(),
                                  room.width() * 2 / 3),
                         std::min(wanted.height(), room.height() / 2));
  dialog.exec();
}

}  // namespace

void ExecMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                 const QString& text) {
  if (text.count(QLatin1Char('\n')) < kMessageLinesShownWhole) {
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.exec();
    return;
  }
  ExecScrolledMessage(parent, icon, title, text);
}

}  // namespace lapora
