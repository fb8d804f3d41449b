// Pictures of the window for a human to look at (not a test): the main window over a real
// Station with its four box slots in their four states (a loopback box connected, one box
// reconnecting, one declared but not connected, one undeclared), the box menus, a disc's
// tooltip, the direct connection's balloon, the remove and restore menu and the manual entry
// dialog. Run under a real X server (xvfb-run) with the output folder as argument.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <QToolTip>
#include <atomic>
#include <cstdio>
#include <thread>

#include "boxlink/box_slots.h"
#include "boxlink/com_box.h"
#include "foundation/text.h"
#include "support/loopback_peer.h"
#include "ui/balloon_tip.h"
#include "ui/dlg_insert_time_new.h"
#include "ui/lapora_dlg.h"
#include "ui/list_models.h"
#include "ui/qt_text.h"
#include "ui/ui_resources.h"
#include "ui/ui_rig.h"

namespace lapora {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackPeer;
using testing::Rig;
using testing::ShownMenu;
using testing::WhenShown;

QString g_folder;

void Save(const QPixmap& picture, const char* name) {
  QString path = g_folder + "/" + name;
  bool ok = picture.save(path);
  std::printf("%s %s\n", ok ? "saved" : "FAILED", path.toUtf8().constData());
}

QPixmap Screen() {
  return QGuiApplication::primaryScreen()->grabWindow(0);
}

void Settle() {
  for (int i = 0; i < 20; ++i) {
    QApplication::processEvents();
    QTest::qWait(10);
  }
}

int RefusedPort() {
  LoopbackPeer probe;
  int port = probe.Port();
  probe.CloseListener();
  return port;
}

bool PumpUntil(const std::function<bool()>& done) {
  auto end = std::chrono::steady_clock::now() + 10s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) {
      return false;
    }
    QApplication::processEvents();
    QTest::qWait(5);
  }
  return true;
}

// Box 1 plays a box on the loopback peer until connected.
bool ConnectBoxOne(Rig& rig, LoopbackPeer& peer) {
  std::atomic<bool> peerDone{false};
  std::thread box([&] {
    if (peer.Accept()) {
      peer.Send("57@heartBeat@0001@10:00:00;");
      (void)peer.ReceiveCommands(4);
    }
    peerDone = true;
  });
  (void)rig.station.BoxSlots().RunBoxMenuAction(1, BoxMenuId::kConnect);
  CComBox* transport = rig.station.BoxSlots().Box(1)->Transport();
  bool ok = PumpUntil([&] { return peerDone && transport->IsConnected(); });
  box.join();
  return ok;
}

void Shots() {
  LoopbackPeer peer;
  int refused = RefusedPort();
  Rig rig([&](SettingsStore& store) {
    store.WriteSettingText(kBoxSlotsSection, "BoxHost0", "127.0.0.1");
    store.WriteSettingInt(kBoxSlotsSection, "BoxPort0", peer.Port());
    store.WriteSettingText(kBoxSlotsSection, "BoxIdDetector0", "57");
    store.WriteSettingText(kBoxSlotsSection, "BoxHost1", "127.0.0.2");
    store.WriteSettingInt(kBoxSlotsSection, "BoxPort1", refused);
    store.WriteSettingText(kBoxSlotsSection, "BoxIdDetector1", "31");
    store.WriteSettingText(kBoxSlotsSection, "BoxHost2", "127.0.0.1");
    store.WriteSettingInt(kBoxSlotsSection, "BoxPort2", refused);
    store.WriteSettingText(kBoxSlotsSection, "BoxIdDetector2", "32");
  });
  CLaporaDlg& w = rig.window();
  w.move(0, 0);
  w.resize(1280, 720);
  w.activateWindow();
  if (!ConnectBoxOne(rig, peer)) {
    std::printf("box 1 did not connect\n");
  }
  (void)rig.station.BoxSlots().RunBoxMenuAction(3, BoxMenuId::kConnect);
  PumpUntil([&] { return rig.station.BoxSlots().Box(3)->Transport()->IsReconnecting(); });
  rig.station.RefreshBoxStatesAndCounter();

  // Some detections, one removed, and answers of the results software.
  for (int i = 0; i < 6; ++i) {
    CKolResult record = rig.records.AddDetectionRecord("57", std::to_string(100 + i), CChrono(),
                                                       CChrono(), 0, false);
    rig.station.AddDetectionItem(CLogDetectionItem{"10:0" + std::to_string(i) + ":1" +
                                                       std::to_string(i) + "\tBox 1\t# " +
                                                       std::to_string(100 + i),
                                                   record});
    if (i == 2) {
      (void)rig.station.SetDetectionsValid({record.id}, false);
    }
  }
  rig.station.AddSummaryEntry(CSummaryItem{"DUPONT Jean", 100, "10:00:10", "1", "1 / 40", 0});
  rig.station.AddSummaryEntry(CSummaryItem{"MARTIN Paul", 101, "10:01:11", "1", "DNF", 1});
  rig.station.SetDirectConnection(true);
  rig.front.SetDirectState(DirectState::kConnected);
  rig.station.RefreshBoxStatesAndCounter();
  Settle();
  Save(w.grab(), "01-window-four-discs.png");

  // The green disc's tooltip.
  QLabel* green = w.BoxDiscLabel(0);
  QToolTip::showText(green->mapToGlobal(QPoint(10, 10)), green->toolTip(), green);
  Settle();
  Save(Screen(), "02-disc-tooltip-screen.png");
  QToolTip::hideText();

  // The connected box's menu with its gate-time sub-menu open.
  WhenShown(ShownMenu, [&](QWidget* widget) {
    auto* menu = static_cast<QMenu*>(widget);
    for (QAction* action : menu->actions()) {
      if (action->menu() != nullptr) {
        menu->setActiveAction(action);
        QTest::keyClick(menu, Qt::Key_Right);
      }
    }
    Settle();
    Save(Screen(), "03-box-menu-connected-screen.png");
    Save(menu->grab(), "03b-box-menu-connected.png");
    while (QApplication::activePopupWidget() != nullptr) {
      QApplication::activePopupWidget()->close();
    }
  });
  QTest::mouseClick(green, Qt::LeftButton, {}, QPoint(8, 8));
  Settle();

  // With Ctrl held: the eight channel items.
  rig.front.SetCtrlDown(true);
  WhenShown(ShownMenu, [&](QWidget* menu) {
    Settle();
    Save(menu->grab(), "04-box-menu-ctrl.png");
    menu->close();
  });
  QTest::mouseClick(green, Qt::LeftButton, {}, QPoint(8, 8));
  rig.front.SetCtrlDown(false);
  Settle();

  // The red slot's menu: only Connect.
  WhenShown(ShownMenu, [&](QWidget* menu) {
    Settle();
    Save(Screen(), "05-box-menu-not-connected-screen.png");
    menu->close();
  });
  QTest::mouseClick(w.BoxDiscLabel(1), Qt::LeftButton, {}, QPoint(8, 8));
  Settle();

  // The balloon of a lost direct connection.
  rig.front.ShowBalloon(Button::kDirect, "Attention",
                        Utf8ToCp1252("Perte de connexion directe à Dorix-Pro !"), 131, 8000,
                        2.0 / 3.0, 0.5);
  Settle();
  Save(Screen(), "06-direct-balloon-screen.png");
  w.Balloon()->hide();

  // The remove and restore menu over a mixed selection.
  QListView* list = w.List(ListId::kDetections);
  list->selectionModel()->select(w.Model(ListId::kDetections)->index(1),
                                 QItemSelectionModel::Select);
  list->selectionModel()->select(w.Model(ListId::kDetections)->index(2),
                                 QItemSelectionModel::Select);
  QPoint onList = list->visualRect(w.Model(ListId::kDetections)->index(2)).center();
  QCursor::setPos(list->viewport()->mapToGlobal(onList));
  WhenShown(ShownMenu, [&](QWidget* menu) {
    Settle();
    Save(Screen(), "07-remove-restore-menu-screen.png");
    menu->close();
  });
  QTest::mouseClick(list->viewport(), Qt::RightButton, {}, onList);
  Settle();

  // The manual entry dialog from F12.
  WhenShown(testing::ShownDialog<CDlgInsertTimeNew>, [&](QWidget* widget) {
    auto* dialog = static_cast<CDlgInsertTimeNew*>(widget);
    dialog->BibEdit()->setText(QStringLiteral("123"));
    Settle();
    Save(dialog->grab(), "08-manual-entry-dialog.png");
    Save(Screen(), "08b-manual-entry-screen.png");
    dialog->reject();
  });
  QTest::keyClick(list, Qt::Key_F12);
  Settle();
}

}  // namespace
}  // namespace lapora

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: ui_screenshots FOLDER\n");
    return 2;
  }
  lapora::g_folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(lapora::g_folder);
  lapora::InitUiResources();
  lapora::Shots();
  return 0;
}
