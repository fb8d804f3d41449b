#include "ui/lapora_dlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "foundation/version.h"
#include "resources/messages_station.h"
#include "resources/messages_ui.h"
#include "station/station.h"
#include "ui/balloon_tip.h"
#include "ui/list_delegates.h"
#include "ui/list_models.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

constexpr int kButtonWidth = 176;
constexpr int kTooltipMs = 15000;
// The box menu opens this far right and down from the click.
constexpr QPoint kBoxMenuOffset(4, 5);

// A toggle whose pressed look is set only from outside (SetButtonState): a click reports the
// wish, and the Station, which knows whether the boxes or the link really are connected,
// answers with the state to show.
class CMirrorButton : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  void nextCheckState() override {}
};

// A tooltip that wraps at 400 pixels.
QString WrappedTooltip(const QString& text) {
  return QStringLiteral("<p style='white-space:normal; width:400px'>%1</p>")
      .arg(text.toHtmlEscaped());
}

QString DiscImage(BoxDisc disc) {
  switch (disc) {
    case BoxDisc::kGrey:
      return QStringLiteral(":/images/disc_grey.png");
    case BoxDisc::kRed:
      return QStringLiteral(":/images/disc_red.png");
    case BoxDisc::kOrange:
      return QStringLiteral(":/images/disc_orange.png");
    case BoxDisc::kGreen:
      return QStringLiteral(":/images/disc_green.png");
  }
  return {};
}

QString DirectImage(DirectState state) {
  switch (state) {
    case DirectState::kNotConnected:
      break;
    case DirectState::kConnecting:
      return QStringLiteral(":/images/direct_connecting.png");
    case DirectState::kConnected:
      return QStringLiteral(":/images/direct_on.png");
  }
  return QStringLiteral(":/images/direct_off.png");
}

}  // namespace

CLaporaDlg::CLaporaDlg(Station& station, QWidget* parent) : QDialog(parent), m_station(station) {
  setWindowTitle(ToQt(kMsgWindowTitle));
  setWindowIcon(QIcon(QStringLiteral(":/images/lapora.png")));
  setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(8, 8, 8, 6);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(4);

  // Top left: the detections list under its two check boxes, over two columns.
  auto* checks = new QHBoxLayout;
  m_logDetections = new QCheckBox(ToQt(kMsgCheckDetections), this);
  m_logDetections->setToolTip(WrappedTooltip(ToQt(kMsgTipDetections)));
  m_logDetections->setToolTipDuration(kTooltipMs);
  m_scroll = new QCheckBox(ToQt(kMsgCheckScroll), this);
  checks->addWidget(m_logDetections);
  checks->addSpacing(16);
  checks->addWidget(m_scroll);
  checks->addStretch(1);
  grid->addLayout(checks, 0, 0, 1, 2);
  grid->addWidget(MakeList(ListId::kDetections), 1, 0, 1, 2);

  // Top middle: the detections information list.
  grid->addWidget(new QLabel(ToQt(kMsgSummaryLabel), this), 0, 2);
  grid->addWidget(MakeList(ListId::kSummary), 1, 2);

  m_clearButtons[ListId::kDetections] = new QPushButton(ToQt(kMsgClearAbove), this);
  m_clearButtons[ListId::kSummary] = new QPushButton(ToQt(kMsgClearAbove), this);
  m_clearButtons[ListId::kLog] = new QPushButton(ToQt(kMsgClearBeside), this);
  grid->addWidget(m_clearButtons[ListId::kDetections], 2, 0, 1, 2, Qt::AlignLeft);
  grid->addWidget(m_clearButtons[ListId::kSummary], 2, 2, Qt::AlignLeft);

  // Bottom, full width: the log list with its clear button beside it.
  grid->addWidget(new QLabel(ToQt(kMsgLogsLabel), this), 3, 0, 1, 3);
  auto* logRow = new QHBoxLayout;
  logRow->addWidget(MakeList(ListId::kLog), 1);
  logRow->addWidget(m_clearButtons[ListId::kLog], 0, Qt::AlignVCenter);
  grid->addLayout(logRow, 4, 0, 1, 3);

  // Right column, top to bottom.
  m_rightColumn = new QWidget(this);
  auto* right = new QVBoxLayout(m_rightColumn);
  right->setContentsMargins(0, 0, 0, 0);
  right->setSpacing(4);
  auto add = [&](Button button, const Message& text, bool toggle) {
    right->addWidget(AddCommand(button, ToQt(text), toggle));
  };
  add(Button::kConfiguration, kMsgButtonConfiguration, false);
  add(Button::kConnectBoxes, kMsgButtonConnectBoxes, true);
  add(Button::kForget, kMsgButtonForget, false);
  add(Button::kExportAll, kMsgButtonExportAll, false);
  m_counter = new QLabel(m_rightColumn);
  m_counter->setAlignment(Qt::AlignCenter);
  m_counter->setWordWrap(true);
  m_counter->setMinimumHeight(36);
  right->addWidget(m_counter);
  auto* longRace = new QHBoxLayout;
  m_longRaceImage = new QLabel(m_rightColumn);
  m_longRaceImage->setPixmap(QPixmap(QStringLiteral(":/images/longrace.png")));
  m_longRace = new QLabel(m_rightColumn);
  QFont bold = m_longRace->font();
  bold.setBold(true);
  m_longRace->setFont(bold);
  longRace->addStretch(1);
  longRace->addWidget(m_longRaceImage);
  longRace->addWidget(m_longRace);
  longRace->addStretch(1);
  right->addLayout(longRace);
  m_longRace->hide();
  m_longRaceImage->hide();
  add(Button::kInsertDetection, kMsgButtonInsert, false);
  add(Button::kSyncClocks, kMsgButtonSyncClocks, false);
  add(Button::kShowClocks, kMsgButtonShowClocks, false);
  add(Button::kImport, kMsgButtonImport, false);
  add(Button::kDirect, kMsgButtonDirect, true);
  ShowDirectState(DirectState::kNotConnected);
  right->addStretch(1);
  add(Button::kExit, kMsgButtonExit, false);
  grid->addWidget(m_rightColumn, 0, 3, 5, 1);

  // Bottom line.
  auto* bottom = new QHBoxLayout;
  m_version = new QLabel(this);
  bottom->addWidget(m_version);
  bottom->addSpacing(12);
  m_help = new QToolButton(this);
  m_help->setIcon(QIcon(QStringLiteral(":/images/help.png")));
  m_help->setIconSize(QSize(24, 24));
  m_help->setAutoRaise(true);
  m_help->setToolTip(ToQt(kMsgTipHelp));
  m_help->setToolTipDuration(kTooltipMs);
  bottom->addWidget(m_help);
  bottom->addSpacing(12);
  bottom->addWidget(new QLabel(ToQt(kMsgLogLevelLabel), this));
  m_level = new QComboBox(this);
  for (const std::string& entry : Station::LevelEntries()) {
    m_level->addItem(ToQt(entry));
  }
  bottom->addWidget(m_level);
  bottom->addStretch(1);
  for (std::size_t i = 0; i < m_discs.size(); ++i) {
    m_discs[i] = new QLabel(this);
    m_discs[i]->setPixmap(QPixmap(DiscImage(BoxDisc::kGrey)));
    m_discs[i]->setCursor(Qt::PointingHandCursor);
    bottom->addWidget(m_discs[i]);
  }
  grid->addLayout(bottom, 5, 0, 1, 4);
  m_balloon = new CBalloonTip(this);

  // The lists take the room; the command column keeps its width at the right edge.
  // The detections list's lines are short (time, source, bib); the results' rank texts are long
  // and must show whole at the usual 1280 pixels, so the results list gets the larger share.
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(2, 3);
  grid->setColumnStretch(3, 0);
  grid->setRowStretch(1, 3);
  grid->setRowStretch(4, 2);

  // Operator actions.
  for (ListId list : {ListId::kDetections, ListId::kSummary, ListId::kLog}) {
    connect(m_clearButtons[list], &QPushButton::clicked, this,
            [this, list] { m_station.ClearList(list); });
  }
  connect(m_logDetections, &QCheckBox::clicked, this,
          [this](bool checked) { m_station.SetLogDetections(checked); });
  connect(m_scroll, &QCheckBox::clicked, this,
          [this](bool checked) { m_station.SetScrollDetections(checked); });
  connect(m_level, &QComboBox::activated, this, [this](int index) {
    if (index != m_levelShown) {
      m_levelShown = index;
      m_station.SelectLogLevel(index);
    }
  });
  connect(m_help, &QToolButton::clicked, this, [this] { m_station.OpenHelpDocument(); });
  for (auto& [button, widget] : m_buttons) {
    Button which = button;
    connect(widget, &QPushButton::clicked, this, [this, which] { m_station.Command(which); });
  }

  // F12 reaches the window whichever control has the focus (a shortcut would need the window
  // to be the active one); the same filter sees the clicks on the discs and the list.
  qApp->installEventFilter(this);
  resize(1280, 720);
}

CLaporaDlg::~CLaporaDlg() {
  qApp->removeEventFilter(this);
}

QListView* CLaporaDlg::MakeList(ListId list) {
  auto* view = new QListView(this);
  auto* model = new StationListModel(m_station, list, view);
  view->setModel(model);
  view->setUniformItemSizes(true);
  view->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  QPalette palette = view->palette();
  palette.setColor(QPalette::Base, Qt::white);
  view->setPalette(palette);
  switch (list) {
    case ListId::kDetections:
      view->setItemDelegate(new DetectionItemDelegate(view));
      view->setSelectionMode(QAbstractItemView::ExtendedSelection);
      // Its own menu (removing and restoring detections) opens on the right button's release;
      // the window's background menu must not open as well.
      view->setContextMenuPolicy(Qt::PreventContextMenu);
      break;
    case ListId::kSummary:
      view->setItemDelegate(new SummaryItemDelegate(view));
      view->setSelectionMode(QAbstractItemView::SingleSelection);
      break;
    case ListId::kLog:
      view->setSelectionMode(QAbstractItemView::SingleSelection);
      break;
  }
  view->setMinimumSize(160, 80);
  m_lists[list] = view;
  m_models[list] = model;
  return view;
}

QPushButton* CLaporaDlg::AddCommand(Button button, const QString& text, bool toggle) {
  QPushButton* widget =
      toggle ? new CMirrorButton(text, m_rightColumn) : new QPushButton(text, m_rightColumn);
  widget->setCheckable(toggle);
  widget->setAutoDefault(false);
  widget->setDefault(false);
  widget->setFixedWidth(kButtonWidth);
  if (button == Button::kDirect) {
    widget->setIconSize(QSize(24, 24));
  }
  // Long labels wrap inside the fixed width, word by word.
  QStringList lines;
  const int room = kButtonWidth - 14 - (button == Button::kDirect ? 32 : 0);
  const QFontMetrics metrics = widget->fontMetrics();
  for (const QString& line : text.split('\n')) {
    QString current;
    for (const QString& word : line.split(' ', Qt::SkipEmptyParts)) {
      QString candidate = current.isEmpty() ? word : current + ' ' + word;
      if (!current.isEmpty() && metrics.horizontalAdvance(candidate) > room) {
        lines << current;
        current = word;
      } else {
        current = candidate;
      }
    }
    lines << current;
  }
  widget->setText(lines.join('\n'));
  widget->setMinimumHeight(12 + metrics.height() * static_cast<int>(lines.size()));
  m_buttons[button] = widget;
  return widget;
}

void CLaporaDlg::ShowBoxState(int index, BoxDisc disc, const QString& tooltip) {
  if (index < 0 || static_cast<std::size_t>(index) >= m_discs.size()) {
    return;
  }
  m_discStates[static_cast<std::size_t>(index)] = disc;
  QLabel* label = m_discs[static_cast<std::size_t>(index)];
  label->setPixmap(QPixmap(DiscImage(disc)));
  label->setToolTip(tooltip);
  label->repaint();
}

void CLaporaDlg::ShowDirectState(DirectState state) {
  // Only the picture: while the link retries, the button stays pressed under the "not
  // connected" picture, as the Station keeps it.
  m_directState = state;
  m_buttons.at(Button::kDirect)->setIcon(QIcon(DirectImage(state)));
}

void CLaporaDlg::ShowDirectTooltip(const QString& text) {
  m_buttons.at(Button::kDirect)->setToolTip(text);
}

QPoint CLaporaDlg::TakeBoxMenuPosition(int index) {
  QPoint click;
  if (index == m_clickedDisc) {
    click = m_discClick;
  } else if (index >= 0 && static_cast<std::size_t>(index) < m_discs.size()) {
    QLabel* disc = m_discs[static_cast<std::size_t>(index)];
    click = disc->mapToGlobal(disc->rect().center());
  } else {
    click = mapToGlobal(rect().center());
  }
  m_clickedDisc = -1;
  return click + kBoxMenuOffset;
}

void CLaporaDlg::ShowAboutBox() {
  QDialog about(this);
  about.setWindowTitle(QStringLiteral("A propos de Lapora"));
  auto* layout = new QVBoxLayout(&about);
  auto* row = new QHBoxLayout;
  auto* icon = new QLabel(&about);
  icon->setPixmap(QPixmap(QStringLiteral(":/images/lapora.png")));
  row->addWidget(icon);
  row->addWidget(new QLabel(QStringLiteral("Lapora\n") + ToQt(kVersionText), &about));
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &about);
  connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
  layout->addWidget(buttons);
  about.exec();
}

void CLaporaDlg::ShowBackgroundMenu(const QPoint& globalPosition) {
  QMenu menu(this);
  QAction* exportEntry = menu.addAction(QString::fromUtf8("Export global des détections..."));
  // Desktops here have no window system menu: the About entry lives in this window menu.
  menu.addSeparator();
  QAction* about = menu.addAction(QStringLiteral("&A propos de Lapora..."));
  QAction* chosen = menu.exec(globalPosition);
  if (chosen == about) {
    ShowAboutBox();
  } else if (chosen == exportEntry) {
    m_station.OpenExportDetectionLinesDialog();
  }
  m_station.BackgroundMenuClosed();
}

void CLaporaDlg::closeEvent(QCloseEvent* event) {
  if (!m_station.IsOpen()) {
    event->accept();
    return;
  }
  if (m_station.Close()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void CLaporaDlg::reject() {
  if (!m_station.IsOpen()) {
    QDialog::reject();
    return;
  }
  m_station.Command(Button::kExit);
}

void CLaporaDlg::keyPressEvent(QKeyEvent* event) {
  // Enter does not close the window nor click a button.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CLaporaDlg::contextMenuEvent(QContextMenuEvent* event) {
  ShowBackgroundMenu(event->globalPos() + QPoint(4, 5));
}

bool CLaporaDlg::HandleMouseRelease(QObject* watched, QMouseEvent* event) {
  for (std::size_t i = 0; i < m_discs.size(); ++i) {
    QLabel* disc = m_discs[i];
    if (watched != disc) {
      continue;
    }
    // A press that slides off the disc before the release is no click.
    if (event->button() != Qt::LeftButton || !disc->rect().contains(event->position().toPoint())) {
      return false;
    }
    m_clickedDisc = static_cast<int>(i);
    m_discClick = event->globalPosition().toPoint();
    m_station.BoxDiscClicked(static_cast<int>(i));
    return true;
  }
  QListView* detections = m_lists.at(ListId::kDetections);
  if (watched == detections->viewport() && event->button() == Qt::RightButton) {
    // The list finishes its own handling of the click (the selection) first.
    QMetaObject::invokeMethod(
        this, [this] { m_station.DetectionsContextMenu(); }, Qt::QueuedConnection);
  }
  return false;
}

namespace {

bool IsOperatorInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool CLaporaDlg::eventFilter(QObject* watched, QEvent* event) {
  // While a command waits with the window alive, what the operator does in the window is
  // dropped, not deferred: a click queued during "disconnect all" must not reconnect the boxes
  // once the command is over. Dialogs and menus the command opens are windows of their own and
  // keep their input.
  if (m_station.IsBusy() && IsOperatorInput(event->type())) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget->window() == this) {
      return true;
    }
  }
  if (event->type() == QEvent::MouseButtonRelease && isVisible() &&
      HandleMouseRelease(watched, static_cast<QMouseEvent*>(event))) {
    return true;
  }
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F12) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget->window() == this && isVisible()) {
      m_buttons.at(Button::kInsertDetection)->click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace lapora
