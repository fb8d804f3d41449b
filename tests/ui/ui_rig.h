// Shared parts of the window tests: detections-list items, a window over a real Station in a
// fresh temporary folder whose start-up configuration dialog is answered from inside its exec(),
// and the outline of a menu. Qt thread only.
#pragma once

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <functional>
#include <string>
#include <utility>

#include "detections/recorded_detections.h"
#include "foundation/settings_store.h"
#include "station/station.h"
#include "support/station_rig.h"
#include "ui/dialog_driver.h"
#include "ui/dlg_config.h"
#include "ui/lapora_dlg.h"
#include "ui/qt_front_end.h"

namespace lapora::testing {

inline CLogDetectionItem Item(int n, bool valid = true) {
  CLogDetectionItem item{"10:00:" + std::to_string(n) + "\tBox 1\t# " + std::to_string(n), {}};
  item.record.valid = valid ? 1 : 0;
  return item;
}

// One window with everything it needs, in a fresh temporary folder. prepare runs on the
// settings before the window opens (box slots to declare, for instance). The configuration
// dialog the window opens by itself shortly after it shows is answered from inside its exec()
// by answer (its Cancel button unless given), and the rig waits for that before the test goes
// on.
struct Rig : StationRig {
  explicit Rig(const std::function<void(SettingsStore&)>& prepare = {},
               std::function<void(CDlgConfig&)> answer = {})
      : StationRig(1781000000000), front(events), station(Parts(), front) {
    if (prepare) {
      prepare(store);
    }
    front.SetAutoAnswer(true);
    front.SetCtrlDown(false);
    front.Attach(station);
    WhenDialogShown<CDlgConfig>(
        [this, answer = std::move(answer)](CDlgConfig& dialog) {
          ++configurationDialogs;
          if (answer) {
            answer(dialog);
          } else {
            dialog.CancelButton()->click();
          }
        },
        &front);
    station.Open();
    front.Window()->show();
    (void)QTest::qWaitFor(
        [this] { return configurationDialogs > 0 && QApplication::activeModalWidget() == nullptr; },
        10000);
  }
  ~Rig() {
    // Box threads end before the parts they use.
    if (station.IsOpen()) {
      front.SetCtrlDown(true);
      (void)station.Close();
    }
  }
  CLaporaDlg& window() { return *front.Window(); }

  QtFrontEnd front;
  Station station;
  int configurationDialogs = 0;
};

// The texts of a menu's entries, "-" for a separator, "(x)" after a greyed entry, "[...]" round
// a sub-menu's entries.
inline QStringList MenuOutline(const QMenu& menu) {
  QStringList outline;
  for (const QAction* action : menu.actions()) {
    if (action->isSeparator()) {
      outline << QStringLiteral("-");
      continue;
    }
    QString text = action->text();
    if (!action->isEnabled()) {
      text += QStringLiteral(" (x)");
    }
    if (action->menu() != nullptr) {
      text += QStringLiteral(" [") + MenuOutline(*action->menu()).join(QStringLiteral(", ")) +
              QStringLiteral("]");
    }
    outline << text;
  }
  return outline;
}

}  // namespace lapora::testing
