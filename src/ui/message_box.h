// Information, warning and error messages of the window, run with exec(). A message of a few
// lines is a plain message box; a long one (an export that made hundreds of files lists each)
// keeps its whole text in a scrolled area, so that the box fits the screen and its button stays
// within reach. Qt thread only.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace lapora {

// More lines than this and the text scrolls.
inline constexpr int kMessageLinesShownWhole = 20;

// Shows text with the icon and an OK button until the operator closes it.
void ExecMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                 const QString& text);

}  // namespace lapora
