// The main window over a real Station, offscreen: lists, purges, scrolling (sideways too),
// drawing, the counter and buttons, the import and export dialogs run over it, and the closing
// keys.
#include <QApplication>
#include <QContextMenuEvent>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <memory>

#include "detections/chip_table.h"
#include "detections/detection_intake.h"
#include "detections/recorded_detections.h"
#include "export/detection_lines_export.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/sound.h"
#include "foundation/text.h"
#include "resources/messages_station.h"
#include "station/station.h"
#include "support/temp_dir.h"
#include "ui/dlg_export_detection_lines.h"
#include "ui/dlg_import_varnex.h"
#include "ui/dlg_insert_time_new.h"
#include "ui/lapora_dlg.h"
#include "ui/list_delegates.h"
#include "ui/list_models.h"
#include "ui/qt_front_end.h"
#include "ui/qt_text.h"
#include "ui/ui_resources.h"
#include "ui/ui_rig.h"

namespace lapora {

namespace {

using testing::Item;
using testing::Rig;
using testing::ShownMenu;
using testing::WhenDialogShown;
using testing::WhenShown;

// An entry drawn alone into an image as wide as a line of the list.
QImage DrawEntry(QListView* view, const QModelIndex& index, bool selected, int width = 900) {
  QImage image(width, 22, QImage::Format_RGB32);
  image.fill(Qt::magenta);
  QPainter painter(&image);
  QStyleOptionViewItem option;
  option.initFrom(view);
  option.rect = image.rect();
  option.font = view->font();
  option.state = QStyle::State_Enabled;
  if (selected) {
    option.state |= QStyle::State_Selected;
  }
  view->itemDelegate()->paint(&painter, option, index);
  painter.end();
  return image;
}

int CountPixels(const QImage& image, QRect area, const std::function<bool(QColor)>& match) {
  area = area.intersected(image.rect());
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (match(image.pixelColor(x, y))) {
        ++count;
      }
    }
  }
  return count;
}

bool IsDark(QColor c) {
  return c.red() < 128 && c.green() < 128 && c.blue() < 128;
}

}  // namespace

class LaporaDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InitUiResources(); }

  void layoutShowsTheLabelsAndTheVersion() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    QCOMPARE(w.windowTitle(), ToQt(Tr(Message{"Lapora Detections", "Détections Lapora"})));
    QCOMPARE(w.VersionLabel()->text(), QStringLiteral("Version test"));
    QCOMPARE(w.LevelSelector()->count(), 5);
    QCOMPARE(w.LevelSelector()->currentIndex(), 2);  // level 50
    QVERIFY(w.LogDetectionsBox()->isChecked());
    QVERIFY(w.ScrollBox()->isChecked());
    QVERIFY(!w.LongRaceLabel()->isVisible());
    for (int i = 0; i < 4; ++i) {
      QCOMPARE(w.BoxDiscShown(i), BoxDisc::kGrey);
      QCOMPARE(w.BoxDiscLabel(i)->toolTip(), ToQt(Tr(kMsgBoxUndefined)));
    }
    // The buttons keep to the right edge when the window grows; the lists take the room.
    int listWidth = w.List(ListId::kDetections)->width();
    w.resize(w.width() + 300, w.height() + 200);
    QApplication::processEvents();
    QPushButton* exit = w.CommandButton(Button::kExit);
    QVERIFY(w.width() - (exit->mapTo(&w, QPoint(exit->width(), 0)).x()) < 20);
    QVERIFY(w.List(ListId::kDetections)->width() > listWidth);
    // The configuration dialog opens by itself once the window runs, and once only.
    QTRY_COMPARE(rig.configurationDialogs, 1);
  }

  void counterTextsAndButtonsFollowTheRecords() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    QCOMPARE(w.CounterLabel()->text(), ToQt(DetectionCounterText(0)));
    QCOMPARE(w.CounterLabel()->text(),
             ToQt(Tr(Message{"No recorded detection", "Aucune détection enregistrée"})));
    QVERIFY(!w.CommandButton(Button::kExportAll)->isEnabled());
    QVERIFY(!w.CommandButton(Button::kForget)->isEnabled());
    QVERIFY(!w.CommandButton(Button::kSyncClocks)->isEnabled());
    QVERIFY(!w.CommandButton(Button::kShowClocks)->isEnabled());
    QVERIFY(w.CommandButton(Button::kInsertDetection)->isEnabled());

    rig.records.AddDetectionRecord("Box 1", "7", CChrono(), CChrono(), 0, false);
    rig.events.Post(RefreshRequestEvent{});
    QTRY_VERIFY(w.CommandButton(Button::kExportAll)->isEnabled());
    QVERIFY(w.CommandButton(Button::kForget)->isEnabled());
    QCOMPARE(w.CounterLabel()->text(), ToQt(DetectionCounterText(1)));
    rig.records.AddDetectionRecord("Box 1", "8", CChrono(), CChrono(), 0, false);
    rig.station.RefreshBoxStatesAndCounter();
    QCOMPARE(w.CounterLabel()->text(), ToQt(DetectionCounterText(2)));
    QVERIFY(w.CounterLabel()->text().startsWith("2 d"));
  }

  void postedItemsArriveInOneInsertPerBatch() {
    Rig rig;
    StationListModel* model = rig.window().Model(ListId::kDetections);
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
    for (int i = 0; i < 200; ++i) {
      rig.events.Post(DetectionItemEvent{Item(i)});
    }
    QTRY_COMPARE(model->rowCount(), 200);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(model->index(199).data().toString(), ToQt(Item(199).text));
  }

  void listsPurgeAtTheirThresholds() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    for (int i = 0; i < 12000; ++i) {
      rig.station.AddDetectionItem(Item(i));
    }
    QCOMPARE(w.Model(ListId::kDetections)->rowCount(), 12000);
    rig.station.AddDetectionItem(Item(12000));
    QCOMPARE(w.Model(ListId::kDetections)->rowCount(), 10001);
    QCOMPARE(w.Model(ListId::kDetections)->index(0).data().toString(), ToQt(Item(2000).text));
    QCOMPARE(w.Model(ListId::kDetections)->index(10000).data().toString(), ToQt(Item(12000).text));

    for (int i = 0; i < 8001; ++i) {
      rig.station.AddSummaryEntry(CSummaryItem{"Runner", i + 1, "10:00:00", "1", "1st", 0});
    }
    QCOMPARE(w.Model(ListId::kSummary)->rowCount(), 6001);
    QCOMPARE(w.Model(ListId::kSummary)
                 ->index(0)
                 .data(StationListModel::kColumnsRole)
                 .toStringList()
                 .at(0),
             QStringLiteral("2001"));

    QTRY_VERIFY(rig.events.PendingCount() == 0);
    int already = w.Model(ListId::kLog)->rowCount();
    for (int i = already; i < 8001; ++i) {
      rig.log.PostLog(0, "+ line " + std::to_string(i));
    }
    QTRY_COMPARE(w.Model(ListId::kLog)->rowCount(), 6001);
    QVERIFY(w.Model(ListId::kLog)->index(6000).data().toString().endsWith("+ line 8000"));
  }

  void checkingScrollShowsTheEightySixthOfAHundred() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    rig.settings.BScrollDetections = 0;
    w.ScrollBox()->setChecked(false);
    for (int i = 0; i < 100; ++i) {
      rig.station.AddDetectionItem(Item(i));
    }
    // A list short enough to show fewer than fifteen lines, as a list can never scroll past
    // its last full page.
    QListView* list = w.List(ListId::kDetections);
    list->setFixedHeight(list->sizeHintForRow(0) * 10);
    QApplication::processEvents();
    QCOMPARE(list->indexAt(QPoint(1, 1)).row(), 0);
    w.ScrollBox()->click();
    QVERIFY(w.ScrollBox()->isChecked());
    QCOMPARE(rig.settings.BScrollDetections.load(), 1);
    QCOMPARE(list->indexAt(QPoint(1, 1)).row(), 85);
    // Following new entries: one more entry moves the first visible one by one.
    rig.station.AddDetectionItem(Item(100));
    QCOMPARE(list->indexAt(QPoint(1, 1)).row(), 86);
  }

  void detectionEntriesDrawColumnsSelectionAndTheRemovedImage() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    rig.station.AddDetectionItem(Item(1, true));
    rig.station.AddDetectionItem(Item(2, false));
    rig.station.AddDetectionItem(
        CLogDetectionItem{"WWWWWWWWWWWWWWWWWWWWWWWWWWWWWW\tWBox", CKolResult{}});
    rig.station.AddDetectionItem(
        CLogDetectionItem{"+WWWWWWWWWWWWWWWWWWWWWWWWWWWWW\tWBox", CKolResult{}});
    QListView* list = w.List(ListId::kDetections);
    StationListModel* model = w.Model(ListId::kDetections);
    int average = QFontMetrics(list->font()).averageCharWidth();
    QRect slot(average, 0, DetectionItemDelegate::kImageSlot, 22);
    auto reddish = [](QColor c) { return c.red() > 150 && c.green() < 90 && c.blue() < 90; };

    QImage valid = DrawEntry(list, model->index(0), false);
    QImage removed = DrawEntry(list, model->index(1), false);
    QCOMPARE(CountPixels(valid, slot, reddish), 0);
    QVERIFY(CountPixels(removed, slot, reddish) > 10);
    // White background, black text; navy and white when selected.
    QCOMPARE(valid.pixelColor(890, 11), QColor(Qt::white));
    QVERIFY(CountPixels(valid, valid.rect(), IsDark) > 0);
    QImage selected = DrawEntry(list, model->index(0), true);
    QCOMPARE(selected.pixelColor(890, 11), kSelectionNavy);
    QVERIFY(CountPixels(selected, selected.rect(), [](QColor c) { return c == Qt::white; }) > 0);

    // Columns: the first is cut at 10 widths (15 after a "+"), the next starts one width on.
    int first = average + DetectionItemDelegate::kImageSlot + average;
    QImage plain = DrawEntry(list, model->index(2), false);
    QCOMPARE(CountPixels(plain, QRect(first + 10 * average + 1, 0, average - 2, 22), IsDark), 0);
    QVERIFY(CountPixels(plain, QRect(first + 11 * average, 0, average, 22), IsDark) > 0);
    QImage plus = DrawEntry(list, model->index(3), false);
    QVERIFY(CountPixels(plus, QRect(first + 11 * average, 0, average, 22), IsDark) > 0);
    QCOMPARE(CountPixels(plus, QRect(first + 15 * average + 1, 0, average - 2, 22), IsDark), 0);
  }

  void summaryEntriesDrawInGreenOrBrown() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    rig.station.AddSummaryEntry(CSummaryItem{"DUPONT Jean", 12, "10:00:00", "2", "3 / 40", 0});
    rig.station.AddSummaryEntry(CSummaryItem{"MARTIN Paul", 0, "10:01:00", "1", "DNF", 1});
    QListView* list = w.List(ListId::kSummary);
    StationListModel* model = w.Model(ListId::kSummary);
    QCOMPARE(model->index(1).data(StationListModel::kColumnsRole).toStringList().at(0),
             QString());  // bib 0 shows nothing
    QImage ok = DrawEntry(list, model->index(0), true);
    QImage error = DrawEntry(list, model->index(1), false);
    auto green = [](QColor c) { return c == kSummaryGreen; };
    auto brown = [](QColor c) { return c == kSummaryBrown; };
    QVERIFY(CountPixels(ok, ok.rect(), green) > 0);
    QCOMPARE(CountPixels(ok, ok.rect(), brown), 0);
    QVERIFY(CountPixels(error, error.rect(), brown) > 0);
    QCOMPARE(CountPixels(error, error.rect(), green), 0);
    QCOMPARE(ok.pixelColor(890, 11), QColor(Qt::white));  // on white even when selected
  }

  // A whole entry can be read: the list scrolls sideways to the end of the result column, and
  // that column takes the room left at the line's end.
  void summaryEntriesShowTheirWholeResult() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    w.resize(1280, 800);
    const std::string result = Utf8ToCp1252("2ème / 154 - 1er M / 80 - 1er V1 / 12");
    rig.station.AddSummaryEntry(
        CSummaryItem{"DUPONT Jean-Pierre", 1234, "10:23:45.12", "3", result, 0});
    std::string longer = Utf8ToCp1252("2ème - 1er M - 1er V1");
    while (longer.size() < 120) {
      longer += " / " + Utf8ToCp1252("2ème - 1er M - 1er V1");
    }
    rig.station.AddSummaryEntry(CSummaryItem{"MARTIN Paul", 7, "10:24:00.00", "1", longer, 0});
    QApplication::processEvents();
    QListView* list = w.List(ListId::kSummary);
    StationListModel* model = w.Model(ListId::kSummary);
    QFontMetrics metrics(list->font());
    int average = metrics.averageCharWidth();
    const std::vector<int> widths = SummaryColumnWidths();
    int resultStart = average;
    for (std::size_t i = 0; i + 1 < widths.size(); ++i) {
      resultStart += (1 + widths[i]) * average;
    }
    int resultEnd = resultStart + metrics.horizontalAdvance(ToQt(result));
    int entryWidth = resultStart + widths.back() * average;
    auto green = [](QColor c) { return c == kSummaryGreen; };

    // At 1280 pixels a usual rank text shows whole, without scrolling.
    QVERIFY2(resultEnd < list->viewport()->width(), "the result must show whole");
    QRect line = list->visualRect(model->index(0));
    QImage shown = list->viewport()->grab().toImage();
    QVERIFY(CountPixels(
                shown, QRect(line.left() + resultEnd - average, line.top(), average, line.height()),
                green) > 0);

    // The result column is wider than what is left of the list: it scrolls to its end.
    QScrollBar* sideways = list->horizontalScrollBar();
    QVERIFY(entryWidth > list->viewport()->width());
    QCOMPARE(sideways->maximum(), entryWidth - list->viewport()->width());
    sideways->setValue(sideways->maximum());
    QApplication::processEvents();
    QCOMPARE(list->visualRect(model->index(0)).left(), -sideways->maximum());

    // Drawn on a wider line, a result longer than its column reaches the line's end.
    QImage wide = DrawEntry(list, model->index(1), false, entryWidth + 40 * average);
    QVERIFY(CountPixels(wide, QRect(entryWidth + average, 0, 38 * average, 22), green) > 0);
  }

  // The import and export dialogs run with exec() over the window, from its Import button and
  // its background menu.
  void importAndExportDialogsRunOverTheWindow() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    bool importOverWindow = false;
    auto imported = WhenDialogShown<CDlgImportVarnex>([&](CDlgImportVarnex& dialog) {
      importOverWindow = dialog.parentWidget() == &w && dialog.isModal();
      QVERIFY(!dialog.ImportButton()->isEnabled());
      dialog.CancelButton()->click();
    });
    w.CommandButton(Button::kImport)->click();
    QVERIFY(*imported);
    QVERIFY(importOverWindow);
    QCOMPARE(rig.records.CountValidRecords(), 0);
    QVERIFY(rig.front.Messages().empty());

    bool exportOverWindow = false;
    auto exported =
        WhenDialogShown<CDlgExportDetectionLines>([&](CDlgExportDetectionLines& dialog) {
          exportOverWindow = dialog.parentWidget() == &w && dialog.isModal();
          dialog.GapEdit()->setText(QStringLiteral("0:0:7"));
          dialog.CloseButton()->click();
        });
    auto chosen = WhenShown(ShownMenu, [](QWidget* widget) {
      auto* menu = static_cast<QMenu*>(widget);
      QAction* entry = menu->actions().value(0);
      QVERIFY(entry != nullptr);
      QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(entry).center());
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), w.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&w, &click);
    QVERIFY(*chosen);
    QVERIFY(*exported);
    QVERIFY(exportOverWindow);
    // Closing wrote the dialog's fields.
    QCOMPARE(rig.store.ReadSettingText(kExportLinesSection, "Delta", ""), std::string("0:0:7"));
    QVERIFY(QApplication::activeModalWidget() == nullptr);
  }

  void exitAsksAndCtrlExitClosesAtOnce() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    rig.front.SetAutoAnswer(false);
    w.CommandButton(Button::kExit)->click();
    QCOMPARE(rig.front.Questions().size(), std::size_t{1});
    QCOMPARE(rig.front.Questions()[0], Tr(kMsgExitQuestion));
    QVERIFY(rig.station.IsOpen());
    QVERIFY(w.isVisible());
    QCOMPARE(rig.sound.played, std::vector<int>{kSoundExit});

    QTest::keyClick(&w, Qt::Key_Escape);  // same as Exit
    QCOMPARE(rig.front.Questions().size(), std::size_t{2});
    QTest::keyClick(w.List(ListId::kLog), Qt::Key_Return);  // Enter closes nothing
    QCOMPARE(rig.front.Questions().size(), std::size_t{2});
    QVERIFY(w.isVisible());

    rig.front.SetCtrlDown(true);
    w.CommandButton(Button::kExit)->click();
    QCOMPARE(rig.front.Questions().size(), std::size_t{2});
    QVERIFY(!rig.station.IsOpen());
    QVERIFY(rig.front.IsClosed());
    QVERIFY(!w.isVisible());
    QVERIFY(!rig.front.HasTimer(Station::kTimerDayTracking));
  }

  void clearButtonsCheckBoxesLevelAndKeys() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    rig.station.AddDetectionItem(Item(1));
    w.ClearButton(ListId::kDetections)->click();
    QCOMPARE(w.Model(ListId::kDetections)->rowCount(), 0);
    QCOMPARE(rig.sound.played.back(), static_cast<int>(kSoundDone));

    w.LogDetectionsBox()->click();
    QCOMPARE(rig.store.ReadSettingInt("Settings", "BLogDetections", -1), 0);

    w.LevelSelector()->setCurrentIndex(1);
    emit w.LevelSelector()->activated(1);
    QCOMPARE(rig.store.ReadSettingInt("Settings", "LogWinLevel", -1), 25);
    QCOMPARE(rig.log.Level(), 25);

    // F12 from a list works as the Insert button: the manual entry dialog opens (cancelled).
    QSignalSpy insert(w.CommandButton(Button::kInsertDetection), &QPushButton::clicked);
    auto cancelled = WhenDialogShown<CDlgInsertTimeNew>(
        [](CDlgInsertTimeNew& dialog) { dialog.CancelButton()->click(); });
    QTest::keyClick(w.List(ListId::kSummary), Qt::Key_F12);
    QVERIFY(*cancelled);
    QCOMPARE(insert.count(), 1);
    QCOMPARE(w.Model(ListId::kDetections)->rowCount(), 0);

    w.HelpButton()->click();
    QCOMPARE(rig.front.Messages().back(), Tr(kMsgHelpNotFound));

    rig.settings.GDaysToAdd = 2;
    rig.station.UpdateLongRaceIndicator();
    QVERIFY(w.LongRaceLabel()->isVisible());
    QCOMPARE(w.LongRaceLabel()->text(), QStringLiteral("+48h"));
  }

  // Another program asks for the window: it comes back from the task bar on the same native
  // window (recreating it would hide it), not left on top of everything afterwards.
  void popFrontRequestRaisesTheSameNativeWindow() {
    Rig rig;
    CLaporaDlg& w = rig.window();
    QWindow* native = w.windowHandle();
    QVERIFY(native != nullptr);
    w.showMinimized();
    QVERIFY(w.isMinimized());
    rig.events.Post(PopFrontEvent{});
    QTRY_VERIFY(!w.isMinimized());
    QVERIFY(w.isVisible());
    QCOMPARE(w.windowHandle(), native);
    QVERIFY(!native->flags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    const std::deque<std::string>& log = rig.station.LogLines();
    QTRY_VERIFY(std::any_of(log.begin(), log.end(), [](const std::string& line) {
      return line.find(Tr(kMsgBringToFrontRequested)) != std::string::npos;
    }));
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::LaporaDlgTest)
#include "lapora_dlg_test.moc"
