// The window's box slots and detection operations, offscreen, over a real Station: the box menu
// built from its model and opened by a click on a disc, the four disc states, the direct
// connection's pictures and balloon, the two toggles that only mirror the Station, the remove
// and restore menu of the detections list, the configuration dialog that declares the slots
// (run with exec() over the window at start), and F12 anywhere for a manual entry.
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>

#include "resources/messages_boxslots.h"
#include "resources/messages_listops.h"
#include "resources/messages_station.h"
#include "station/station.h"
#include "support/loopback_peer.h"
#include "support/simulator_process.h"
#include "ui/balloon_tip.h"
#include "ui/dlg_config.h"
#include "ui/dlg_insert_time_new.h"
#include "ui/lapora_dlg.h"
#include "ui/list_models.h"
#include "ui/qt_front_end.h"
#include "ui/qt_menus.h"
#include "ui/qt_text.h"
#include "ui/ui_resources.h"
#include "ui/ui_rig.h"

namespace lapora {

namespace {

using testing::MenuOutline;
using testing::RefusedPort;
using testing::Rig;
using testing::ShownMenu;
using testing::WhenDialogShown;
using testing::WhenShown;

// Slot 1 declared on a port that refuses, detector "31".
void DeclareSlotOne(SettingsStore& store) {
  store.WriteSettingText(kBoxSlotsSection, "BoxHost0", "127.0.0.1");
  store.WriteSettingInt(kBoxSlotsSection, "BoxPort0", RefusedPort());
  store.WriteSettingText(kBoxSlotsSection, "BoxIdDetector0", "31");
}

QImage Picture(const QString& resource) {
  return QImage(resource).convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage Shown(const QPixmap& pixmap) {
  return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// An icon's picture at the size a button shows it.
QImage IconPicture(const QString& resource, QSize size) {
  return Shown(QIcon(resource).pixmap(size));
}

// A mouse button released over a widget, as the window system delivers it.
void Release(QWidget* widget, Qt::MouseButton button, QPoint at) {
  QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), button, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(widget, &release);
}

void ClickAction(QMenu* menu, const QString& text) {
  for (QAction* action : menu->actions()) {
    if (action->text() == text) {
      QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
      return;
    }
  }
  menu->close();
}

}  // namespace

class BoxControlsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InitUiResources(); }

  void boxMenuIsBuiltFromItsModel() {
    std::vector<BoxMenuItem> gates{{BoxMenuId::kGate1s, "1s", true, {}},
                                   {BoxMenuId::kGate5s, "5s", true, {}},
                                   {BoxMenuId::kGate30s, "30s", true, {}}};
    std::vector<BoxMenuItem> items{
        {BoxMenuId::kConnect, Tr(kMsgMenuConnect), false, {}},
        {BoxMenuId::kDisconnect, Utf8ToCp1252("Déconnexion"), true, {}},
        {BoxMenuId::kSeparator, "", false, {}},
        {BoxMenuId::kAccept, "A & B", true, {}},
        {BoxMenuId::kSeparator, "", false, {}},
        {BoxMenuId::kGateTime, "varnex: setGateTime", true, gates},
        {BoxMenuId::kRewindAll, "varnex: rewindData (all)", false, {}},
    };
    QMenu menu;
    FillBoxMenu(menu, items);
    QCOMPARE(MenuOutline(menu),
             (QStringList{ToQt(kMsgMenuConnect) + " (x)", QString::fromUtf8("Déconnexion"), "-",
                          "A && B", "-", "varnex: setGateTime [1s, 5s, 30s]",
                          "varnex: rewindData (all) (x)"}));
    QList<QAction*> actions = menu.actions();
    QCOMPARE(ChosenBoxMenuId(actions[1]), BoxMenuId::kDisconnect);
    QCOMPARE(ChosenBoxMenuId(actions[3]), BoxMenuId::kAccept);
    QCOMPARE(ChosenBoxMenuId(actions[6]), BoxMenuId::kRewindAll);
    // The sub-menu's own entry is no choice; its entries are.
    QCOMPARE(ChosenBoxMenuId(actions[5]), BoxMenuId::kNone);
    QCOMPARE(ChosenBoxMenuId(actions[5]->menu()->actions()[1]), BoxMenuId::kGate5s);
    QCOMPARE(ChosenBoxMenuId(nullptr), BoxMenuId::kNone);
    QAction stranger(QStringLiteral("other"));
    QCOMPARE(ChosenBoxMenuId(&stranger), BoxMenuId::kNone);
    stranger.setData(9999);
    QCOMPARE(ChosenBoxMenuId(&stranger), BoxMenuId::kNone);

    // A greyed sub-menu keeps its entries but cannot be opened.
    items[5].enabled = false;
    QMenu greyed;
    FillBoxMenu(greyed, items);
    QVERIFY(!greyed.actions()[5]->isEnabled());
    QCOMPARE(greyed.actions()[5]->menu()->actions().size(), 3);
  }

  void clickOnADiscOpensItsBoxMenuAndRunsTheChoice() {
    Rig rig(DeclareSlotOne);
    CLaporaDlg& w = rig.window();
    QCOMPARE(w.BoxDiscShown(0), BoxDisc::kRed);
    QCOMPARE(w.BoxDiscLabel(0)->toolTip(),
             ToQt(StrF(Tr(kMsgBoxSlotTitle).c_str(), 1,
                       rig.station.BoxSlots().Box(1)->Transport()->GetLabel().c_str()) +
                  "\n" + Tr(kMsgBoxSlotNotConnected)));
    QCOMPARE(w.BoxDiscShown(1), BoxDisc::kGrey);

    // An undeclared slot opens nothing and leaves its click for the menu position.
    QPoint spot(3, 4);
    Release(w.BoxDiscLabel(1), Qt::LeftButton, spot);
    QVERIFY(QApplication::activePopupWidget() == nullptr);
    QCOMPARE(w.TakeBoxMenuPosition(1), w.BoxDiscLabel(1)->mapToGlobal(spot) + QPoint(4, 5));
    // Without a click the menu opens at the disc's centre.
    QLabel* third = w.BoxDiscLabel(2);
    QCOMPARE(w.TakeBoxMenuPosition(2), third->mapToGlobal(third->rect().center()) + QPoint(4, 5));

    // A not-connected slot: only Connect can be chosen; dismissing the menu changes nothing.
    QStringList outline;
    auto dismissed = WhenShown(ShownMenu, [&](QWidget* menu) {
      outline = MenuOutline(*static_cast<QMenu*>(menu));
      menu->close();
    });
    Release(w.BoxDiscLabel(0), Qt::LeftButton, QPoint(5, 5));
    QVERIFY(*dismissed);
    QVERIFY(!outline.isEmpty());
    QCOMPARE(outline.first(), ToQt(kMsgMenuConnect));
    QCOMPARE(outline.filter(QStringLiteral(" (x)")).size(),
             outline.size() - 1 - outline.filter(QStringLiteral("-")).size());
    QVERIFY(outline.contains(ToQt(kMsgMenuAccept) + " (x)"));
    QVERIFY(!rig.station.BoxSlots().Box(1)->IsThreadRunning());
    QCOMPARE(w.BoxDiscShown(0), BoxDisc::kRed);

    // A release with the right button, or off the disc, is no click.
    Release(w.BoxDiscLabel(0), Qt::RightButton, QPoint(5, 5));
    Release(w.BoxDiscLabel(0), Qt::LeftButton, QPoint(500, 5));
    QVERIFY(QApplication::activePopupWidget() == nullptr);

    // Connect: the box thread starts and keeps trying, the disc turns orange.
    auto connected = WhenShown(ShownMenu, [](QWidget* menu) {
      ClickAction(static_cast<QMenu*>(menu), ToQt(kMsgMenuConnect));
    });
    Release(w.BoxDiscLabel(0), Qt::LeftButton, QPoint(5, 5));
    QVERIFY(*connected);
    QVERIFY(rig.station.BoxSlots().Box(1)->IsThreadRunning());
    QTRY_COMPARE(w.BoxDiscShown(0), BoxDisc::kOrange);
    QCOMPARE(w.BoxDiscLabel(0)->toolTip().section('\n', 1), ToQt(kMsgBoxSlotReconnecting));
  }

  void discsShowTheFourStatesWithTheirTooltips() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    struct Case {
      BoxDisc disc;
      const char* image;
      std::string tooltip;
    };
    std::vector<Case> cases{
        {BoxDisc::kGrey, ":/images/disc_grey.png", Tr(kMsgBoxUndefined)},
        {BoxDisc::kRed, ":/images/disc_red.png",
         Utf8ToCp1252("Boîtier 2 [21:10000 31]\n") + Tr(kMsgBoxSlotNotConnected)},
        {BoxDisc::kOrange, ":/images/disc_orange.png",
         Utf8ToCp1252("Boîtier 3 [com3 32]\n") + Tr(kMsgBoxSlotReconnecting)},
        {BoxDisc::kGreen, ":/images/disc_green.png",
         Utf8ToCp1252("Boîtier 4 [22:10000 33]\n") + Tr(kMsgBoxSlotConnected) +
             Tr(kMsgBoxSlotClickForMenu)},
    };
    for (int i = 0; i < 4; ++i) {
      rig.front.SetBoxState(i, cases[i].disc, cases[i].tooltip);
    }
    std::vector<QImage> seen;
    for (int i = 0; i < 4; ++i) {
      QCOMPARE(w.BoxDiscShown(i), cases[i].disc);
      QCOMPARE(w.BoxDiscLabel(i)->toolTip(), ToQt(cases[i].tooltip));
      QImage image = Shown(w.BoxDiscLabel(i)->pixmap());
      QCOMPARE(image, Picture(cases[i].image));
      for (const QImage& other : seen) {
        QVERIFY(image != other);
      }
      seen.push_back(image);
    }
    // The tooltip keeps its line breaks.
    QCOMPARE(w.BoxDiscLabel(3)->toolTip().count('\n'), 2);
    // Outside the four slots nothing changes.
    rig.front.SetBoxState(4, BoxDisc::kRed, "x");
    rig.front.SetBoxState(-1, BoxDisc::kRed, "x");
    QCOMPARE(w.BoxDiscShown(0), BoxDisc::kGrey);
  }

  // A real simulated box, its clock 2 s ahead, on the station's manual clock: the figures in
  // the slot's tooltip follow the reads and the time that passes, the silence included.
  void slotTooltipShowsTheFiguresOfARealBox() {
    testing::SimulatorProcess sim(LAPORA_BINARY_DIR "/tools/boxsim/boxsim",
                                  {"--tcp", "0", "--race", "--runners", "5", "--count", "5",
                                   "--rate", "100", "--start-delay-ms", "0", "--heartbeat-ms", "0",
                                   "--status-ms", "600000", "--clock-offset-ms", "2000"});
    const int port = std::stoi(sim.WaitEvent("listening on "));
    Rig rig([port](SettingsStore& store) {
      store.WriteSettingText(kBoxSlotsSection, "BoxHost0", "127.0.0.1");
      store.WriteSettingInt(kBoxSlotsSection, "BoxPort0", port);
      store.WriteSettingText(kBoxSlotsSection, "BoxIdDetector0", "31");
    });
    // The PC's time of day follows the machine's (the box's reports are compared with it);
    // its tick stands still until the test moves it.
    rig.clock.SetUnixMs(SystemClock().NowUnixMs());
    rig.clock.SetTickMs(5'000'000);
    QTimer follow;
    QObject::connect(&follow, &QTimer::timeout,
                     [&] { rig.clock.SetUnixMs(SystemClock().NowUnixMs()); });
    follow.start(5);

    CLaporaDlg& w = rig.window();
    auto connected = WhenShown(ShownMenu, [](QWidget* menu) {
      ClickAction(static_cast<QMenu*>(menu), ToQt(kMsgMenuConnect));
    });
    Release(w.BoxDiscLabel(0), Qt::LeftButton, QPoint(5, 5));
    QVERIFY(*connected);
    auto tooltip = [&] { return w.BoxDiscLabel(0)->toolTip(); };
    auto line = [](const Message& message, auto... values) {
      QString text = ToQt(StrF(Tr(message).c_str(), values...));
      return text.left(text.size() - 1);  // without its line feed
    };
    QTRY_VERIFY_WITH_TIMEOUT(tooltip().contains(line(kMsgBoxSlotDetections, 5LL, 0LL, 0LL)), 20000);
    QCOMPARE(w.BoxDiscShown(0), BoxDisc::kGreen);
    QVERIFY2(tooltip().contains(line(kMsgBoxSlotReconnections, 0)), qPrintable(tooltip()));
    QVERIFY2(tooltip().contains(line(kMsgBoxSlotLastRead, 0)), qPrintable(tooltip()));
    // Beyond the 1000 ms alarm limit, with the offset the box reported. The delivery takes from
    // it and the test clock's lag behind the machine's adds to it: a few hundred ms at worst on
    // a loaded machine.
    const CBoxHealth::Figures figures = rig.station.BoxSlots().Figures(1);
    QVERIFY(figures.offsetKnown);
    QVERIFY2(figures.clockOffsetMs >= 1500 && figures.clockOffsetMs <= 2500,
             qPrintable(QString::number(figures.clockOffsetMs)));
    QVERIFY2(tooltip().contains(
                 line(kMsgBoxSlotClockAlarm, OffsetText(figures.clockOffsetMs).c_str(), 1000)),
             qPrintable(tooltip()));

    // Three seconds on: the five reads of one second spread over the ten-second window.
    rig.clock.SetTickMs(5'003'000);
    QTRY_VERIFY_WITH_TIMEOUT(tooltip().contains(line(kMsgBoxSlotLastRead, 3)), 5000);
    QVERIFY2(tooltip().contains(line(kMsgBoxSlotReads, 0.5)), qPrintable(tooltip()));
    QVERIFY(!tooltip().contains(line(kMsgBoxSlotNoData, 3)));

    // Twenty seconds without a line: the slot says so, above its figures.
    rig.clock.SetTickMs(5'020'000);
    QTRY_VERIFY_WITH_TIMEOUT(tooltip().contains(line(kMsgBoxSlotNoData, 20)), 5000);
    QVERIFY2(tooltip().section('\n', 2, 2) == line(kMsgBoxSlotNoData, 20), qPrintable(tooltip()));
    QVERIFY2(tooltip().contains(line(kMsgBoxSlotReads, 0.0)), qPrintable(tooltip()));
    QVERIFY2(tooltip().contains(line(kMsgBoxSlotLastRead, 20)), qPrintable(tooltip()));
    follow.stop();
  }

  void directButtonShowsThreePicturesAndOnlyTheStationPressesIt() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    QPushButton* direct = w.CommandButton(Button::kDirect);
    auto iconImage = [direct] { return Shown(direct->icon().pixmap(direct->iconSize())); };
    QCOMPARE(w.DirectStateShown(), DirectState::kNotConnected);
    QImage off = iconImage();
    QCOMPARE(off, IconPicture(":/images/direct_off.png", direct->iconSize()));

    rig.front.SetButtonState(Button::kDirect, true, true);
    rig.front.SetDirectState(DirectState::kConnecting);
    QImage connecting = iconImage();
    rig.front.SetDirectState(DirectState::kConnected);
    QImage connected = iconImage();
    QCOMPARE(connecting, IconPicture(":/images/direct_connecting.png", direct->iconSize()));
    QCOMPARE(connected, IconPicture(":/images/direct_on.png", direct->iconSize()));
    QVERIFY(off != connecting && connecting != connected && off != connected);
    // Between two attempts the link shows "not connected" while the button stays pressed.
    rig.front.SetDirectState(DirectState::kNotConnected);
    QCOMPARE(iconImage(), off);
    QVERIFY(direct->isChecked());
    rig.front.SetButtonState(Button::kDirect, true, false);

    // The connect toggle with no box declared: the alert, and the button stays released
    // whatever the click would have made of it.
    QPushButton* connect = w.CommandButton(Button::kConnectBoxes);
    QVERIFY(connect->isCheckable());
    connect->click();
    QVERIFY(!connect->isChecked());
    QTRY_VERIFY(!rig.front.Messages().empty());
    QCOMPARE(rig.front.Messages().back(), Tr(kMsgNoBoxDeclared));
    // Shown pressed, a click does not release it by itself either: the Station, which knows
    // that no box is connected, tries to connect and shows the outcome.
    rig.front.SetButtonState(Button::kConnectBoxes, true, true);
    std::size_t alerts = rig.front.Messages().size();
    QTest::mouseClick(connect, Qt::LeftButton);
    QTRY_COMPARE(rig.front.Messages().size(), alerts + 1);
    QVERIFY(!connect->isChecked());

    // The direct toggle: a click presses it through the Station, which starts the link.
    direct->click();
    QVERIFY(direct->isChecked());
    QVERIFY(rig.station.IsDirectConnectionOn());
    direct->click();
    QVERIFY(!direct->isChecked());
    QVERIFY(!rig.station.IsDirectConnectionOn());
  }

  void balloonPointsAtTheButtonWithoutTakingTheFocus() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    QListView* list = w.List(ListId::kLog);
    list->setFocus();
    QApplication::processEvents();
    QWidget* focused = QApplication::focusWidget();
    QWidget* active = QApplication::activeWindow();

    QPushButton* direct = w.CommandButton(Button::kDirect);
    rig.front.ShowBalloon(Button::kDirect, "Attention", Utf8ToCp1252("Perte de connexion !"), 131,
                          300, 2.0 / 3.0, 0.5);
    CBalloonTip* balloon = w.Balloon();
    QVERIFY(balloon->isVisible());
    QCOMPARE(balloon->Title(), QStringLiteral("Attention"));
    QCOMPARE(balloon->Text(), QString::fromUtf8("Perte de connexion !"));
    QCOMPARE(balloon->IconShown(), CBalloonTip::Icon::kWarning);
    QCOMPARE(balloon->Anchor(),
             direct->mapToGlobal(QPoint(direct->width() * 2 / 3, direct->height() / 2)));
    QVERIFY(balloon->geometry().contains(balloon->Anchor()));
    QCOMPARE(QApplication::focusWidget(), focused);
    QCOMPARE(QApplication::activeWindow(), active);
    // It goes by itself.
    QTRY_VERIFY(!balloon->isVisible());

    // A click closes it at once.
    rig.front.ShowBalloon(Button::kDirect, "", "x", 0, 60000, 0.5, 0.5);
    QCOMPARE(balloon->IconShown(), CBalloonTip::Icon::kNone);
    QTest::mouseClick(balloon, Qt::LeftButton);
    QVERIFY(!balloon->isVisible());
  }

  void removeRestoreMenuEntriesFollowTheFlags() {
    QString remove = ToQt(kMsgRemoveSelected);
    QString restore = ToQt(kMsgRestoreSelected);
    QString cancel = ToQt(kMsgMenuCancel);
    for (bool removeEnabled : {false, true}) {
      for (bool restoreEnabled : {false, true}) {
        QMenu menu;
        RemoveRestoreActions actions = FillRemoveRestoreMenu(menu, removeEnabled, restoreEnabled);
        QCOMPARE(MenuOutline(menu),
                 (QStringList{remove + (removeEnabled ? "" : " (x)"),
                              restore + (restoreEnabled ? "" : " (x)"), "-", cancel}));
        QVERIFY(actions.cancel->isEnabled());
        QVERIFY(actions.remove != actions.restore);
      }
    }
  }

  void rightClickOnTheDetectionsRemovesTheSelection() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    for (int i = 0; i < 4; ++i) {
      CKolResult record = rig.records.AddDetectionRecord("Box 1", std::to_string(i + 1), CChrono(),
                                                         CChrono(), 0, false);
      if (i == 3) {
        rig.station.SetDetectionsValid({record.id}, false);
        record.valid = 0;
      }
      rig.station.AddDetectionItem(CLogDetectionItem{
          "10:00:0" + std::to_string(i) + "\tBox 1\t# " + std::to_string(i + 1), record});
    }
    QCOMPARE(rig.records.CountValidRecords(), 3);
    QListView* list = w.List(ListId::kDetections);
    QItemSelectionModel* selection = list->selectionModel();
    QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);

    // Nothing selected: no menu.
    Release(list->viewport(), Qt::RightButton, QPoint(10, 5));
    QApplication::processEvents();
    QVERIFY(QApplication::activePopupWidget() == nullptr);

    // Rows picked in any order come in list order.
    for (int row : {3, 0, 2}) {
      selection->select(w.Model(ListId::kDetections)->index(row), QItemSelectionModel::Select);
    }
    QCOMPARE(rig.front.SelectedDetectionRows(), (std::vector<std::size_t>{0, 2, 3}));

    // Two valid and one removed: both entries can be chosen; Remove asks and removes.
    QStringList outline;
    auto removed = WhenShown(ShownMenu, [&](QWidget* menu) {
      outline = MenuOutline(*static_cast<QMenu*>(menu));
      ClickAction(static_cast<QMenu*>(menu), ToQt(kMsgRemoveSelected));
    });
    Release(list->viewport(), Qt::RightButton, QPoint(10, 5));
    QTRY_VERIFY(*removed);
    QCOMPARE(outline, (QStringList{ToQt(kMsgRemoveSelected), ToQt(kMsgRestoreSelected), "-",
                                   ToQt(kMsgMenuCancel)}));
    QTRY_COMPARE(rig.records.CountValidRecords(), 1);
    QCOMPARE(rig.front.Questions().back(), StrF(Tr(kMsgRemoveSeveral).c_str(), 3));
    QVERIFY(
        !w.Model(ListId::kDetections)->index(0).data(StationListModel::kRecordValidRole).toBool());

    // All removed now: only Restore; Cancel changes nothing.
    auto cancelled = WhenShown(ShownMenu, [&](QWidget* menu) {
      outline = MenuOutline(*static_cast<QMenu*>(menu));
      ClickAction(static_cast<QMenu*>(menu), ToQt(kMsgMenuCancel));
    });
    Release(list->viewport(), Qt::RightButton, QPoint(10, 5));
    QTRY_VERIFY(*cancelled);
    QCOMPARE(outline.mid(0, 2),
             (QStringList{ToQt(kMsgRemoveSelected) + " (x)", ToQt(kMsgRestoreSelected)}));
    QApplication::processEvents();
    QCOMPARE(rig.records.CountValidRecords(), 1);
  }

  // The configuration dialog the window opens by itself at start runs with exec() over it: it
  // stays open once no longer kept on top, its Cancel keeps nothing, and the window takes the
  // operator's keys again. Opened again from its button, its OK declares the slot typed in it.
  void startupConfigurationDialogRunsOverTheWindowUntilAnswered() {
    CDlgConfig::SetStayOnTopMs(200);
    QWidget* parent = nullptr;
    bool modal = false;
    bool openAfterRelease = false;
    std::string port = std::to_string(RefusedPort());
    Rig rig({}, [&](CDlgConfig& dialog) {
      parent = dialog.parentWidget();
      modal = dialog.isModal();
      QVERIFY(dialog.IsKeptOnTop());
      QTRY_VERIFY_WITH_TIMEOUT(!dialog.IsKeptOnTop(), 5000);
      openAfterRelease = dialog.isVisible() && QApplication::activeModalWidget() == &dialog;
      QTest::keyClicks(dialog.SlotAddressEdit(0), QStringLiteral("127.0.0.1"));
      QTest::keyClicks(dialog.SlotPortEdit(0), QString::fromStdString(port));
      dialog.CancelButton()->click();
    });
    CDlgConfig::SetStayOnTopMs(CDlgConfig::kStayOnTopMs);
    CLaporaDlg& w = rig.window();
    QCOMPARE(rig.configurationDialogs, 1);
    QCOMPARE(parent, static_cast<QWidget*>(&w));
    QVERIFY(modal);
    QVERIFY(openAfterRelease);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(w.BoxDiscShown(0), BoxDisc::kGrey);
    QCOMPARE(rig.store.ReadSettingText(kBoxSlotsSection, "BoxHost0", ""), std::string());

    // F12 from the window runs the manual entry dialog: no detector is declared yet.
    int detectors = -1;
    auto entry = WhenDialogShown<CDlgInsertTimeNew>([&](CDlgInsertTimeNew& dialog) {
      detectors = dialog.DetectorBox()->count();
      dialog.CancelButton()->click();
    });
    QTest::keyClick(w.List(ListId::kLog), Qt::Key_F12);
    QVERIFY(*entry);
    QCOMPARE(detectors, 0);

    auto configured = WhenDialogShown<CDlgConfig>([&](CDlgConfig& dialog) {
      QTest::keyClicks(dialog.SlotAddressEdit(0), QStringLiteral("127.0.0.1"));
      QTest::keyClicks(dialog.SlotPortEdit(0), QString::fromStdString(port));
      dialog.OkButton()->click();
    });
    w.CommandButton(Button::kConfiguration)->click();
    QVERIFY(*configured);
    QCOMPARE(rig.configurationDialogs, 1);  // the start-up one only
    QCOMPARE(rig.store.ReadSettingText(kBoxSlotsSection, "BoxHost0", ""), std::string("127.0.0.1"));
    QCOMPARE(rig.store.ReadSettingText(kBoxSlotsSection, "BoxPort0", ""), port);
    QCOMPARE(w.BoxDiscShown(0), BoxDisc::kRed);
  }

  void f12AnywhereEntersADetectionByHand() {
    Rig rig(DeclareSlotOne);
    CLaporaDlg& w = rig.window();
    QStringList detectors;
    auto entered = WhenDialogShown<CDlgInsertTimeNew>([&](CDlgInsertTimeNew& dialog) {
      for (int i = 0; i < dialog.DetectorBox()->count(); ++i) {
        detectors << dialog.DetectorBox()->itemText(i);
      }
      dialog.TimeEdit()->setText(QStringLiteral("10:05:30.5"));
      dialog.BibEdit()->setText(QStringLiteral("007"));
      dialog.OkButton()->click();
    });
    QTest::keyClick(w.CommandButton(Button::kExit), Qt::Key_F12);
    QVERIFY(*entered);
    QCOMPARE(detectors, QStringList{QStringLiteral("31")});
    QCOMPARE(rig.records.CountValidRecords(), 1);
    QTRY_COMPARE(w.Model(ListId::kDetections)->rowCount(), 1);
    QVERIFY(w.Model(ListId::kDetections)->index(0).data().toString().contains("Man."));
    QVERIFY(w.Model(ListId::kDetections)->index(0).data().toString().endsWith("# 7"));

    // Cancelled from the list: nothing more is recorded.
    auto cancelled = WhenDialogShown<CDlgInsertTimeNew>(
        [](CDlgInsertTimeNew& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
    QTest::keyClick(w.List(ListId::kDetections), Qt::Key_F12);
    QVERIFY(*cancelled);
    QCOMPARE(rig.records.CountValidRecords(), 1);
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::BoxControlsTest)
#include "box_controls_test.moc"
