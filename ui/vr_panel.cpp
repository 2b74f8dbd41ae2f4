#include "ui/vr_panel.h"

#include <QEvent>
#include <string>

#include "app/doctor.h"
#include "link/trace.h"
#include "ui/help_texts.h"
#include "ui/localisation.h"

namespace tkb::ui {

namespace {
constexpr int kPanelWidth = 360, kPanelHeight = 220;
constexpr int kBoxWidth = 38, kBoxHeight = 25, kStepWidth = 26;
// A label stands above its "-", box and "+" (102 px together) and may be a little wider.
constexpr int kLabelRoomPx = 110;
constexpr int kApplyWidth = 300, kApplyHeight = 30, kApplyBottomGap = 6;
// The VR keys are read through a 5-byte buffer: at most four characters count.
constexpr std::size_t kVrReadBuffer = 5;
constexpr const char* kMonitorSection = "MONITOR";

constexpr LabelRole kRoles[kVrSettingCount] = {
    LabelRole::VrSize,  LabelRole::VrHorizontal, LabelRole::VrVertical, LabelRole::VrDepth,
    LabelRole::VrPitch, LabelRole::VrYaw,        LabelRole::VrOpacity};
}  // namespace

const std::array<VrSetting, kVrSettingCount> kVrSettings = {{
    {"vr_size", "Size: %s \n", 10, 80, 20, 2, -70, -70, -102, -70, -38, -70, -97, -93, "SIZE:"},
    {"vr_posx", "Pos X: %s \n", -90, 90, 0, 2, -105, -15, -137, -15, -73, -15, -102, -38, "HORIZONTAL:"},
    {"vr_posy", "Pos Y: %s \n", -90, 90, -40, 2, 0, -15, -32, -15, 32, -15, -9, -38, "VERTICAL:"},
    {"vr_posz", "Pos Z: %s \n", 30, 90, 69, 2, 105, -15, 73, -15, 137, -15, 87, -38, "DEPTH:"},
    {"vr_anglex", "Angle X: %s \n", -45, 45, 35, 2, -70, 40, -102, 40, -38, 40, -91, 17, "PITCH:"},
    {"vr_angley", "Angle Y: %s \n", -45, 45, 0, 2, 70, 40, 38, 40, 102, 40, 43, 17, "YAW:"},
    {"vr_opacity", "Oppa: %s \n", 20, 100, 80, 3, 70, -70, 38, -70, 102, -70, 58, -93, "OPACITY:"},
}};

VrPanel::VrPanel(QWidget* parent, const AppConfig& config, LabelBoard& labels)
    : QWidget(parent), config_(config) {
  setObjectName("VrSettingsPanel");
  resize(kPanelWidth, kPanelHeight);
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet("#VrSettingsPanel{background:#f2f2f2;border:2px solid #9a9a9a;border-radius:8px;}"
                "QPushButton{background:#ffffff;border:1px solid #808080;border-radius:4px;}");
  for (int i = 0; i < kVrSettingCount; ++i) {
    const VrSetting& s = kVrSettings[i];
    boxes_[i] = new ValueBox(this, s.minimum, s.maximum);
    boxes_[i]->resize(kBoxWidth, kBoxHeight);
    placeAligned(boxes_[i], Align::Center, s.boxX, s.boxY);
    minus_[i] = new QPushButton("-", this);
    minus_[i]->resize(kStepWidth, kBoxHeight);
    placeAligned(minus_[i], Align::Center, s.minusX, s.minusY);
    plus_[i] = new QPushButton("+", this);
    plus_[i]->resize(kStepWidth, kBoxHeight);
    placeAligned(plus_[i], Align::Center, s.plusX, s.plusY);
    labels_[i] = makeLabel(this, s.label, 12);
    placeAligned(labels_[i], Align::Center, s.labelX, s.labelY);
    QLabel* label = labels_[i];
    const int labelX = s.labelX, labelY = s.labelY;
    labels.add(kRoles[i], [label, labelX, labelY](const std::string& text) {
      setFittedText(label, QString::fromStdString(text), kLabelRoomPx);
      placeAligned(label, Align::Center, labelX, labelY);
    });
    for (QPushButton* b : {minus_[i], plus_[i]}) b->setFocusPolicy(Qt::NoFocus);
    connect(minus_[i], &QPushButton::clicked, this, [this, i] { step(i, -1); });
    connect(plus_[i], &QPushButton::clicked, this, [this, i] { step(i, +1); });
    boxes_[i]->installEventFilter(this);
  }
  // APPLY VR SETTINGS along the panel's bottom edge, inside it (a button hanging out of the
  // panel would lie over whatever is beside it).
  apply_ = new QPushButton("APPLY VR SETTINGS", this);
  apply_->setGeometry((kPanelWidth - kApplyWidth) / 2, kPanelHeight - kApplyHeight - kApplyBottomGap,
                      kApplyWidth, kApplyHeight);
  apply_->setFocusPolicy(Qt::NoFocus);
  setButtonLook(apply_, ButtonLook::Normal);
  labels.add(LabelRole::VrApply,
             [this](const std::string& text) { setFittedText(apply_, QString::fromStdString(text)); });
  connect(apply_, &QPushButton::clicked, this, &VrPanel::applySettings);
}

bool VrPanel::eventFilter(QObject* watched, QEvent* event) {
  // A click on a spin box itself is no button of the panel: it is only told.
  if (event->type() == QEvent::MouseButtonRelease) trace("Obj Not Found. \n");
  return QWidget::eventFilter(watched, event);
}

void VrPanel::readSettings() {
  for (int i = 0; i < kVrSettingCount; ++i) {
    const VrSetting& s = kVrSettings[i];
    const std::string text =
        config_.readText(kMonitorSection, s.key, std::to_string(s.fallback), kVrReadBuffer);
    trace(s.traceFormat, text.c_str());
    boxes_[i]->showValue(decimalValue(text));  // the box limits it to its range
  }
}

void VrPanel::step(int setting, int delta) {
  ValueBox* box = boxes_[setting];
  box->showValue(std::clamp(box->value() + delta, box->minimum(), box->maximum()));
}

void VrPanel::applySettings() {
  for (int i = 0; i < kVrSettingCount; ++i)
    config_.write(kMonitorSection, kVrSettings[i].key, std::to_string(boxes_[i]->value()));
  setButtonLook(apply_, ButtonLook::Normal);
  emit applied();
}

bool vrRuntimeOrTell(const std::function<void(const QString&, const QString&)>& box, int language) {
  if (vrRuntimeLoads()) return true;
  const std::string library = openVrLibrary();
  trace("\nSin runtime VR (%s): el monitor VR no arranca\n", library.c_str());
  if (box)
    box(QString::fromUtf8(helpText(HelpText::VrRuntimeMissing, language)).arg(QString::fromStdString(library)),
        QString::fromUtf8(helpText(HelpText::VrMonitorTitle, language)));
  return false;
}

}  // namespace tkb::ui
