// The window while a command waits with it alive ("disconnect all" stopping a real box and
// pausing a second): it keeps handling posted events and timers, but what the operator does in
// it meanwhile is dropped, and no command re-enters the one that waits.
#include <QApplication>
#include <QCloseEvent>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>

#include "boxlink/box_slots.h"
#include "boxlink/ostra_box.h"
#include "detections/recorded_detections.h"
#include "resources/messages_boxslots.h"
#include "station/station.h"
#include "support/simulator_process.h"
#include "ui/lapora_dlg.h"
#include "ui/qt_front_end.h"
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
};

}  // namespace lapora

QTEST_MAIN(lapora::WindowWaitsTest)
#include "window_waits_test.moc"
