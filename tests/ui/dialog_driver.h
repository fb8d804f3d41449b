// Acting on menus and dialogs from inside the event loop that runs them, as the operator does.
// The program runs its dialogs with exec(); a dialog driven after show() instead would hide what
// only happens under exec(), such as a dialog that hides itself and so ends its exec() as a
// Cancel. Qt thread only.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

namespace lapora::testing {

// What a dialog's exec() gives when the test's act left it open (a check failed early): it is
// ended so that the test goes on, with a result no button gives.
inline constexpr int kLeftOpen = -1;

// Calls act once with the first widget find returns, from whatever event loop runs then (the
// one of a menu's or a dialog's exec). When nothing turns up before the deadline, the open
// popups and dialogs are closed so that the test goes on and fails. The flag tells whether act
// ran. The watch ends with owner, so that it never acts for a test that is over.
inline std::shared_ptr<bool> WhenShown(
    std::function<QWidget*()> find, std::function<void(QWidget*)> act,
    std::chrono::milliseconds deadline = std::chrono::seconds(20), QObject* owner = qApp) {
  auto ran = std::make_shared<bool>(false);
  auto* timer = new QTimer(owner);
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
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->QDialog::done(kLeftOpen);
      } else if (modal != nullptr) {
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

// The dialog on top of the modal ones, when it is a Dialog.
template <typename Dialog>
Dialog* ShownDialog() {
  return qobject_cast<Dialog*>(QApplication::activeModalWidget());
}

namespace internal {

// Runs act on a shown dialog, then ends the dialog if act left it open.
template <typename Dialog, typename Act>
void ActOnShown(Dialog& dialog, Act& act) {
  if (QTest::qWaitForWindowExposed(&dialog)) {
    act(dialog);
  }
  if (dialog.isVisible()) {
    dialog.QDialog::done(kLeftOpen);
  }
}

}  // namespace internal

// Runs dialog.exec() as the program does and calls act(dialog) from inside exec()'s own event
// loop once the dialog is the modal one on top. act ends the dialog through its buttons or keys;
// a dialog it leaves open is ended with kLeftOpen. Gives what exec() returned.
template <typename Dialog, typename Act>
int ExecWith(Dialog& dialog, Act act) {
  WhenShown(
      [&dialog]() -> QWidget* {
        return QApplication::activeModalWidget() == &dialog ? &dialog : nullptr;
      },
      [&dialog, act](QWidget*) mutable { internal::ActOnShown(dialog, act); },
      std::chrono::seconds(20), &dialog);
  return dialog.exec();
}

// For a dialog the program itself opens with exec(): the next Dialog that becomes the modal one
// on top is handed to act from inside its exec(), and ended with kLeftOpen if act leaves it open.
template <typename Dialog, typename Act>
std::shared_ptr<bool> WhenDialogShown(Act act, QObject* owner = qApp) {
  return WhenShown(
      ShownDialog<Dialog>,
      [act](QWidget* widget) mutable { internal::ActOnShown(*static_cast<Dialog*>(widget), act); },
      std::chrono::seconds(20), owner);
}

}  // namespace lapora::testing
