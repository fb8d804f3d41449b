// The configuration dialog and the advanced configuration dialog offscreen, each run with exec()
// as the program runs them and driven from inside that loop: opening values, the time the
// dialog is kept on top, the blinking Dorix Classic warning, OK refusals typed into the widgets,
// the locked fields of a connected slot, the "..." file choice, the buttons' callables, the
// advanced dialog opened over the configuration, its factory values and range check. With
// LAPORA_SCREENSHOT_DIR set to a folder, pictures of both dialogs are saved there.
#include <QApplication>
#include <QImage>
#include <QTest>
#include <QWindow>

#include "foundation/app_settings.h"
#include "resources/messages_config.h"
#include "station/configuration.h"
#include "ui/dialog_driver.h"
#include "ui/dlg_config.h"
#include "ui/dlg_config_advanced.h"
#include "ui/qt_text.h"
#include "ui/ui_resources.h"
#include "ui/ui_rig.h"

namespace lapora {

namespace {

using testing::ExecWith;
using testing::WhenDialogShown;

constexpr int kAccepted = QDialog::Accepted;
constexpr int kRejected = QDialog::Rejected;

void SaveScreenshot(QWidget* widget, const char* name) {
  QByteArray folder = qgetenv("LAPORA_SCREENSHOT_DIR");
  if (!folder.isEmpty()) {
    QVERIFY(widget->grab().toImage().save(QString::fromLocal8Bit(folder) + "/" + name));
  }
}

ConfigSlot Slot(const char* address, int port, const char* id, bool active = false) {
  ConfigSlot slot;
  slot.address = address;
  slot.port = port;
  slot.detectorId = id;
  slot.active = active;
  return slot;
}

QString Range(int minimum, int maximum) {
  return QStringLiteral("Tapez un nombre entier compris entre %1 et %2.").arg(minimum).arg(maximum);
}

}  // namespace

class DlgConfigTest : public QObject {
  Q_OBJECT

 private:
  AppSettings m_settings;
  std::unique_ptr<ConfigurationSession> m_session;
  std::string m_lastFolder;
  QStringList m_warnings;

  std::unique_ptr<CDlgConfig> MakeDialog(const ConfigSlots& boxSlots) {
    m_session = std::make_unique<ConfigurationSession>(m_settings, boxSlots, &m_lastFolder);
    auto dialog = std::make_unique<CDlgConfig>(*m_session);
    dialog->SetWarningShower([this](const QString& text) { m_warnings.push_back(text); });
    return dialog;
  }

  // Whether the dialog is still the one the operator sees and answers: shown, and the modal
  // window on top, so that its exec() still runs.
  static bool StillRunning(const QDialog& dialog) {
    return dialog.isVisible() && QApplication::activeModalWidget() == &dialog;
  }

  static bool NativeWindowKeptOnTop(const QDialog& dialog) {
    return dialog.windowHandle() != nullptr &&
           (dialog.windowHandle()->flags() & Qt::WindowStaysOnTopHint) != 0;
  }

 private slots:
  void initTestCase() { InitUiResources(); }
  void init() {
    CDlgConfig::SetStayOnTopMs(CDlgConfig::kStayOnTopMs);
    m_warnings.clear();
    m_lastFolder.clear();
    m_settings.GVarnexExportFile = "/data/Lapora.kol";
    m_settings.Host = "localhost";
    m_settings.Port = 8283;
    m_settings.ReconnectSeconds = 15;
    m_settings.BCatchUp = 1;
    m_settings.GBoxReconnectSeconds = 90;
    m_settings.GDaysToAdd = 0;
    m_settings.GVarnexIgnoreUnknownTags = 0;
    m_settings.GVarnexBeepDetections = 1;
    m_settings.GVarnexBeepWhenQuit = 0;
    m_settings.GVarnexIgnoreInputMsDelta = 50;
    m_settings.GVarnexIgnoreOutputMsDelta = 300;
    m_settings.GVarnexReadMsDelta = 1;
    m_settings.GSyncDetections = 1;
    m_settings.BAutoRecover = 1;
  }

  void opensWithTheSettingsAndTheSlots() {
    auto dialog = MakeDialog({Slot("192.168.1.21", 10000, "31", true), Slot("COM3", 9600, "C31"),
                              Slot("10.0.0.9", 0, "15")});
    int result = ExecWith(*dialog, [&](CDlgConfig& shown) {
      QCOMPARE(shown.windowTitle(), ToQt(kMsgConfigTitle));
      QVERIFY(shown.IsKeptOnTop());
      QVERIFY(NativeWindowKeptOnTop(shown));
      // The connected box: all three fields locked.
      QCOMPARE(shown.SlotAddressEdit(0)->text(), QStringLiteral("192.168.1.21"));
      QVERIFY(!shown.SlotAddressEdit(0)->isEnabled());
      QVERIFY(!shown.SlotPortEdit(0)->isEnabled());
      QVERIFY(!shown.SlotIdBox(0)->isEnabled());
      // "C31" is not offered: the first entry shows.
      QCOMPARE(shown.SlotIdBox(1)->currentText(), QStringLiteral("31     CLASSIC"));
      QVERIFY(shown.SlotIdBox(1)->isEnabled());
      QCOMPARE(shown.SlotIdBox(1)->count(), 22);
      // Port 0: an empty port field and no identifier list.
      QVERIFY(shown.SlotPortEdit(2)->text().isEmpty());
      QVERIFY(!shown.SlotIdBox(2)->isEnabled());
      QCOMPARE(shown.SlotIdBox(2)->currentText(), QStringLiteral("15     "));
      QVERIFY(shown.SlotAddressEdit(3)->text().isEmpty());

      QCOMPARE(shown.ExportFileEdit()->text(), QStringLiteral("/data/Lapora.kol"));
      QCOMPARE(shown.HostEdit()->text(), QStringLiteral("localhost"));
      QCOMPARE(shown.PortEdit()->text(), QStringLiteral("8283"));
      QCOMPARE(shown.ReconnectEdit()->text(), QStringLiteral("15"));
      QCOMPARE(shown.LostConnectionBox()->count(), 5);
      QCOMPARE(shown.LostConnectionBox()->currentText(),
               QStringLiteral("Essayer de se reconnecter pendant 1mn30"));
      QCOMPARE(shown.LostConnectionBox()->toolTipDuration(), CDlgConfig::kTooltipMs);
      QVERIFY(shown.LostConnectionBox()->toolTip().contains(
          ToQt(kMsgConfigLostConnectionTip).toHtmlEscaped()));
      QCOMPARE(shown.LongRaceBox()->currentIndex(), 0);
      QCOMPARE(shown.LongRaceBox()->itemText(3), ToQt(kMsgConfigLongRace72h));
      QVERIFY(!shown.IgnoreUnknownTagsBox()->isChecked());
      QVERIFY(shown.BeepDetectionsBox()->isChecked());
      QVERIFY(!shown.BeepWhenQuitBox()->isChecked());
      QVERIFY(!shown.IsWarningBlinking());
      QVERIFY(!shown.WarningText()->isVisible());
      QCOMPARE(shown.CancelButton()->text(), ToQt(kMsgConfigCancel));
      SaveScreenshot(&shown, "dlg_config.png");
      shown.CancelButton()->click();
    });
    QCOMPARE(result, kRejected);
    QVERIFY(!m_session->Accepted());
  }

  // Released from the top, the dialog goes on running: its exec() only ends with a button.
  void keptOnTopForAWhileThenStaysOpenBelowOtherWindows() {
    CDlgConfig::SetStayOnTopMs(300);
    auto dialog = MakeDialog({});
    int result = ExecWith(*dialog, [&](CDlgConfig& shown) {
      QVERIFY(shown.IsKeptOnTop());
      QTRY_VERIFY_WITH_TIMEOUT(!shown.IsKeptOnTop(), 5000);
      QVERIFY(StillRunning(shown));
      QVERIFY(!NativeWindowKeptOnTop(shown));
      // Still the operator's to fill in.
      QTest::keyClicks(shown.SlotAddressEdit(1), QStringLiteral("COM1"));
      QCOMPARE(shown.SlotAddressEdit(1)->text(), QStringLiteral("COM1"));
      QVERIFY(StillRunning(shown));
      shown.CancelButton()->click();
    });
    QCOMPARE(result, kRejected);
    QVERIFY(!m_session->Accepted());

    // A slot changed before the delay keeps the dialog on top until it closes.
    auto changed = MakeDialog({});
    result = ExecWith(*changed, [&](CDlgConfig& shown) {
      QTest::keyClicks(shown.SlotAddressEdit(0), QStringLiteral("192.168.0.10"));
      QTest::qWait(700);
      QVERIFY(shown.IsKeptOnTop());
      QVERIFY(NativeWindowKeptOnTop(shown));
      QVERIFY(StillRunning(shown));
      shown.CancelButton()->click();
    });
    QCOMPARE(result, kRejected);
  }

  void incompatibleSlotBlinksUntilClassicIsChosen() {
    auto dialog = MakeDialog({});
    int result = ExecWith(*dialog, [&](CDlgConfig& shown) {
      QVERIFY(!shown.SlotIdBox(0)->isEnabled());
      QTest::keyClicks(shown.SlotAddressEdit(0), QStringLiteral("192.168.0.10"));
      QVERIFY(shown.SlotIdBox(0)->isEnabled());  // an address enables the identifier list
      QTest::keyClicks(shown.SlotPortEdit(0), QStringLiteral("10001"));
      QVERIFY(!shown.IsWarningBlinking());
      shown.SlotIdBox(0)->setCurrentIndex(shown.SlotIdBox(0)->findText("12     "));
      QVERIFY(shown.IsWarningBlinking());
      QVERIFY(shown.WarningText()->isVisible());
      QVERIFY(shown.WarningIcon()->isVisible());
      SaveScreenshot(&shown, "dlg_config_incompatible.png");
      // It blinks: hidden, then shown again.
      QTRY_VERIFY_WITH_TIMEOUT(!shown.WarningText()->isVisible(), 5000);
      QVERIFY(!shown.WarningIcon()->isVisible());
      QTRY_VERIFY_WITH_TIMEOUT(shown.WarningText()->isVisible(), 5000);

      shown.SlotIdBox(0)->setCurrentIndex(0);
      QVERIFY(!shown.IsWarningBlinking());
      QVERIFY(!shown.WarningText()->isVisible());
      QVERIFY(!shown.WarningIcon()->isVisible());
      QTest::keyClick(&shown, Qt::Key_Escape);
    });
    QCOMPARE(result, kRejected);
  }

  void okRefusesWrongFieldsAndKeepsTheDialogOpen() {
    auto dialog = MakeDialog({});
    int result = ExecWith(*dialog, [&](CDlgConfig& shown) {
      shown.SlotAddressEdit(1)->setText(QStringLiteral("COM1"));
      shown.SlotPortEdit(1)->setText(QStringLiteral("19200"));
      shown.HostEdit()->setText(QStringLiteral("dorix.local"));
      shown.OkButton()->click();
      QCOMPARE(m_warnings, QStringList{ToQt(kMsgConfigComSpeed)});
      QVERIFY(StillRunning(shown));
      QCOMPARE(shown.focusWidget(), shown.SlotPortEdit(1));
      QCOMPARE(m_settings.Host, std::string("localhost"));

      shown.SlotPortEdit(1)->setText(QStringLiteral("9600"));
      shown.SlotAddressEdit(2)->setText(QStringLiteral("192.168.0.12"));
      shown.SlotPortEdit(2)->setText(QStringLiteral("10001abc"));
      shown.OkButton()->click();
      QCOMPARE(m_warnings.last(), ToQt(kMsgConfigInvalidPort));
      shown.SlotPortEdit(2)->setText(QStringLiteral("10001"));

      shown.PortEdit()->setText(QStringLiteral("80"));
      shown.OkButton()->click();
      QCOMPARE(m_warnings.last(), Range(1024, 65535));
      QCOMPARE(shown.focusWidget(), shown.PortEdit());
      shown.PortEdit()->setText(QStringLiteral("8300"));
      shown.ReconnectEdit()->setText(QStringLiteral("ten"));
      shown.OkButton()->click();
      QCOMPARE(m_warnings.last(), QStringLiteral("Tapez un nombre entier."));
      QCOMPARE(shown.focusWidget(), shown.ReconnectEdit());
      QVERIFY(!m_session->Accepted());
      QVERIFY(StillRunning(shown));

      shown.ReconnectEdit()->setText(QStringLiteral("60"));
      QVERIFY(shown.CatchUpBox()->isChecked());
      shown.CatchUpBox()->setChecked(false);
      shown.LongRaceBox()->setCurrentIndex(2);
      shown.LostConnectionBox()->setCurrentIndex(0);
      shown.IgnoreUnknownTagsBox()->setChecked(true);
      // Enter is OK.
      QTest::keyClick(shown.ReconnectEdit(), Qt::Key_Return);
    });
    QCOMPARE(result, kAccepted);
    QCOMPARE(m_warnings.size(), 4);
    QCOMPARE(m_settings.Host, std::string("dorix.local"));
    QCOMPARE(m_settings.Port.load(), 8300);
    QCOMPARE(m_settings.ReconnectSeconds.load(), 60);
    QCOMPARE(m_settings.BCatchUp.load(), 0);
    QCOMPARE(m_settings.GDaysToAdd.load(), 2);
    QCOMPARE(m_settings.GBoxReconnectSeconds.load(), 0);
    QCOMPARE(m_settings.GVarnexIgnoreUnknownTags.load(), 1);
    QCOMPARE(m_session->WorkingSlots()[1].address, std::string("COM1"));
    QCOMPARE(m_session->WorkingSlots()[2].port, 10001);
  }

  void connectedSlotKeepsItsValuesOnOk() {
    auto dialog = MakeDialog({Slot("192.168.1.21", 10000, "12", true)});
    int result = ExecWith(*dialog, [&](CDlgConfig& shown) {
      QVERIFY(shown.IsWarningBlinking());  // the connected box's identifier is 12
      // Even when a locked field's text changes, OK keeps the slot as it is.
      shown.SlotAddressEdit(0)->setText(QStringLiteral("10.1.1.1"));
      shown.OkButton()->click();
    });
    QCOMPARE(result, kAccepted);
    QVERIFY(!dialog->IsWarningBlinking());
    QCOMPARE(m_session->WorkingSlots()[0].address, std::string("192.168.1.21"));
    QCOMPARE(m_session->WorkingSlots()[0].detectorId, std::string("12"));
  }

  void browseAppendsTheKolExtensionAndRemembersTheFolder() {
    auto dialog = MakeDialog({});
    QString title;
    QString start;
    QString filter;
    dialog->SetSaveFileChooser([&](const QString& t, const QString& s, const QString& f) {
      title = t;
      start = s;
      filter = f;
      return QStringLiteral("/media/key/day1");
    });
    int result = ExecWith(*dialog, [&](CDlgConfig& shown) {
      shown.BrowseButton()->click();
      QCOMPARE(title, ToQt(kMsgExportFileDialogTitle));
      QCOMPARE(start, QStringLiteral("/data/Lapora.kol"));
      QVERIFY(filter.endsWith(QStringLiteral("(*.kol)")));
      QVERIFY(!filter.contains(QLatin1Char('\t')));
      QCOMPARE(shown.ExportFileEdit()->text(), QStringLiteral("/media/key/day1.kol"));
      QCOMPARE(m_lastFolder, std::string("/media/key"));

      shown.SetSaveFileChooser([&](const QString&, const QString& s, const QString&) {
        start = s;
        return QString();  // cancelled
      });
      shown.BrowseButton()->click();
      QCOMPARE(start, QStringLiteral("/media/key/day1.kol"));
      QCOMPARE(shown.ExportFileEdit()->text(), QStringLiteral("/media/key/day1.kol"));
      shown.OkButton()->click();
    });
    QCOMPARE(result, kAccepted);
    QCOMPARE(m_settings.GVarnexExportFile, std::string("/media/key/day1.kol"));
  }

  void buttonsCallTheCallersServices() {
    auto dialog = MakeDialog({});
    int reloads = 0;
    m_session->SetChipTableReloader([&] {
      ++reloads;
      return ChipReloadResult{false, "### table missing"};
    });
    m_session->SetLogFolder("/data/logfiles");
    QString shown;
    bool shownOk = true;
    dialog->SetInfoShower([&](const QString& text, bool ok) {
      shown = text;
      shownOk = ok;
    });
    QString opened;
    dialog->SetFolderOpener([&](const QString& folder) { opened = folder; });
    int result = ExecWith(*dialog, [&](CDlgConfig& running) {
      running.ReloadChipTableButton()->click();
      QCOMPARE(reloads, 1);
      QCOMPARE(shown, QStringLiteral("### table missing"));
      QVERIFY(!shownOk);
      running.ViewLogFolderButton()->click();
      QCOMPARE(opened, QStringLiteral("/data/logfiles"));
      QVERIFY(StillRunning(running));
      running.CancelButton()->click();
    });
    QCOMPARE(result, kRejected);
  }

  // "Config. Avancée..." runs the advanced dialog with exec() over the configuration dialog,
  // which is still running afterwards with what was typed in it.
  void advancedOpensOverTheDialogWhichKeepsItsEdits() {
    m_settings.GVarnexIgnoreInputMsDelta = 120;
    auto dialog = MakeDialog({});
    bool advancedRan = false;
    int result = ExecWith(*dialog, [&](CDlgConfig& shown) {
      QVERIFY(shown.IsKeptOnTop());
      QTest::keyClicks(shown.SlotAddressEdit(1), QStringLiteral("192.168.0.12"));
      QTest::keyClicks(shown.SlotPortEdit(1), QStringLiteral("10001"));
      auto answered = WhenDialogShown<CDlgConfigAdvanced>([&](CDlgConfigAdvanced& advanced) {
        advancedRan = true;
        QCOMPARE(advanced.parentWidget(), static_cast<QWidget*>(&shown));
        QCOMPARE(advanced.windowTitle(), ToQt(kMsgAdvancedTitle));
        QCOMPARE(advanced.InputDeltaBox()->value(), 120);
        // The configuration dialog no longer stays above it.
        QVERIFY(!shown.IsKeptOnTop());
        QVERIFY(!NativeWindowKeptOnTop(shown));
        QVERIFY(shown.isVisible());
        advanced.FactoryButton()->click();
        advanced.OkButton()->click();
      });
      shown.AdvancedButton()->click();
      QVERIFY(*answered);
      QCOMPARE(m_settings.GVarnexIgnoreInputMsDelta.load(), 50);
      QVERIFY(StillRunning(shown));
      QCOMPARE(shown.SlotAddressEdit(1)->text(), QStringLiteral("192.168.0.12"));
      QCOMPARE(shown.SlotPortEdit(1)->text(), QStringLiteral("10001"));
      shown.OkButton()->click();
    });
    QVERIFY(advancedRan);
    QCOMPARE(result, kAccepted);
    QVERIFY(m_session->Accepted());
    QCOMPARE(m_session->WorkingSlots()[1].address, std::string("192.168.0.12"));
    QCOMPARE(m_session->WorkingSlots()[1].port, 10001);
  }

  void advancedOkStaysEvenWhenTheConfigurationIsCancelled() {
    m_settings.GVarnexIgnoreInputMsDelta = 120;
    auto dialog = MakeDialog({});
    int result = ExecWith(*dialog, [&](CDlgConfig& shown) {
      auto answered = WhenDialogShown<CDlgConfigAdvanced>([](CDlgConfigAdvanced& advanced) {
        advanced.FactoryButton()->click();
        advanced.OkButton()->click();
      });
      shown.AdvancedButton()->click();
      QVERIFY(*answered);
      QCOMPARE(m_settings.GVarnexIgnoreInputMsDelta.load(), 50);
      // Its Cancel stores nothing.
      answered = WhenDialogShown<CDlgConfigAdvanced>([](CDlgConfigAdvanced& advanced) {
        advanced.InputDeltaBox()->setValue(200);
        advanced.CancelButton()->click();
      });
      shown.AdvancedButton()->click();
      QVERIFY(*answered);
      QCOMPARE(m_settings.GVarnexIgnoreInputMsDelta.load(), 50);
      QVERIFY(StillRunning(shown));
      shown.CancelButton()->click();
    });
    QCOMPARE(result, kRejected);
    QVERIFY(!m_session->Accepted());
    QCOMPARE(m_settings.GVarnexIgnoreInputMsDelta.load(), 50);
  }

  // The advanced dialog as the operator gets it, through its exec(): its two check boxes (the
  // sync of the incoming file, the replay after a lost box connection) show their settings, the
  // factory values tick them again, and OK stores each one.
  void advancedCheckBoxesThroughItsExec() {
    m_settings.GSyncDetections = 0;
    m_settings.BAutoRecover = 0;
    auto dialog = MakeDialog({});
    bool shownUnticked = false;
    int result = ExecWith(*dialog, [&](CDlgConfig& shown) {
      auto ticked = WhenDialogShown<CDlgConfigAdvanced>([&](CDlgConfigAdvanced& advanced) {
        shownUnticked =
            !advanced.SyncDetectionsBox()->isChecked() && !advanced.AutoRecoverBox()->isChecked();
        advanced.FactoryButton()->click();
        advanced.OkButton()->click();
      });
      shown.AdvancedButton()->click();
      QVERIFY(*ticked);
      QCOMPARE(m_settings.GSyncDetections.load(), 1);
      QCOMPARE(m_settings.BAutoRecover.load(), 1);

      auto click = [](QCheckBox* box) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
      };
      auto syncUnticked = WhenDialogShown<CDlgConfigAdvanced>([&](CDlgConfigAdvanced& advanced) {
        click(advanced.SyncDetectionsBox());
        advanced.OkButton()->click();
      });
      shown.AdvancedButton()->click();
      QVERIFY(*syncUnticked);
      QCOMPARE(m_settings.GSyncDetections.load(), 0);
      QCOMPARE(m_settings.BAutoRecover.load(), 1);

      auto recoverUnticked = WhenDialogShown<CDlgConfigAdvanced>([&](CDlgConfigAdvanced& advanced) {
        click(advanced.AutoRecoverBox());
        advanced.OkButton()->click();
      });
      shown.AdvancedButton()->click();
      QVERIFY(*recoverUnticked);
      shown.CancelButton()->click();
    });
    QCOMPARE(result, kRejected);
    QVERIFY(shownUnticked);
    QCOMPARE(m_settings.GSyncDetections.load(), 0);
    QCOMPARE(m_settings.BAutoRecover.load(), 0);
  }

  void advancedFactoryValuesAndRangeCheck() {
    m_settings.GVarnexIgnoreInputMsDelta = 120;
    m_settings.GVarnexIgnoreOutputMsDelta = 400;
    m_settings.GVarnexReadMsDelta = 5;
    CDlgConfigAdvanced dialog(m_settings);
    dialog.SetWarningShower([this](const QString& text) { m_warnings.push_back(text); });
    int result = ExecWith(dialog, [&](CDlgConfigAdvanced& shown) {
      QCOMPARE(shown.InputDeltaBox()->value(), 120);
      QCOMPARE(shown.OutputDeltaBox()->value(), 400);
      QCOMPARE(shown.ReadDeltaBox()->value(), 5);
      SaveScreenshot(&shown, "dlg_config_advanced.png");

      shown.FactoryButton()->click();
      QCOMPARE(shown.InputDeltaBox()->value(), 50);
      QCOMPARE(shown.OutputDeltaBox()->value(), 300);
      QCOMPARE(shown.ReadDeltaBox()->value(), 1);
      QCOMPARE(m_settings.GVarnexIgnoreInputMsDelta.load(), 120);  // only OK stores

      // The arrows stay within the range; typing does not.
      shown.ReadDeltaBox()->stepDown();
      QCOMPARE(shown.ReadDeltaBox()->value(), 1);
      shown.ReadDeltaBox()->clear();
      QTest::keyClicks(shown.ReadDeltaBox(), QStringLiteral("25"));
      shown.OkButton()->click();
      QCOMPARE(m_warnings, QStringList{Range(1, 20)});
      QVERIFY(shown.isVisible());
      QCOMPARE(shown.focusWidget(), static_cast<QWidget*>(shown.ReadDeltaBox()));
      QCOMPARE(m_settings.GVarnexReadMsDelta.load(), 5);

      shown.ReadDeltaBox()->setValue(20);
      shown.OkButton()->click();
    });
    QCOMPARE(result, kAccepted);
    QCOMPARE(m_settings.GVarnexIgnoreInputMsDelta.load(), 50);
    QCOMPARE(m_settings.GVarnexIgnoreOutputMsDelta.load(), 300);
    QCOMPARE(m_settings.GVarnexReadMsDelta.load(), 20);
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgConfigTest)
#include "dlg_config_test.moc"
