#include "ui/qt_session.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>
#include <functional>

#include "foundation/text.h"
#include "platform/process.h"

#include "ui/lapora_dlg.h"
#include "ui/qt_front_end.h"
#include "ui/qt_text.h"
#include "ui/ui_resources.h"

namespace lapora {

namespace {

// Time for a closed dialog's call to return before the closing sequence runs.
constexpr int kUnwindMs = 50;

// The toolkit's own texts (message-box buttons, file dialogs) in the build's language: Qt
// speaks English unless its French catalogue is loaded.
void InstallToolkitTranslations(QApplication& app) {
  if (BuildLanguage() != Language::kFrench) {
    return;
  }
  auto* translator = new QTranslator(&app);
  if (translator->load(QStringLiteral("qtbase_fr"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(translator);
  } else {
    delete translator;
  }
}

}  // namespace

QtSession::QtSession(int& argc, char** argv) : m_app(std::make_unique<QApplication>(argc, argv)) {
  // Creating the application applied the user's locale to every category; only the time
  // category may follow the user.
  KeepOnlyTimeLocaleOfUser();
  InstallToolkitTranslations(*m_app);
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
  // At the end of the duration a question, message or menu may be open over the window: it is
  // closed first, and the closing sequence runs once its call has returned.
  std::function<void()> finish = [&front, &station, &finish] {
    QWidget* popup = QApplication::activePopupWidget();
    QWidget* modal = QApplication::activeModalWidget();
    if (popup != nullptr || (modal != nullptr && modal != front.Window())) {
      (popup != nullptr ? popup : modal)->close();
      QTimer::singleShot(kUnwindMs, &front, finish);
      return;
    }
    if (station.IsBusy()) {
      QTimer::singleShot(kUnwindMs, &front, finish);  // a command waits: it ends first
      return;
    }
    front.SetCtrlDown(true);
    (void)station.Close();
    front.SetCtrlDown(std::nullopt);
  };
  if (duration) {
    QTimer::singleShot(*duration, &front, finish);
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
