#include "ui/trace_panel.h"

#include <QDateTime>
#include <QFileInfo>
#include <cmath>
#include <filesystem>

#include "app/suggested_zones.h"
#include "link/trace.h"
#include "ui/controller_model.h"
#include "ui/frame_clock.h"
#include "ui/trace_plot.h"
#include "ui/trace_texts.h"
#include "ui/widgets.h"

namespace tkb::ui {

namespace {

QString percentText(float percent) { return QString("%1 %").arg(QString::number(percent, 'f', 1)); }
QString msText(int ms) { return ms < 0 ? QStringLiteral("—") : QString("%1 ms").arg(ms); }

// The recordings' folder and a new file in it named by the date and time.
std::string newRecordingPath(const std::string& basePath) {
  const std::filesystem::path folder = std::filesystem::path(basePath) / "tkb" / "records";
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  const std::string stamp = QDateTime::currentDateTime().toString("yyyy-MM-dd_HH-mm-ss").toStdString();
  std::filesystem::path path = folder / (stamp + ".csv");
  for (int n = 2; std::filesystem::exists(path, ignored); ++n)
    path = folder / (stamp + "_" + std::to_string(n) + ".csv");
  return path.string();
}

QString fileNameOf(const std::string& path) { return QFileInfo(QString::fromStdString(path)).fileName(); }

}  // namespace

TracePanel::TracePanel(QWidget* parent, ControllerModel& model, const AppConfig& config)
    : QDialog(parent), model_(model), feed_(model.traceFeed()), config_(config) {
  reference_ = decodeBrakeReference(
      config_.readText(kTraceSection, kBrakeReferenceKey, "", kBrakeReferenceMaxChars + 2));
  build();
  // The panel's own frames (it is a window of its own); they live as long as it does.
  clock_ = &FrameClock::of(this);
  connect(&model_, &ControllerModel::pedalsSampled, this, &TracePanel::sampled);
  followLanguage(this, model_, [this](int language) { setLanguage(language); });
}

void TracePanel::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  shownKept_ = -1;
  sampled();
  showRecording();
  showCheck();
}

void TracePanel::setLanguage(int language) {
  language_ = language;
  setWindowTitle(traceText(TraceText::PanelTitle, language));
  setFittedText(inputButton, traceText(TraceText::Input, language));
  setFittedText(outputButton, traceText(TraceText::Output, language));
  setFittedText(pinButton, traceText(TraceText::Pin, language));
  setFittedText(unpinButton, traceText(TraceText::Unpin, language));
  setFittedText(checkButton, traceText(TraceText::PedalCheck, language));
  setFittedText(applyButton, traceText(TraceText::Apply, language));
  setFittedText(closeButton, traceText(TraceText::Close, language));
  constexpr TraceText kRowNames[kFigureRows] = {TraceText::Count, TraceText::Peak, TraceText::TimeToPeak,
                                                TraceText::Held, TraceText::Release};
  auto fitted = [](QLabel* label, const QString& text) { setFittedText(label, text, label->width()); };
  for (int row = 1; row < kFigureRows; ++row) fitted(figures[row][0], traceText(kRowNames[row], language));
  fitted(figures[0][1], traceText(TraceText::LastBraking, language));
  fitted(figures[0][2], traceText(TraceText::Reference, language));
  shownClutch_ = !model_.state().hasClutch;  // the legend is written again
  shownPhase_.reset();
  showSignal(plot->signal() == TracePlot::Signal::Output);
  sampled();
  showRecording();
  showCheck();
}

void TracePanel::sampled() {
  if (!isVisible() || isMinimized()) return;
  clock_->repaint(plot);
  if (feed_.capture().kept() != shownKept_) {
    shownKept_ = feed_.capture().kept();
    plot->heldChanged();
    showFigures();
  }
  const bool clutch = model_.state().hasClutch;
  if (clutch != shownClutch_) {
    shownClutch_ = clutch;
    plot->setHasClutch(clutch);
    QString text;
    auto entry = [&text](const QColor& colour, const QString& name) {
      text += QString("<span style='color:%1'>&#9632;</span>&nbsp;%2&nbsp;&nbsp;&nbsp; ")
                  .arg(colour.name(), name.toHtmlEscaped());
    };
    for (Pedal pedal : kPedals)
      if (pedal != Pedal::Clutch || clutch)
        entry(TracePlot::kPedalColours[pedalIndex(pedal)], pedalName(pedal, language_));
    entry(TracePlot::kLastColour, traceText(TraceText::LastBraking, language_));
    entry(TracePlot::kReferenceColour, traceText(TraceText::Reference, language_));
    legend->setText(text.trimmed());
    legend->adjustSize();
  }
  if (feed_.recording()) showRecording();
  if (feed_.check() && shownPhase_ != PedalCheck::Phase::Done) showCheck();
}

void TracePanel::showFigures() {
  const BrakeApplication& last = feed_.capture().last();
  auto column = [this](int c, const BrakeApplication* a) {
    const bool none = a == nullptr || a->empty();
    figures[1][c]->setText(none ? QStringLiteral("—") : percentText(a->figures.peakPercent));
    figures[2][c]->setText(none ? QStringLiteral("—") : msText(a->figures.timeToPeakMs));
    figures[3][c]->setText(none ? QStringLiteral("—") : msText(a->figures.heldMs));
    figures[4][c]->setText(none ? QStringLiteral("—") : msText(a->figures.releaseMs));
  };
  column(1, &last);
  column(2, reference_ ? &*reference_ : nullptr);
  pinButton->setEnabled(!last.empty());
  unpinButton->setEnabled(reference_.has_value());
  plot->setHeld(&last, reference_ ? &*reference_ : nullptr);
}

void TracePanel::showSignal(bool output) {
  plot->setSignal(output ? TracePlot::Signal::Output : TracePlot::Signal::Input);
  setButtonLook(inputButton, output ? ButtonLook::Normal : ButtonLook::Highlighted);
  setButtonLook(outputButton, output ? ButtonLook::Highlighted : ButtonLook::Normal);
  setFittedText(caption, traceText(output ? TraceText::OutputCaption : TraceText::InputCaption, language_),
                kTracePanelWidth - caption->x() - 16);
}

void TracePanel::showRecording() {
  const bool on = feed_.recording();
  setFittedText(recordButton, traceText(on ? TraceText::Stop : TraceText::Record, language_));
  setButtonLook(recordButton, on ? ButtonLook::Highlighted : ButtonLook::Normal);
  if (on) {
    const auto seconds = static_cast<int>(feed_.recordedUs() / 1'000'000);
    const QString file = fileNameOf(feed_.recordingPath());
    clock_->setText(recordStatus, traceText(TraceText::Recording, language_).arg(file).arg(seconds));
    return;
  }
  QString note;
  switch (note_.kind) {
    case Note::None: break;
    case Note::Recorded:
      note = traceText(TraceText::Recorded, language_).arg(note_.rows).arg(note_.file);
      break;
    case Note::RecordFailed: note = traceText(TraceText::RecordFailed, language_).arg(note_.detail); break;
    case Note::PinNotKept: note = traceText(TraceText::PinNotKept, language_); break;
    case Note::UnpinFailed: note = traceText(TraceText::UnpinFailed, language_); break;
  }
  recordStatus->setText(note);
}

void TracePanel::showCheck() {
  const PedalCheck* check = feed_.check();
  if (check == nullptr) {
    checkText->clear();
    applyButton->hide();
    return;
  }
  feed_.advanceCheck();
  const PedalCheck::Phase phase = check->phase();
  if (phase != PedalCheck::Phase::Done) {
    const double left = std::max<double>(0, static_cast<double>(check->phaseEndsUs() - feed_.nowUs()) / 1e6);
    const TraceText what = phase == PedalCheck::Phase::Rest ? TraceText::CheckRest : TraceText::CheckPress;
    clock_->setText(checkText, traceText(what, language_).arg(static_cast<int>(std::ceil(left))));
    applyButton->hide();
    shownPhase_ = phase;
    return;
  }
  shownPhase_ = phase;
  const PedalCheckResult result = check->result();
  QStringList lines = checkFindings(result, language_);
  const bool zones = !result.zones().empty();
  if (!zones && result.timing.reports > 0) lines << traceText(TraceText::NothingToSend, language_);
  if (zones && !checkSent_) {
    lines << traceText(TraceText::ApplyOffered, language_);
    if (notNow_) lines << traceText(TraceText::NotNow, language_);
  }
  if (checkSent_) {
    if (sentCount_ > 0) lines << traceText(TraceText::Sent, language_);
    for (Pedal pedal : refused_)
      lines << traceText(TraceText::PedalLeftAlone, language_).arg(pedalName(pedal, language_));
  }
  checkText->setText(lines.join('\n'));
  applyButton->setVisible(zones && !checkSent_);
}

void TracePanel::pinClicked() {
  const BrakeApplication& last = feed_.capture().last();
  const std::string value = encodeBrakeReference(last);
  if (value.empty()) return;
  trace("\nTrace: PIN\n");
  if (!config_.write(kTraceSection, kBrakeReferenceKey, value)) {
    note_ = {Note::PinNotKept, 0, {}, {}};
  } else {
    // What the next run reads back is what is shown now.
    reference_ = decodeBrakeReference(value);
    note_ = {};
  }
  showFigures();
  showRecording();
}

void TracePanel::unpinClicked() {
  trace("\nTrace: UNPIN\n");
  if (!config_.remove(kTraceSection, kBrakeReferenceKey)) {
    note_ = {Note::UnpinFailed, 0, {}, {}};
  } else {
    reference_.reset();
    note_ = {};
  }
  showFigures();
  showRecording();
}

void TracePanel::recordClicked() {
  std::string error;
  if (feed_.recording()) {
    const long rows = feed_.recordedRows();
    const QString file = fileNameOf(feed_.recordingPath());
    note_ = feed_.stopRecording(error) ? Note{Note::Recorded, rows, file, {}}
                                       : Note{Note::RecordFailed, 0, {}, QString::fromStdString(error)};
  } else if (feed_.startRecording(newRecordingPath(model_.basePath()), error)) {
    note_ = {};
  } else {
    note_ = {Note::RecordFailed, 0, {}, QString::fromStdString(error)};
  }
  showRecording();
}

void TracePanel::checkClicked() {
  feed_.startCheck(model_.state().hasClutch);
  shownPhase_.reset();
  checkSent_ = notNow_ = false;
  sentCount_ = 0;
  refused_.clear();
  showCheck();
}

void TracePanel::applyClicked() {
  const PedalCheck* check = feed_.check();
  if (check == nullptr || check->phase() != PedalCheck::Phase::Done || checkSent_) return;
  trace("\nTrace: APPLY\n");
  const auto zones = check->result().zones();
  if (!model_.canSendSettings() || model_.busy()) {
    notNow_ = true;
  } else {
    const ZonePlan plan = planSuggestedZones(model_.state(), zones);
    model_.applyZones(zones);
    checkSent_ = true;
    sentCount_ = static_cast<int>(plan.send.size());
    refused_ = plan.refused;
  }
  shownPhase_.reset();
  showCheck();
}

}  // namespace tkb::ui
