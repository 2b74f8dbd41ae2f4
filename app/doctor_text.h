// The device doctor's words: every topic, finding and fix step it can name, as an id with
// its English text and the values that fill it (%1, %2). tkb-cli doctor prints the English;
// the window's diagnosis shows the same ids in the driver's language.
#pragma once

#include <string>
#include <vector>

namespace tkb {

enum class DoctorText {
  // What a finding is about.
  TopicSerialPort,  // %1 the port name, %2 its device path
  TopicSerialPorts, TopicRawHid, TopicKeyboard, TopicKeySource, TopicUdevRule, TopicModemManager,
  TopicSession, TopicVrRuntime, TopicAvrdude, TopicAvrdudeConfig, TopicFirmwareImage, TopicBaseFolder,
  // What was found (a finding's detail is one or more of these, joined by ", ").
  Value,  // %1 as it is: a path, a version
  UsbIds, UsbPedalSet, UsbBootloader, NoUsbIds, OtherDevice, InUseByUs, CanBeOpened,
  NoPermissionGroup, InUseByOther, InUseMaybeSearch, CannotOpen, NoSerialPort, NoHidraw,
  NodeReadable, NodeNoPermission, NodeCannotRead, NoKeyboardNode, KeysEvdev, KeysX11, KeysNone,
  RuleMissing, MmNotRunning, MmNoRule, MmRuleKeepsAway, MmKeptAwayFrom, MmMayProbe,
  SessionWaylandX, SessionWaylandOnly, SessionX11, SessionNone, Found, VrMissing, NotOnPath,
  NotFound, ImageMissing, NoHome, NotAFolder, NotWritable, Writable, MadeOnFirstStart,
  FollowsFrom,  // %1 the topic of the finding that names the cause
  // What to do (a fix step; its command, if any, is shown apart from the words).
  FixAccess, FixInstallRule, FixJoinGroup, FixCloseHolder, FixPlugIn, FixStopModemManager,
  FixInstallVr, FixInstallAvrdude, FixReinstallAvrdude, FixInstallAvrdudeAndBuild, FixPutImage,
  FixSetHome, FixMoveAway, FixTakeOwnership,
  Count
};
inline constexpr int kDoctorTextCount = static_cast<int>(DoctorText::Count);

// The English text of an id ("" out of range).
const char* englishDoctorText(DoctorText text);

// A text with its values.
struct Phrase {
  DoctorText text = DoctorText::Value;
  std::vector<std::string> args;
};

// One pass over a text: %1..%9 become the values (a value holding "%2" stays as it is); a
// number without its value stays as written.
std::string fillText(const std::string& text, const std::vector<std::string>& args);
std::string english(const Phrase& phrase);

}  // namespace tkb
