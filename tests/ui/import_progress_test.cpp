// The import command over the real window and Station, offscreen: the operator's Save runs on a
// worker while the progress dialog runs with exec() over the window, and its Cancel stops the
// work with every line written so far kept whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <string>

#include "foundation/sound.h"
#include "foundation/text.h"
#include "resources/messages_import.h"
#include "resources/messages_ui.h"
#include "support/temp_dir.h"
#include "ui/dlg_import_varnex.h"
#include "ui/dlg_job_progress.h"
#include "ui/qt_text.h"
#include "ui/ui_rig.h"

namespace lapora {

namespace {

using testing::Rig;
using testing::ShownDialog;
using testing::WhenDialogShown;
using testing::WhenShown;

// Appends what the pipe holds now; true once its writer has closed it.
bool DrainPipe(int fd, std::string* into) {
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into->append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    return n == 0;
  }
}

}  // namespace

class ImportProgressTest : public QObject {
  Q_OBJECT

 private slots:
  void cancelStopsTheSaveBetweenTwoWholeLines() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    constexpr int kDetections = 20000;
    std::string data;
    for (int i = 0; i < kDetections; ++i) {
      data += StrF("C%05d,2012-05-13 10:%02d:%02d.000,x,y\n", i, i / 60 % 60, i % 60);
    }
    testing::WriteFile(rig.dir.File("box.csv"), data);
    const std::string output = rig.dir.File("out.kol");

    // The operator searches the day and saves under box id 31. Once the dialog has taken the
    // path, the output becomes a pipe the test reads only after its Cancel: the worker waits on
    // the full pipe, so the command is surely still running when Cancel is clicked.
    int reader = -1;
    auto chosen = WhenDialogShown<CDlgImportVarnex>([&](CDlgImportVarnex& dialog) {
      dialog.FileEdit()->setText(ToQt(rig.dir.File("box.csv")));
      dialog.DateEdit()->setDate(QDate(2012, 5, 13));
      dialog.StartEdit()->setText(QStringLiteral("00:00:00"));
      dialog.EndEdit()->setText(QStringLiteral("23:59:59"));
      QTest::mouseClick(dialog.SearchButton(), Qt::LeftButton);
      QCOMPARE(dialog.Found().size(), std::size_t{kDetections});
      dialog.BoxIdBox()->setCurrentIndex(0);
      dialog.OutputEdit()->setText(ToQt(output));
      QTest::mouseClick(dialog.SaveButton(), Qt::LeftButton);
      QCOMPARE(dialog.Action(), ImportAction::kSave);
      QCOMPARE(mkfifo(output.c_str(), 0600), 0);
      reader = open(output.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      QVERIFY(reader >= 0);
    });

    std::string saved;
    QTimer drain;
    QObject::connect(&drain, &QTimer::timeout, [&] { DrainPipe(reader, &saved); });
    bool overWindow = false;
    bool countShown = false;
    bool waitsForTheWork = false;
    const QString savingTitle = ToQt(kMsgImportCaptionSave);
    auto cancelled = WhenShown(
        // The search's own progress dialog may come first: only the command's counts.
        [&]() -> QWidget* {
          auto* dialog = ShownDialog<CDlgJobProgress>();
          return dialog != nullptr && dialog->windowTitle() == savingTitle ? dialog : nullptr;
        },
        [&](QWidget* widget) {
          auto& progress = *static_cast<CDlgJobProgress*>(widget);
          overWindow = progress.parentWidget() == &w && progress.isModal();
          countShown = QTest::qWaitFor(
              [&] {
                return progress.TextLabel()->text().contains(
                    QStringLiteral(" / %1 ").arg(kDetections));
              },
              10000);
          QTest::mouseClick(progress.CancelButton(), Qt::LeftButton);
          // The dialog stays, greyed, until the work has returned.
          waitsForTheWork = progress.isVisible() && !progress.CancelButton()->isEnabled() &&
                            progress.TextLabel()->text() == ToQt(kMsgProgressCancelling);
          drain.start(5);
        });
    w.CommandButton(Button::kImport)->click();
    drain.stop();
    QVERIFY(*chosen);
    QVERIFY(*cancelled);
    QVERIFY(overWindow);
    QVERIFY(countShown);
    QVERIFY(waitsForTheWork);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(reader >= 0);
    QVERIFY(DrainPipe(reader, &saved));
    close(reader);

    // Whole lines numbered from 1, fewer than were found.
    QVERIFY(!saved.empty());
    QVERIFY(saved.size() >= 2 && saved.compare(saved.size() - 2, 2, "\r\n") == 0);
    int lines = 0;
    for (std::size_t at = 0; at < saved.size();) {
      std::size_t end = saved.find("\r\n", at);
      QVERIFY(end != std::string::npos);
      ++lines;
      QCOMPARE(saved.substr(at, saved.find('\t', at) - at), std::to_string(lines));
      QCOMPARE(saved.substr(saved.find('\t', at) + 1, 3), std::string("31\t"));
      at = end + 2;
    }
    QVERIFY(lines < kDetections);

    // The log says how far the save went, and not that it was done.
    const std::string howFar = StrF(Tr(kMsgImportCancelled).c_str(), lines, kDetections, "s", "s");
    auto logged = [&rig](const std::string& text) {
      const std::deque<std::string>& log = rig.station.LogLines();
      return std::any_of(log.begin(), log.end(), [&text](const std::string& line) {
        return line.find(text) != std::string::npos;
      });
    };
    QVERIFY2(QTest::qWaitFor([&] { return logged(howFar); }, 10000), howFar.c_str());
    QVERIFY(!logged(StrF(Tr(kMsgImportDoneSave).c_str(), output.c_str())));
    QCOMPARE(rig.sound.played.back(), static_cast<int>(kSoundDone));
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::ImportProgressTest)
#include "import_progress_test.moc"
