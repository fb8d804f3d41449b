// Shared parts of the window tests: detections-list items, a window over a real Station in a
// fresh temporary folder, and a way to act on a menu or a dialog from inside the event loop that
// runs it. Qt thread only.
#pragma once

#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "detections/recorded_detections.h"
#include "foundation/settings_store.h"
#include "station/station.h"
#include "support/station_rig.h"
#include "ui/lapora_dlg.h"
#include "ui/qt_front_end.h"

namespace lapora::testing {

inline CLogDetectionItem Item(int n, bool valid = true) {
  CLogDetectionItem item{"10:00:" + std::to_string(n) + "\tBox 1\t# " + std::to_string(n), {}};
  item.record.valid = valid ? 1 : 0;
  return item;
}

// One window with everything it needs, in a fresh temporary folder. prepare runs on the
// settings before the window opens (box slots to declare, for instance).
struct Rig : StationRig {
  explicit Rig(const std::function<void(SettingsStore&)>& prepare = {})
      : StationRig(1781000000000), front(events), station(Parts(), front) {
    if (prepare) {
      prepare(store);
    }
    front.SetAutoAnswer(true);
    front.SetCtrlDown(false);
    // The configuration dialog opens by itself once the window runs: cancelled here, counted.
    front.SetConfigurationDialogHook([this](QDialog&) {
      ++configurationDialogs;
      return false;
    });
    front.Attach(station);
    station.Open();
    front.Window()->show();
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

// Calls act once with the first widget find returns, from whatever event loop runs then (the
// one of a menu's or a dialog's exec). When nothing turns up before the deadline, the open
// popups and dialogs are closed so that the test goes on and fails. The flag tells whether
// act ran.
inline std::shared_ptr<bool> WhenShown(
    std::function<QWidget*()> find, std::function<void(QWidget*)> act,
    std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
  auto ran = std::make_shared<bool>(false);
  auto* timer = new QTimer(qApp);
  auto end = std::chrono::steady_clock::now() + deadline;
  QObject::connect(timer, &QTimer::timeout, timer, [timer, find, act, ran, end] {
    if (QWidget* widget = find()) {
      timer->stop();
      timer->deleteLater();
      *ran = true;
      act(widget);
      return;
    }
    if (std::chrono::steady_clock::now() > end) {
      timer->stop();
      timer->deleteLater();
      while (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
      }
      if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
      }
    }
  });
  timer->start(10);
  return ran;
}

inline QMenu* ShownMenu() {
  return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

template <typename Dialog>
Dialog* ShownDialog() {
  return qobject_cast<Dialog*>(QApplication::activeModalWidget());
}

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
