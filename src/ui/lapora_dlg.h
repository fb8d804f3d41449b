// The main window: the three lists with their clear buttons, the two check boxes, the right
// column of commands with the counter and the long-race indicator, and the bottom line
// (version, help image, log level selector, the four box discs). It shows what QtFrontEnd
// tells it and hands the operator's actions to the Station: a click on a disc opens that box's
// menu, a right click on the detections list its remove and restore menu, F12 anywhere in the
// window inserts a detection. The two toggles show only what the Station sets: a click asks,
// the Station answers with the state. Qt thread only.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QToolButton>
#include <array>
#include <map>
#include <optional>

#include "station/front_end.h"

namespace lapora {

class CBalloonTip;
class Station;
class StationListModel;

class CLaporaDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CLaporaDlg(Station& station, QWidget* parent = nullptr);
  ~CLaporaDlg() override;

  QListView* List(ListId list) const { return m_lists.at(list); }
  StationListModel* Model(ListId list) const { return m_models.at(list); }
  QPushButton* CommandButton(Button button) const { return m_buttons.at(button); }
  QPushButton* ClearButton(ListId list) const { return m_clearButtons.at(list); }
  QCheckBox* LogDetectionsBox() const { return m_logDetections; }
  QCheckBox* ScrollBox() const { return m_scroll; }
  QComboBox* LevelSelector() const { return m_level; }
  QLabel* CounterLabel() const { return m_counter; }
  QLabel* LongRaceLabel() const { return m_longRace; }
  QLabel* LongRaceImage() const { return m_longRaceImage; }
  QLabel* VersionLabel() const { return m_version; }
  QToolButton* HelpButton() const { return m_help; }
  QLabel* BoxDiscLabel(int index) const { return m_discs.at(static_cast<std::size_t>(index)); }
  BoxDisc BoxDiscShown(int index) const { return m_discStates.at(static_cast<std::size_t>(index)); }
  DirectState DirectStateShown() const { return m_directState; }
  CBalloonTip* Balloon() const { return m_balloon; }

  void ShowBoxState(int index, BoxDisc disc, const QString& tooltip);
  void ShowDirectState(DirectState state);
  void ShowDirectTooltip(const QString& text);
  // Where the box menu of disc `index` opens (global): the last click on that disc, or its
  // centre when it was not clicked, moved 4 right and 5 down. Forgets the click.
  QPoint TakeBoxMenuPosition(int index);
  void ShowAboutBox();
  // The window-background menu at a global position (already offset from the mouse).
  void ShowBackgroundMenu(const QPoint& globalPosition);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;  // Escape
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPushButton* AddCommand(Button button, const QString& text, bool toggle);
  QListView* MakeList(ListId list);
  // Mouse releases on the discs and on the detections list; true when handled.
  bool HandleMouseRelease(QObject* watched, QMouseEvent* event);

  Station& m_station;
  std::map<ListId, QListView*> m_lists;
  std::map<ListId, StationListModel*> m_models;
  std::map<Button, QPushButton*> m_buttons;
  std::map<ListId, QPushButton*> m_clearButtons;
  QCheckBox* m_logDetections = nullptr;
  QCheckBox* m_scroll = nullptr;
  QComboBox* m_level = nullptr;
  int m_levelShown = -1;
  QLabel* m_counter = nullptr;
  QLabel* m_longRace = nullptr;
  QLabel* m_longRaceImage = nullptr;
  QLabel* m_version = nullptr;
  QToolButton* m_help = nullptr;
  std::array<QLabel*, 4> m_discs{};
  std::array<BoxDisc, 4> m_discStates{BoxDisc::kGrey, BoxDisc::kGrey, BoxDisc::kGrey,
                                      BoxDisc::kGrey};
  // The disc clicked last and where (global), until its menu opens.
  int m_clickedDisc = -1;
  QPoint m_discClick;
  DirectState m_directState = DirectState::kNotConnected;
  CBalloonTip* m_balloon = nullptr;
  QWidget* m_rightColumn = nullptr;

  friend class QtFrontEnd;
};

}  // namespace lapora
