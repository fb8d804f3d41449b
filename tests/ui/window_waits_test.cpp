// The window while a command waits with it alive ("disconnect all" stopping a real box and
// pausing a second; "Export all" writing on a worker): it keeps handling posted events and
// timers, but what the operator does in it meanwhile is dropped, and no command re-enters the
// one that waits. Work moved off the window thread gives the operator the same results.
#include <QApplication>
#include <QCloseEvent>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>

#include "boxlink/box_slots.h"
#include "boxlink/ostra_box.h"
#include "detections/detection_intake.h"
#include "detections/recorded_detections.h"
#include "foundation/text.h"
#include "resources/messages_boxslots.h"
#include "resources/messages_export_dialog.h"
#include "resources/messages_listops.h"
#include "station/station.h"
#include "support/simulator_process.h"
#include "support/temp_dir.h"
#include "ui/lapora_dlg.h"
#include "ui/list_models.h"
#include "ui/qt_front_end.h"
#include "ui/qt_text.h"
#include "ui/ui_resources.h"
#include "ui/ui_rig.h"

namespace lapora {

namespace {

using testing::Rig;
using testing::SimulatorProcess;

const std::string kBoxSim = LAPORA_BINARY_DIR "/tools/boxsim/boxsim";

bool AnyBoxThread(Station& station) {
  for (int number = 1; number <= Station::kBoxSlots; ++number) {
    if (station.BoxSlots().Box(number)->IsThreadRunning()) {
      return true;
    }
  }
  return false;
}

}  // namespace

class WindowWaitsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InitUiResources(); }

  void inputDuringDisconnectAllDoesNothing() {
    SimulatorProcess box(kBoxSim, {"--tcp", "0", "--device-id", "57", "--loop"});
    std::string port = box.WaitEvent("listening on ");
    QVERIFY(!port.empty());
    Rig rig([&port](SettingsStore& store) {
      store.WriteSettingText(kBoxSlotsSection, "BoxHost0", "127.0.0.1");
      store.WriteSettingInt(kBoxSlotsSection, "BoxPort0", std::stoi(port));
      store.WriteSettingText(kBoxSlotsSection, "BoxIdDetector0", "31");
    });
    CLaporaDlg& window = rig.window();
    QPushButton* connect = window.CommandButton(Button::kConnectBoxes);
    connect->click();
    // The boxes come up on their own threads; the button shows it once the box is connected.
    QTRY_VERIFY_WITH_TIMEOUT(AnyBoxThread(rig.station) && connect->isChecked(), 20000);
    const std::size_t questionsBefore = rig.front.Questions().size();

    // Pressed again: disconnect all. While it waits, the operator presses the toggle once more,
    // F12, Escape and the close box; a timer meanwhile proves the loop still runs.
    bool timerRan = false;
    bool busySeen = false;
    bool closeRefused = false;
    QTimer::singleShot(300, &window, [&] {
      busySeen = rig.station.IsBusy();
      timerRan = true;
      QTest::mouseClick(connect, Qt::LeftButton);
      QTest::keyClick(window.List(ListId::kLog), Qt::Key_F12);
      QTest::keyClick(&window, Qt::Key_Escape);
      QCloseEvent close;
      QApplication::sendEvent(&window, &close);
      closeRefused = !close.isAccepted();
    });
    connect->click();

    QVERIFY(timerRan);
    QVERIFY(busySeen);
    QVERIFY(closeRefused);
    QVERIFY(rig.station.IsOpen());
    QVERIFY(!rig.station.IsBusy());
    // Only the one question of the disconnection was asked; nothing reconnected afterwards,
    // and no manual entry dialog opened.
    QCOMPARE(rig.front.Questions().size(), questionsBefore + 1);
    QTest::qWait(300);
    QVERIFY(!AnyBoxThread(rig.station));
    QVERIFY(!connect->isChecked());
    QVERIFY(QApplication::activeModalWidget() == nullptr);

    // Once the command is over, the window takes input again.
    auto answered = testing::WhenShown([] { return QApplication::activeModalWidget(); },
                                       [](QWidget* dialog) { dialog->close(); });
    QTest::keyClick(window.List(ListId::kLog), Qt::Key_F12);
    QVERIFY(*answered);
  }

  // "Export all" writes on a worker, taking the records' lock a slice at a time, and "Forget"
  // leaves the freeing of the records to a thread of its own: through the window's buttons, the
  // file, the list, the counter and the log are what they were when both ran on the window.
  void exportAllAndForgetThroughTheButtons() {
    Rig rig;
    CLaporaDlg& window = rig.window();
    constexpr int kRecords = 30000;  // several slices of the lock
    std::string expected;
    int removedId = 0;
    int number = 0;
    for (int n = 1; n <= kRecords; ++n) {
      CKolResult record =
          rig.records.AddDetectionRecord("Box " + std::to_string(n % 4 + 1), std::to_string(n),
                                         CChrono(36000 + n, 0), CChrono(36000 + n, 0), 0, false);
      if (n == 20000) {
        removedId = record.id;
        continue;
      }
      expected += FormatDetectionLine(++number, record);
    }
    QVERIFY(rig.records.SetValid(removedId, 0));
    rig.station.RefreshBoxStatesAndCounter();
    const std::string path = rig.dir.File("Lapora.kol");
    rig.settings.GVarnexExportFile = path;

    QPushButton* exportAll = window.CommandButton(Button::kExportAll);
    QVERIFY(exportAll->isEnabled());
    exportAll->click();
    QVERIFY(!rig.station.IsBusy());
    QCOMPARE(testing::ReadFile(path), expected);
    const std::string done = StrF(Tr(kMsgExportAllDone).c_str(), path.c_str());
    QTRY_VERIFY(LogHas(rig, done));
    QCOMPARE(window.CounterLabel()->text(), ToQt(DetectionCounterText(kRecords - 1)));

    // Forget, answered Yes: the records are gone at once, their memory is the Station's to
    // free (nothing is left in the list for anyone else), and the ids go on.
    rig.station.AddDetectionItem(CLogDetectionItem{"line", rig.records.FindRecord(1).value()});
    window.CommandButton(Button::kForget)->click();
    QCOMPARE(rig.records.RecordCount(), std::size_t{0});
    QCOMPARE(rig.records.CountValidRecords(), 0);
    QVERIFY(rig.records.TakeClearedRecords().empty());
    QCOMPARE(window.Model(ListId::kDetections)->rowCount(), 0);
    QTRY_VERIFY(LogHas(rig, StrF(Tr(kMsgResetDone).c_str(), kRecords - 1, "s")));
    CKolResult next = rig.records.AddDetectionRecord("Box 1", "7", CChrono(), CChrono(), 0, false);
    QCOMPARE(next.id, kRecords + 1);
    QVERIFY(!rig.records.FindRecord(1).has_value());
  }

 private:
  static bool LogHas(Rig& rig, const std::string& text) {
    for (const std::string& line : rig.station.LogLines()) {
      if (line.find(text) != std::string::npos) {
        return true;
      }
    }
    return false;
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::WindowWaitsTest)
#include "window_waits_test.moc"
