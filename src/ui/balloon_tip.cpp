#include "ui/balloon_tip.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyle>
#include <algorithm>

namespace lapora {

namespace {

constexpr int kTailHeight = 12;
constexpr int kTailOffset = 18;  // from the balloon's left edge to the tail's tip
constexpr int kTailHalfWidth = 8;
constexpr int kRadius = 7;
constexpr int kMaxTextWidth = 320;
constexpr int kMinDurationMs = 100;

const QColor kBackground(255, 255, 225);
const QColor kBorder(118, 118, 118);

}  // namespace

CBalloonTip::CBalloonTip(QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(10, 8 + kTailHeight, 12, 10);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(4);
  m_icon = new QLabel(this);
  m_title = new QLabel(this);
  QFont bold = m_title->font();
  bold.setBold(true);
  m_title->setFont(bold);
  m_title->setTextFormat(Qt::PlainText);
  m_text = new QLabel(this);
  m_text->setTextFormat(Qt::PlainText);
  m_text->setWordWrap(true);
  m_text->setMaximumWidth(kMaxTextWidth);
  for (QLabel* label : {m_title, m_text}) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
  }
  grid->addWidget(m_icon, 0, 0, 2, 1, Qt::AlignTop);
  grid->addWidget(m_title, 0, 1);
  grid->addWidget(m_text, 1, 1);

  m_hideTimer.setSingleShot(true);
  connect(&m_hideTimer, &QTimer::timeout, this, &QWidget::hide);
}

void CBalloonTip::ShowAt(const QPoint& anchor, const QString& title, const QString& text, Icon icon,
                         int durationMs) {
  m_anchor = anchor;
  m_title->setText(title);
  m_title->setVisible(!title.isEmpty());
  m_text->setText(text);
  // Short texts stay on one line; long ones wrap at the widest line allowed.
  m_text->setMinimumWidth(std::min(kMaxTextWidth, m_text->fontMetrics().horizontalAdvance(text)));
  m_iconShown = icon;
  QStyle::StandardPixmap standard =
      icon == Icon::kWarning ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation;
  if (icon == Icon::kNone) {
    m_icon->clear();
    m_icon->hide();
  } else {
    m_icon->setPixmap(style()->standardIcon(standard, nullptr, this).pixmap(32, 32));
    m_icon->show();
  }
  adjustSize();
  // The tail points up at the anchor; the balloon stays on the anchor's screen.
  QPoint topLeft(anchor.x() - kTailOffset, anchor.y());
  if (QScreen* screen = QGuiApplication::screenAt(anchor)) {
    QRect area = screen->availableGeometry();
    topLeft.setX(
        std::clamp(topLeft.x(), area.left(), std::max(area.left(), area.right() - width())));
  }
  move(topLeft);
  m_tailX = anchor.x() - topLeft.x();
  // The shape is cut out of the window: without a compositor a translucent window would show
  // black around the rounded corners and the tail.
  setMask(QRegion(Outline().toFillPolygon().toPolygon()));
  show();
  raise();
  update();
  m_hideTimer.start(std::max(durationMs, kMinDurationMs));
}

QPainterPath CBalloonTip::Outline() const {
  QRectF body = QRectF(rect()).adjusted(0.5, kTailHeight + 0.5, -0.5, -0.5);
  QPainterPath path;
  path.addRoundedRect(body, kRadius, kRadius);
  // The tail, from the body's top edge to the anchor.
  double tip =
      std::clamp<double>(m_tailX, kRadius + kTailHalfWidth, width() - kRadius - kTailHalfWidth);
  QPainterPath tail;
  tail.moveTo(tip - kTailHalfWidth, body.top() + 1);
  tail.lineTo(tip, 0.5);
  tail.lineTo(tip + kTailHalfWidth, body.top() + 1);
  tail.closeSubpath();
  return path.united(tail);
}

void CBalloonTip::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(rect(), kBorder);  // what the mask's edge lets through
  QPainterPath path = Outline();
  painter.setPen(QPen(kBorder, 1));
  painter.setBrush(kBackground);
  painter.drawPath(path);
}

void CBalloonTip::mousePressEvent(QMouseEvent*) {
  m_hideTimer.stop();
  hide();
}

}  // namespace lapora
