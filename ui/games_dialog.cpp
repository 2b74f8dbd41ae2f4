#include "ui/games_dialog.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "app/game_switcher.h"
#include "app/process_watcher.h"
#include "link/trace.h"
#include "ui/localisation.h"

namespace tkb::ui {
namespace {

QString text(LabelRole role, int language) { return QString::fromUtf8(labelText(role, language)); }

}  // namespace

GamesDialog::GamesDialog(QWidget* parent, const AppConfig& config, const std::vector<std::string>& running,
                         const QString& profileFolder, int language)
    : QDialog(parent), config_(config), profileFolder_(profileFolder), language_(language) {
  setObjectName("GamesDialog");
  setWindowTitle(text(LabelRole::GamesTitle, language));
  resize(720, 420);

  table = new QTableWidget(0, 2, this);
  table->setHorizontalHeaderLabels({text(LabelRole::GamesColumnGame, language), text(LabelRole::GamesColumnProfile, language)});
  table->horizontalHeader()->setStretchLastSection(true);
  table->setColumnWidth(0, 240);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->hide();

  name = new QComboBox(this);
  name->setObjectName("GameName");
  name->setEditable(true);
  name->setInsertPolicy(QComboBox::NoInsert);
  // Only what may be a game is offered (a shell, a compiler, a desktop service is not), the
  // Windows programs (games under Wine or Proton) first; a name the table cannot hold (a
  // line break in it, too long) is not. Any other name can be typed.
  for (bool windows : {true, false})
    for (const std::string& program : running) {
      const bool exe = program.size() > 4 && sameProgramName(std::string_view(program).substr(program.size() - 4), ".exe");
      if (exe == windows && plausiblyGame(program) && gameNameAllowed(program))
        name->addItem(QString::fromStdString(program));
    }
  name->setCurrentText("");

  add = new QPushButton(text(LabelRole::GamesAdd, language), this);
  remove = new QPushButton(text(LabelRole::GamesRemove, language), this);
  close = new QPushButton(text(LabelRole::GamesClose, language), this);
  message = new QLabel(this);
  message->setWordWrap(true);
  message->setStyleSheet("color:#b03a2e;");
  message->hide();

  auto* nameRow = new QHBoxLayout;
  nameRow->addWidget(name, 1);
  nameRow->addWidget(add);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(remove);
  buttons->addStretch(1);
  buttons->addWidget(close);
  intro = new QLabel(text(LabelRole::GamesIntro, language), this);
  intro->setObjectName("GamesIntro");
  intro->setWordWrap(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addWidget(table, 1);
  layout->addWidget(new QLabel(text(LabelRole::GamesNamePrompt, language), this));
  layout->addLayout(nameRow);
  layout->addWidget(message);
  layout->addLayout(buttons);

  chooser_ = [this](const QString& game) -> std::optional<QString> {
    const QString path = QFileDialog::getOpenFileName(this, game, profileFolder_,
                                                      "TKB Sport Profile (*.tks);;TKB Pro Profile (*.tkb)");
    if (path.isEmpty()) return std::nullopt;
    return path;
  };
  connect(add, &QPushButton::clicked, this, &GamesDialog::addClicked);
  connect(remove, &QPushButton::clicked, this, &GamesDialog::removeClicked);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  showTable();
}

void GamesDialog::showTable() {
  const std::vector<GameEntry> games = readGameTable(config_);
  table->setRowCount(static_cast<int>(games.size()));
  for (int row = 0; row < static_cast<int>(games.size()); ++row) {
    table->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(games[row].name)));
    table->setItem(row, 1, new QTableWidgetItem(QString::fromStdString(games[row].profilePath)));
  }
  remove->setEnabled(!games.empty());
}

void GamesDialog::addClicked() {
  const std::string game = name->currentText().trimmed().toStdString();
  if (!gameNameAllowed(game)) {
    message->setText(text(LabelRole::GamesNameRefused, language_));
    message->show();
    return;
  }
  message->hide();
  const auto path = chooser_(QString::fromStdString(game));
  if (!path) return;
  const GameEntry entry{game, path->toStdString()};
  if (!writeGameEntry(config_, entry)) {
    trace("\nGame not added (its profile must be a .tks or .tkb file): %s -> %s", game.c_str(),
          entry.profilePath.c_str());
    return;
  }
  trace("\nGame added: %s -> %s", game.c_str(), entry.profilePath.c_str());
  name->setCurrentText("");
  showTable();
  emit tableChanged();
}

void GamesDialog::removeClicked() {
  const int row = table->currentRow();
  if (row < 0 || table->item(row, 0) == nullptr) return;
  const std::string game = table->item(row, 0)->text().toStdString();
  if (!removeGameEntry(config_, game)) return;
  trace("\nGame removed: %s", game.c_str());
  showTable();
  emit tableChanged();
}

}  // namespace tkb::ui
