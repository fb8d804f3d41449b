#include "ui/qt_menus.h"

#include "resources/messages_listops.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

// The labels are shown as they stand: an ampersand is a character, not a mnemonic.
QString MenuLabel(const std::string& cp1252) {
  return ToQt(cp1252).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void AddItems(QMenu& menu, const std::vector<BoxMenuItem>& items) {
  for (const BoxMenuItem& item : items) {
    if (item.id == BoxMenuId::kSeparator) {
      menu.addSeparator();
      continue;
    }
    if (!item.submenu.empty()) {
      QMenu* sub = menu.addMenu(MenuLabel(item.label));
      sub->menuAction()->setData(static_cast<int>(item.id));
      sub->setEnabled(item.enabled);
      AddItems(*sub, item.submenu);
      continue;
    }
    QAction* action = menu.addAction(MenuLabel(item.label));
    action->setData(static_cast<int>(item.id));
    action->setEnabled(item.enabled);
  }
}

}  // namespace

void FillBoxMenu(QMenu& menu, const std::vector<BoxMenuItem>& items) {
  AddItems(menu, items);
}

BoxMenuId ChosenBoxMenuId(const QAction* chosen) {
  if (chosen == nullptr || chosen->menu() != nullptr) {
    return BoxMenuId::kNone;
  }
  bool ok = false;
  int value = chosen->data().toInt(&ok);
  if (!ok || value <= static_cast<int>(BoxMenuId::kSeparator) ||
      value > static_cast<int>(BoxMenuId::kRewindAll) ||
      value == static_cast<int>(BoxMenuId::kGateTime)) {
    return BoxMenuId::kNone;
  }
  return static_cast<BoxMenuId>(value);
}

RemoveRestoreActions FillRemoveRestoreMenu(QMenu& menu, bool removeEnabled, bool restoreEnabled) {
  RemoveRestoreActions actions;
  actions.remove = menu.addAction(MenuLabel(Tr(kMsgRemoveSelected)));
  actions.remove->setEnabled(removeEnabled);
  actions.restore = menu.addAction(MenuLabel(Tr(kMsgRestoreSelected)));
  actions.restore->setEnabled(restoreEnabled);
  menu.addSeparator();
  actions.cancel = menu.addAction(MenuLabel(Tr(kMsgMenuCancel)));
  return actions;
}

}  // namespace lapora
