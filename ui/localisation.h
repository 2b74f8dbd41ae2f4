// The six interface languages: one LabelSet (a text per label role) and one WizardTexts
// (the calibration wizard's instructions) per language, as data, plus the LabelBoard that
// every page registers its localised labels with so that choosing a language relabels
// the main page, the VR panel and every page added later at once.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tkb::ui {

inline constexpr int kLanguageCount = 6;

// One role per row of the label table; several labels may share a role.
enum class LabelRole {
  OpenMonitor, CloseMonitor, OpenVrMonitor, CloseVrMonitor,
  VrSize, VrHorizontal, VrVertical, VrDepth, VrPitch, VrYaw, VrOpacity, VrApply,
  Language, Manual, Exit, ProSubtitle, CustomSubtitle, ActivatePro, ActivateCustom,
  ProApply, ProCancel, ProSave, ProLoad, ProApplied, ProSaved, ProLoaded, ProBrakeLimit,
  ProUpperZone, ProLowerZone, ProClose, ProCalibrate, ProNext, ProCalibrationSave,
  ProClutchTitle, ProBrakeTitle, ProThrottleTitle,
  CustomApply, CustomLoad, CustomSave, CustomDefaultAll, CustomClose, CustomDefault,
  CustomUpperZone, CustomLowerZone, CustomBrakeUpper, CustomAdjustmentArea,
  CustomThrottleTitle, CustomBrakeTitle, CustomClutchTitle,
  // Captions of the key-letter lists (both pages): the key for ABS, for the brake limit
  // "+" and "-", for the brake limiter "+" and "-" and for AutoBrake.
  KeyAbs, KeyPressPlus, KeyPressMinus, KeyLimiterPlus, KeyLimiterMinus, KeyAutoBrake,
  // The curve charts' tooltip: the keys that edit a curve.
  CustomChartKeys,
  // The preset list by each chart: its prompt, the presets (the wall's text takes the
  // travel as %1) and its tooltip.
  CustomPresetPrompt, CustomPresetLinear, CustomPresetProgressive, CustomPresetAggressive,
  CustomPresetSCurve, CustomPresetWall, CustomPresetTip,
  // The tooltip of the box a point's value is typed in; those of each chart's two marks:
  // its curve is not what the controller has stored, not what the last profile holds.
  CustomEntryKeys, CustomMarkNotStored, CustomMarkNotSaved,
  // The main page's button to the per-game profiles, and the games dialog: its title, the
  // table's two columns, the name box's prompt, its buttons, and why a name was refused.
  Games, GamesTitle, GamesColumnGame, GamesColumnProfile, GamesNamePrompt, GamesAdd, GamesRemove,
  GamesClose, GamesNameRefused,
  // The tray: the main page's switch for it; its menu (the profile in force, with the name
  // as %1; the recent profiles; the monitor; the window; exit); what it says the first time
  // closing the window leaves the program running.
  TraySetting, TrayProfile, TrayRecent, TrayMonitor, TrayShowWindow, TrayExit, TrayStillRunning,
  // The PRO page's SAVE whose file could not be written.
  ProNotSaved,
  // The CUSTOM page's brake stop row; the auto-brake captions of both pages (and the PRO
  // page's test button); the captions of the live input and output bars; the mark of an
  // active brake stop.
  BrakeLimiter, AutoBrakeCaption, BarIn, BarOut, BrakeStopOn,
  // Both pages: the heading of the columns of the last presses' peaks.
  PeaksHeading,
  // EXIT while a page is open asks first: the question (%1 the open page's close button)
  // and its two answers.
  ExitQuestion, ExitQuit, ExitStay,
  // The games dialog: what it does, in one line.
  GamesIntro,
  Count
};
inline constexpr int kLabelRoleCount = static_cast<int>(LabelRole::Count);

// The texts of one role in list order (English, Spanish, Italian, French, German,
// Portuguese), UTF-8.
using LabelTexts = std::array<const char*, kLanguageCount>;

// The text of a role in a language (index 0..5).
const char* labelText(LabelRole role, int language);

// The roles before this one are the described label set, whose texts stay as they are (a
// few read the same as in English); from this one on the texts are ours.
inline constexpr LabelRole kFirstOwnLabelRole = LabelRole::KeyAbs;

// Wizard steps: 0 start, 1 throttle, 2 brake, 3 clutch, 4 calibrated, 5 saved, and the
// note shown below the saved text. Texts may hold recolour markup ("#FF0000 red#").
enum class WizardText { Start, Throttle, Brake, Clutch, Calibrated, Saved, Note, Count };
const char* wizardText(WizardText text, int language);

// What the window says during a firmware update and after it. Writing and Verifying take
// the percentage as %1; the failures and SettingsRestored take their detail (the log
// file, the settings sent back) as %1.
enum class FirmwareText {
  Restarting, WaitingForBootloader, Writing, Verifying, WaitingForPedals, DoNotUnplug,
  ToolNotStarted, ToolFailed, StillOld, NotBack, BootloaderNotFound, SettingsUnread,
  SettingsRestored, Count
};
const char* firmwareText(FirmwareText text, int language);

// What the window says about the link to the pedal set: the start-up reads under way,
// a pedal set that stopped answering (with RETRY), and one that was unplugged.
enum class LinkText { Reading, NotAnswering, Disconnected, Retry, Busy, Count };
const char* linkText(LinkText text, int language);

// What the per-game profiles tell the driver, one text per GameNotice::Kind in its order:
// %1 the game, %2 the file, %3 the detail (in English, as the switcher gives it).
inline constexpr int kGameNoticeKinds = 7;
const char* gameNoticeText(int kind, int language);

// Why a profile file was not loaded, one text per reason in the order of
// ProfileRefusal::Reason (not a regular file, unreadable, damaged, a value out of range, a
// curve the editor could not make, a key missing, a value that is no number). %1 is the
// file, %2 the key and value at fault as "[SECTION] KEY=VALUE", %3 and %4 the range, %5 the
// key alone as "[SECTION] KEY".
inline constexpr int kProfileRefusalReasons = 7;
const char* profileRefusalText(int reason, int language);

// The language index of a name ("English" 0 ... "Portuguese" 5), compared exactly.
std::optional<int> languageIndex(const std::string& name);

// The manual of a language, relative to the working directory ("doc/en.pdf" ...).
std::optional<std::string> manualFile(const std::string& languageName);

// Where the labels of every page are reached when the language changes. A page registers
// each localised label once, with the function that shows a text on it.
class LabelBoard {
 public:
  using Setter = std::function<void(const std::string&)>;
  void add(LabelRole role, Setter setter);
  // Shows the set of one language on every registered label.
  void apply(int language) const;
  // For tests: how many labels a role reaches.
  int count(LabelRole role) const;

 private:
  std::vector<std::pair<LabelRole, Setter>> labels_;
};

}  // namespace tkb::ui
