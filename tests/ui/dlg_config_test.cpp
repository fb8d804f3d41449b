// The configuration dialog and the advanced configuration dialog offscreen: opening values,
// the blinking Dorix Classic warning, OK refusals typed into the widgets, the locked fields of
// a connected slot, the "..." file choice, the buttons' callables, and the advanced dialog's
// factory values and range check. With LAPORA_SCREENSHOT_DIR set to a folder, pictures of both
// dialogs are saved there.
#include <QApplication>
#include <QImage>
#include <QTest>

#include "foundation/app_settings.h"
#include "resources/messages_config.h"
#include "station/configuration.h"
#include "ui/dlg_config.h"
#include "ui/dlg_config_advanced.h"
#include "ui/qt_text.h"
#include "ui/ui_resources.h"
#include "ui/ui_rig.h"

namespace lapora {

namespace {

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
    dialog->show();
    return dialog;
  }

 private slots:
  void initTestCase() { InitUiResources(); }
  void init() {
    m_warnings.clear();
    m_lastFolder.clear();
    m_settings.GVarnexExportFile = "/data/Lapora.kol";
    m_settings.Host = "localhost";
    m_settings.Port = 8283;
    m_settings.ReconnectSeconds = 15;
    m_settings.GBoxReconnectSeconds = 90;
    m_settings.GDaysToAdd = 0;
    m_settings.GVarnexIgnoreUnknownTags = 0;
    m_settings.GVarnexBeepDetections = 1;
    m_settings.GVarnexBeepWhenQuit = 0;
    m_settings.GVarnexIgnoreInputMsDelta = 50;
    m_settings.GVarnexIgnoreOutputMsDelta = 300;
    m_settings.GVarnexReadMsDelta = 1;
    m_settings.GSyncDetections = 1;
  }

  void opensWithTheSettingsAndTheSlots() {
    auto dialog = MakeDialog({Slot("192.168.1.21", 10000, "31", true), Slot("COM3", 9600, "C31"),
                              Slot("10.0.0.9", 0, "15")});
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QCOMPARE(dialog->windowTitle(), ToQt(kMsgConfigTitle));
    QVERIFY(dialog->IsKeptOnTop());
    // The connected box: all three fields locked.
    QCOMPARE(dialog->SlotAddressEdit(0)->text(), QStringLiteral("192.168.1.21"));
    QVERIFY(!dialog->SlotAddressEdit(0)->isEnabled());
    QVERIFY(!dialog->SlotPortEdit(0)->isEnabled());
    QVERIFY(!dialog->SlotIdBox(0)->isEnabled());
    // "C31" is not offered: the first entry shows.
    QCOMPARE(dialog->SlotIdBox(1)->currentText(), QStringLiteral("31     CLASSIC"));
    QVERIFY(dialog->SlotIdBox(1)->isEnabled());
    QCOMPARE(dialog->SlotIdBox(1)->count(), 22);
    // Port 0: an empty port field and no identifier list.
    QVERIFY(dialog->SlotPortEdit(2)->text().isEmpty());
    QVERIFY(!dialog->SlotIdBox(2)->isEnabled());
    QCOMPARE(dialog->SlotIdBox(2)->currentText(), QStringLiteral("15     "));
    QVERIFY(dialog->SlotAddressEdit(3)->text().isEmpty());

    QCOMPARE(dialog->ExportFileEdit()->text(), QStringLiteral("/data/Lapora.kol"));
    QCOMPARE(dialog->HostEdit()->text(), QStringLiteral("localhost"));
    QCOMPARE(dialog->PortEdit()->text(), QStringLiteral("8283"));
    QCOMPARE(dialog->ReconnectEdit()->text(), QStringLiteral("15"));
    QCOMPARE(dialog->LostConnectionBox()->count(), 5);
    QCOMPARE(dialog->LostConnectionBox()->currentText(),
             QStringLiteral("Essayer de se reconnecter pendant 1mn30"));
    QCOMPARE(dialog->LostConnectionBox()->toolTipDuration(), CDlgConfig::kTooltipMs);
    QVERIFY(dialog->LostConnectionBox()->toolTip().contains(
        ToQt(kMsgConfigLostConnectionTip).toHtmlEscaped()));
    QCOMPARE(dialog->LongRaceBox()->currentIndex(), 0);
    QCOMPARE(dialog->LongRaceBox()->itemText(3), ToQt(kMsgConfigLongRace72h));
    QVERIFY(!dialog->IgnoreUnknownTagsBox()->isChecked());
    QVERIFY(dialog->BeepDetectionsBox()->isChecked());
    QVERIFY(!dialog->BeepWhenQuitBox()->isChecked());
    QVERIFY(!dialog->IsWarningBlinking());
    QVERIFY(!dialog->WarningText()->isVisible());
    QCOMPARE(dialog->CancelButton()->text(), ToQt(kMsgConfigCancel));
    SaveScreenshot(dialog.get(), "dlg_config.png");
  }

  void incompatibleSlotBlinksUntilClassicIsChosen() {
    auto dialog = MakeDialog({});
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QVERIFY(!dialog->SlotIdBox(0)->isEnabled());
    QTest::keyClicks(dialog->SlotAddressEdit(0), QStringLiteral("192.168.0.10"));
    QVERIFY(dialog->SlotIdBox(0)->isEnabled());  // an address enables the identifier list
    QTest::keyClicks(dialog->SlotPortEdit(0), QStringLiteral("10001"));
    QVERIFY(!dialog->IsWarningBlinking());
    dialog->SlotIdBox(0)->setCurrentIndex(dialog->SlotIdBox(0)->findText("12     "));
    QVERIFY(dialog->IsWarningBlinking());
    QVERIFY(dialog->WarningText()->isVisible());
    QVERIFY(dialog->WarningIcon()->isVisible());
    SaveScreenshot(dialog.get(), "dlg_config_incompatible.png");
    // It blinks: hidden, then shown again.
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->WarningText()->isVisible(), 5000);
    QVERIFY(!dialog->WarningIcon()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(dialog->WarningText()->isVisible(), 5000);

    dialog->SlotIdBox(0)->setCurrentIndex(0);
    QVERIFY(!dialog->IsWarningBlinking());
    QVERIFY(!dialog->WarningText()->isVisible());
    QVERIFY(!dialog->WarningIcon()->isVisible());
  }

  void okRefusesWrongFieldsAndKeepsTheDialogOpen() {
    auto dialog = MakeDialog({});
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->SlotAddressEdit(1)->setText(QStringLiteral("COM1"));
    dialog->SlotPortEdit(1)->setText(QStringLiteral("19200"));
    dialog->HostEdit()->setText(QStringLiteral("dorix.local"));
    dialog->OkButton()->click();
    QCOMPARE(m_warnings, QStringList{ToQt(kMsgConfigComSpeed)});
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->focusWidget(), dialog->SlotPortEdit(1));
    QCOMPARE(m_settings.Host, std::string("localhost"));

    dialog->SlotPortEdit(1)->setText(QStringLiteral("9600"));
    dialog->SlotAddressEdit(2)->setText(QStringLiteral("192.168.0.12"));
    dialog->SlotPortEdit(2)->setText(QStringLiteral("10001abc"));
    dialog->OkButton()->click();
    QCOMPARE(m_warnings.last(), ToQt(kMsgConfigInvalidPort));
    dialog->SlotPortEdit(2)->setText(QStringLiteral("10001"));

    dialog->PortEdit()->setText(QStringLiteral("80"));
    dialog->OkButton()->click();
    QCOMPARE(m_warnings.last(), Range(1024, 65535));
    QCOMPARE(dialog->focusWidget(), dialog->PortEdit());
    dialog->PortEdit()->setText(QStringLiteral("8300"));
    dialog->ReconnectEdit()->setText(QStringLiteral("ten"));
    dialog->OkButton()->click();
    QCOMPARE(m_warnings.last(), QStringLiteral("Tapez un nombre entier."));
    QCOMPARE(dialog->focusWidget(), dialog->ReconnectEdit());
    QVERIFY(!m_session->Accepted());

    dialog->ReconnectEdit()->setText(QStringLiteral("60"));
    dialog->LongRaceBox()->setCurrentIndex(2);
    dialog->LostConnectionBox()->setCurrentIndex(0);
    dialog->IgnoreUnknownTagsBox()->setChecked(true);
    dialog->OkButton()->click();
    QCOMPARE(dialog->result(), static_cast<int>(QDialog::Accepted));
    QCOMPARE(m_warnings.size(), 4);
    QCOMPARE(m_settings.Host, std::string("dorix.local"));
    QCOMPARE(m_settings.Port.load(), 8300);
    QCOMPARE(m_settings.ReconnectSeconds.load(), 60);
    QCOMPARE(m_settings.GDaysToAdd.load(), 2);
    QCOMPARE(m_settings.GBoxReconnectSeconds.load(), 0);
    QCOMPARE(m_settings.GVarnexIgnoreUnknownTags.load(), 1);
    QCOMPARE(m_session->WorkingSlots()[1].address, std::string("COM1"));
    QCOMPARE(m_session->WorkingSlots()[2].port, 10001);
  }

  void connectedSlotKeepsItsValuesOnOk() {
    auto dialog = MakeDialog({Slot("192.168.1.21", 10000, "12", true)});
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QVERIFY(dialog->IsWarningBlinking());  // the connected box's identifier is 12
    // Even when a locked field's text changes, OK keeps the slot as it is.
    dialog->SlotAddressEdit(0)->setText(QStringLiteral("10.1.1.1"));
    dialog->OkButton()->click();
    QCOMPARE(dialog->result(), static_cast<int>(QDialog::Accepted));
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
    dialog->BrowseButton()->click();
    QCOMPARE(title, ToQt(kMsgExportFileDialogTitle));
    QCOMPARE(start, QStringLiteral("/data/Lapora.kol"));
    QVERIFY(filter.endsWith(QStringLiteral("(*.kol)")));
    QVERIFY(!filter.contains(QLatin1Char('\t')));
    QCOMPARE(dialog->ExportFileEdit()->text(), QStringLiteral("/media/key/day1.kol"));
    QCOMPARE(m_lastFolder, std::string("/media/key"));

    dialog->SetSaveFileChooser([&](const QString&, const QString& s, const QString&) {
      start = s;
      return QString();  // cancelled
    });
    dialog->BrowseButton()->click();
    QCOMPARE(start, QStringLiteral("/media/key/day1.kol"));
    QCOMPARE(dialog->ExportFileEdit()->text(), QStringLiteral("/media/key/day1.kol"));
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
    dialog->ReloadChipTableButton()->click();
    QCOMPARE(reloads, 1);
    QCOMPARE(shown, QStringLiteral("### table missing"));
    QVERIFY(!shownOk);
    dialog->ViewLogFolderButton()->click();
    QCOMPARE(opened, QStringLiteral("/data/logfiles"));
  }

  void advancedOkStaysEvenWhenTheConfigurationIsCancelled() {
    m_settings.GVarnexIgnoreInputMsDelta = 120;
    auto dialog = MakeDialog({});
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->SetAdvancedRunner([](QDialog& shown) {
      auto& advanced = static_cast<CDlgConfigAdvanced&>(shown);
      QCOMPARE(advanced.InputDeltaBox()->value(), 120);
      advanced.FactoryButton()->click();
      advanced.OkButton()->click();
    });
    dialog->AdvancedButton()->click();
    QVERIFY(!dialog->IsKeptOnTop());
    QCOMPARE(m_settings.GVarnexIgnoreInputMsDelta.load(), 50);
    dialog->CancelButton()->click();
    QCOMPARE(dialog->result(), static_cast<int>(QDialog::Rejected));
    QVERIFY(!m_session->Accepted());
    QCOMPARE(m_settings.GVarnexIgnoreInputMsDelta.load(), 50);
  }

  // The advanced dialog as the operator gets it, through its exec(): the sync check box shows
  // the setting, the factory values tick it again, and OK stores it.
  void advancedSyncCheckBoxThroughItsExec() {
    m_settings.GSyncDetections = 0;
    auto dialog = MakeDialog({});
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    auto findAdvanced = []() -> QWidget* {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<CDlgConfigAdvanced*>(widget) != nullptr && widget->isVisible()) {
          return widget;
        }
      }
      return nullptr;
    };
    bool shownUnticked = false;
    std::shared_ptr<bool> ran = testing::WhenShown(findAdvanced, [&](QWidget* widget) {
      auto* advanced = static_cast<CDlgConfigAdvanced*>(widget);
      shownUnticked = !advanced->SyncDetectionsBox()->isChecked();
      advanced->FactoryButton()->click();
      advanced->OkButton()->click();
    });
    dialog->AdvancedButton()->click();
    QVERIFY(*ran);
    QVERIFY(shownUnticked);
    QCOMPARE(m_settings.GSyncDetections.load(), 1);

    ran = testing::WhenShown(findAdvanced, [](QWidget* widget) {
      auto* advanced = static_cast<CDlgConfigAdvanced*>(widget);
      QTest::mouseClick(advanced->SyncDetectionsBox(), Qt::LeftButton, {},
                        QPoint(8, advanced->SyncDetectionsBox()->height() / 2));
      advanced->OkButton()->click();
    });
    dialog->AdvancedButton()->click();
    QVERIFY(*ran);
    QCOMPARE(m_settings.GSyncDetections.load(), 0);
  }

  void advancedFactoryValuesAndRangeCheck() {
    m_settings.GVarnexIgnoreInputMsDelta = 120;
    m_settings.GVarnexIgnoreOutputMsDelta = 400;
    m_settings.GVarnexReadMsDelta = 5;
    CDlgConfigAdvanced dialog(m_settings);
    dialog.SetWarningShower([this](const QString& text) { m_warnings.push_back(text); });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), ToQt(kMsgAdvancedTitle));
    QCOMPARE(dialog.InputDeltaBox()->value(), 120);
    QCOMPARE(dialog.OutputDeltaBox()->value(), 400);
    QCOMPARE(dialog.ReadDeltaBox()->value(), 5);
    SaveScreenshot(&dialog, "dlg_config_advanced.png");

    dialog.FactoryButton()->click();
    QCOMPARE(dialog.InputDeltaBox()->value(), 50);
    QCOMPARE(dialog.OutputDeltaBox()->value(), 300);
    QCOMPARE(dialog.ReadDeltaBox()->value(), 1);
    QCOMPARE(m_settings.GVarnexIgnoreInputMsDelta.load(), 120);  // only OK stores

    // The arrows stay within the range; typing does not.
    dialog.ReadDeltaBox()->stepDown();
    QCOMPARE(dialog.ReadDeltaBox()->value(), 1);
    dialog.ReadDeltaBox()->clear();
    QTest::keyClicks(dialog.ReadDeltaBox(), QStringLiteral("25"));
    dialog.OkButton()->click();
    QCOMPARE(m_warnings, QStringList{Range(1, 20)});
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(dialog.ReadDeltaBox()));
    QCOMPARE(m_settings.GVarnexReadMsDelta.load(), 5);

    dialog.ReadDeltaBox()->setValue(20);
    dialog.OkButton()->click();
    QCOMPARE(dialog.result(), static_cast<int>(QDialog::Accepted));
    QCOMPARE(m_settings.GVarnexIgnoreInputMsDelta.load(), 50);
    QCOMPARE(m_settings.GVarnexIgnoreOutputMsDelta.load(), 300);
    QCOMPARE(m_settings.GVarnexReadMsDelta.load(), 20);
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgConfigTest)
#include "dlg_config_test.moc"
