// The window's pop-up menus built as QMenus: the box menu from the box slots' model and the
// detections list's remove and restore menu. Building is kept apart from opening, so that what a
// menu holds can be checked without running it. Qt thread only.
#pragma once

#include <QMenu>
#include <vector>

#include "boxlink/box_slots.h"

namespace lapora {

// Adds the items in order: separators, the gate-time sub-menu (its entries inside it), and
// disabled items shown greyed. Each choosable action carries its BoxMenuId as data.
void FillBoxMenu(QMenu& menu, const std::vector<BoxMenuItem>& items);

// The BoxMenuId carried by a chosen action; kNone for no action (the menu was dismissed) or
// an action that is not an item.
BoxMenuId ChosenBoxMenuId(const QAction* chosen);

struct RemoveRestoreActions {
  QAction* remove = nullptr;
  QAction* restore = nullptr;
  QAction* cancel = nullptr;
};

// "Remove selected detections", "Restore selected detections", a separator and "Cancel".
RemoveRestoreActions FillRemoveRestoreMenu(QMenu& menu, bool removeEnabled, bool restoreEnabled);

}  // namespace lapora
