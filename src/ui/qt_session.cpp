#include "ui/qt_session.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>

#include "ui/lapora_dlg.h"
#include "ui/qt_front_end.h"
#include "ui/qt_text.h"
#include "ui/ui_resources.h"

namespace lapora {

QtSession::QtSession(int& argc, char** argv) : m_app(std::make_unique<QApplication>(argc, argv)) {
  InitUiResources();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/lapora.png")));
}

QtSession::~QtSession() = default;

bool QtSession::AskStartRegardless(const std::string& text) {
  QMessageBox::warning(nullptr, QStringLiteral("Lapora"), ToQt(text));
  return (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) != 0;
}

void QtSession::ShowError(const std::string& text) {
  QMessageBox::critical(nullptr, QStringLiteral("Lapora"), ToQt(text));
}

int QtSession::Run(StationParts parts, std::optional<std::chrono::milliseconds> duration) {
  QtFrontEnd front(parts.events);
  Station station(std::move(parts), front);
  front.Attach(station);
  station.Open();
  if (duration) {
    QTimer::singleShot(*duration, &front, [&front, &station] {
      front.SetCtrlDown(true);
      (void)station.Close();
      front.SetCtrlDown(std::nullopt);
    });
  }
  if (!front.IsClosed()) {
    front.Window()->exec();
  }
  // The window was closed by the window manager without the closing sequence (it cannot be
  // refused any more): run it as with Ctrl held so that nothing is left open.
  if (station.IsOpen()) {
    front.SetCtrlDown(true);
    (void)station.Close();
  }
  return 0;
}

}  // namespace lapora
