// A balloon that points at a spot of the window with an icon, a bold title and a text, and goes
// away by itself after its duration or when clicked. It is a tool-tip window: showing it takes
// neither the focus nor the activation, and nothing waits for it. Qt thread only.
#pragma once

#include <QLabel>
#include <QPainterPath>
#include <QPoint>
#include <QTimer>
#include <QWidget>

namespace lapora {

class CBalloonTip : public QWidget {
  Q_OBJECT

 public:
  enum class Icon { kNone, kInformation, kWarning };

  explicit CBalloonTip(QWidget* parent);

  // Shows the balloon with its tail's tip at anchor (global coordinates), replacing any balloon
  // shown; hides it after durationMs (at least a tenth of a second).
  void ShowAt(const QPoint& anchor, const QString& title, const QString& text, Icon icon,
              int durationMs);

  QString Title() const { return m_title->text(); }
  QString Text() const { return m_text->text(); }
  Icon IconShown() const { return m_iconShown; }
  // Where the tail points, in global coordinates.
  QPoint Anchor() const { return m_anchor; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // The rounded body with the tail, in the widget's coordinates.
  QPainterPath Outline() const;

  QLabel* m_icon = nullptr;
  QLabel* m_title = nullptr;
  QLabel* m_text = nullptr;
  QTimer m_hideTimer;
  Icon m_iconShown = Icon::kNone;
  QPoint m_anchor;
  int m_tailX = 0;  // the tail's tip from the left edge
};

}  // namespace lapora
