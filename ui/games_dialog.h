// The games dialog: the table of game executable names and their profile files
// (config.ini [GAMES]), under a line saying what it is for. A name is picked from the running
// programs that may be games or typed, ADD asks for
// the profile file, REMOVE takes the selected game out; every change is written to
// config.ini at once and told to whoever switches the profiles. Opened from the main page's
// GAMES button (and the tray menu).
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/app_config.h"

namespace tkb::ui {

class GamesDialog : public QDialog {
  Q_OBJECT

 public:
  // Chooses the profile file for a game: the path, or nothing when cancelled.
  using FileChooser = std::function<std::optional<QString>(const QString& game)>;

  GamesDialog(QWidget* parent, const AppConfig& config, const std::vector<std::string>& running,
              const QString& profileFolder, int language);

  // Tests answer the file dialog themselves.
  void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

  QLabel* intro = nullptr;  // what the dialog does, in one line
  QTableWidget* table = nullptr;
  QComboBox* name = nullptr;  // editable: the running programs, or a typed name
  QPushButton* add = nullptr;
  QPushButton* remove = nullptr;
  QPushButton* close = nullptr;
  QLabel* message = nullptr;  // why a name was refused

 signals:
  // The table in config.ini changed.
  void tableChanged();

 private:
  void addClicked();
  void removeClicked();
  void showTable();

  const AppConfig& config_;
  QString profileFolder_;
  int language_;
  FileChooser chooser_;
};

}  // namespace tkb::ui
