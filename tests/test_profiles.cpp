#include "app/profiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "link/protocol.h"
#include "memory_fixture.h"
#include "test_support.h"

namespace tkb {
namespace {

using emu::Bytes;
using test::MemoryController;
using test::hex;
using test::readFile;
using test::TempDir;
using test::TraceCapture;
using test::writeFile;

TEST(ProfileNameFromPath, TakesTheLastComponentUpToItsFirstDot) {
  const struct {
    const char* path;
    const char* fromSeparator;
    const char* name;
  } cases[] = {
      {"C:\\tkb\\My set.tkb", "\\My set.tkb", "My set"},
      {"/home/u/tkb/My set.tkb", "/My set.tkb", "My set"},
      {"/home/u/tkb/a.b.tks", "/a.b.tks", "a"},
      {"/home/u/tkb/Race setup.old.tkb", "/Race setup.old.tkb", "Race setup"},
      {"/home/u/tkb/.tkb", "/.tkb", ""},
      {"/home/u/v1.2/noext", "/noext", "noext"},  // a dot before the last separator does not count
      {"plain.tks", "plain.tks", "plain"},
      {"/home/u/tkb/", "/", ""},
      // Control bytes of a file name never reach config.ini or the controller.
      {"/home/u/tkb/race\n[MONITOR]\nenable_vr=1.tkb", "/race\n[MONITOR]\nenable_vr=1.tkb",
       "race[MONITOR]enable_vr=1"},
      {"/home/u/tkb/\tcr\rdel\x7f.tks", "/\tcr\rdel\x7f.tks", "crdel"},
  };
  for (const auto& c : cases) {
    const ProfilePathName parts = profileNameFromPath(c.path);
    EXPECT_EQ(parts.fromSeparator, c.fromSeparator) << c.path;
    EXPECT_EQ(parts.name, c.name) << c.path;
    EXPECT_EQ(parts.perfil, std::string("\\") + c.name) << c.path;
  }
}

TEST(ProfileNameFromPath, CutsLongNamesTo48Characters) {
  const std::string name60(60, 'n');
  EXPECT_EQ(profileNameFromPath("/x/" + name60 + ".tkb").name, std::string(48, 'n'));
  const std::string name48 = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKL";
  EXPECT_EQ(profileNameFromPath("/x/" + name48 + ".tkb").name, name48);
}

TEST(ProfileDialogs, FiltersFolderAndSuffix) {
  const FileDialogRequest proSave = profileDialogRequest(ProfileKind::Pro, true);
  EXPECT_TRUE(proSave.save);
  EXPECT_EQ(proSave.nameFilters(), "TKB Pro Profile (*.tkb);;All (*.*)");
  EXPECT_EQ(proSave.initialFolder, "./tkb/");
  EXPECT_EQ(proSave.defaultSuffix, "tkb");
  const FileDialogRequest sportLoad = profileDialogRequest(ProfileKind::Sport, false);
  EXPECT_FALSE(sportLoad.save);
  EXPECT_EQ(sportLoad.nameFilters(), "TKB Sport Profile (*.tks);;All (*.*)");
  EXPECT_EQ(sportLoad.defaultSuffix, "");
  EXPECT_EQ(profileDialogRequest(ProfileKind::Sport, true).defaultSuffix, "tks");
}

class ScriptedChooser : public ProfileFileChooser {
 public:
  std::optional<std::string> choose(const FileDialogRequest& request) override {
    requests.push_back(request);
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::deque<std::optional<std::string>> answers;
  std::vector<FileDialogRequest> requests;
};

// Records every page update as one line.
class RecordingPages : public ProfilePages {
 public:
  void setProfileLabel(const std::string& text) override { calls.push_back("label " + text); }
  void showLoad(ProfileKind kind, bool loaded) override {
    calls.push_back(std::string(loaded ? "loaded " : "cancelled ") + (kind == ProfileKind::Pro ? "pro" : "sport"));
  }
  Curve chartPoints(Pedal pedal) const override { return charts[pedalIndex(pedal)]; }
  std::vector<std::string> calls;
  Curve charts[3]{};
};

Bytes value(uint8_t code, int v) { return encodeValueFrame(code, v); }

// The six zone frames in the order the pages send them: clutch, brake, throttle, upper first.
std::vector<Bytes> zoneFrames(int clutchUpper, int clutchLower, int brakeUpper, int brakeLower, int throttleUpper,
                              int throttleLower) {
  return {value(value::kZonaSuperiorEmbrague, clutchUpper),   value(value::kZonaInferiorEmbrague, clutchLower),
          value(value::kZonaSuperiorFreno, brakeUpper),       value(value::kZonaInferiorFreno, brakeLower),
          value(value::kZonaSuperiorAcelerador, throttleUpper), value(value::kZonaInferiorAcelerador, throttleLower)};
}
void append(std::vector<Bytes>& to, const std::vector<Bytes>& frames) { to.insert(to.end(), frames.begin(), frames.end()); }
Bytes profileFrame(uint8_t code, const std::string& name) { return encodeProfileFrame(code, makeProfileName(name)); }

std::vector<Bytes> namingFrames(const std::string& pro, const std::string& sport) {
  return {profileFrame(block::kPerfilPro, pro), profileFrame(block::kPerfilSport, sport),
          encodeFixed(fixed::kSetPerfilSport), encodeFixed(fixed::kSetPerfilPro)};
}

class ProfilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(link.connect());
    ControllerState& s = link.controller.state;
    s.clutchUpper = 95, s.clutchLower = 3, s.brakeUpper = 80, s.brakeLower = 2;
    s.throttleUpper = 97, s.throttleLower = 1, s.brakeMax = 85;
    s.cheto = 70, s.autoBrake = 1;
    s.proProfileActive = true, s.sportProfileActive = false;
    s.known = FieldSet::all();  // as after start-up reads that all got their reply
    for (int i = 0; i < kCurvePoints; ++i) {
      pages.charts[0][i] = i * 10;
      pages.charts[1][i] = i * (20 - i);
      pages.charts[2][i] = i * i;
    }
    // The saves create "opt" in the current folder: run them in the test's own folder.
    previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
  }
  void TearDown() override { std::filesystem::current_path(previous); }

  std::string path(const std::string& name) { return dir.file(name); }

  TempDir dir;
  MemoryController link;
  ScriptedChooser chooser;
  RecordingPages pages;
  Profiles profiles{link.controller, chooser, pages};
  std::filesystem::path previous;
};

TEST_F(ProfilesTest, ProSaveWritesTheZonesAndNamesTheProfile) {
  TraceCapture traces;
  chooser.answers = {path("My set.tkb")};
  profiles.GuardarPerfilPro();

  EXPECT_EQ(readFile(path("My set.tkb")),
            "[ACCELERATOR]\nUPPER DEAD ZONE=97\nLOWER DEAD ZONE=1\n\n"
            "[CLUTCH]\nUPPER DEAD ZONE=95\nLOWER DEAD ZONE=3\n\n"
            "[BRAKE]\nUPPER DEAD ZONE=80\nBRAKE LIMITER=85\nLOWER DEAD ZONE=2\n");
  const auto expected = namingFrames("My set", "Default");
  const auto frames = link.frames();
  EXPECT_EQ(frames, expected) << hex(frames);
  EXPECT_EQ(profiles.PerfilActual(), "\\My set");
  EXPECT_EQ(pages.calls, std::vector<std::string>{"label Profile: My set"});
  ASSERT_EQ(chooser.requests.size(), 1u);
  EXPECT_TRUE(chooser.requests[0].save);
  EXPECT_EQ(chooser.requests[0].defaultSuffix, "tkb");

  const std::string expectedTrace = "\nGuardar zones PRO pressed - Inicio" "Directory created\n"
                                    "\nOrig-> " + path("My set.tkb") + "\n1 Proc-> /My set.tkb"
                                    "\nPre fin -> \\My set\nFin -> My set";
  const std::string text = traces.text();
  EXPECT_EQ(text.find(expectedTrace), 0u) << text;
  EXPECT_NE(text.find("\nGuardar zones PRO pressed - Final\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "opt"));
}

TEST_F(ProfilesTest, SaveToAReadOnlyFileFailsAndNamesNothing) {
  writeFile(path("locked.tks"), "[BRAKE]\nAUTO=0\n");
  ::chmod(path("locked.tks").c_str(), 0444);
  chooser.answers = {path("locked.tks"), path("locked.tks")};
  TraceCapture traces;
  EXPECT_FALSE(profiles.GuardarPerfilSport());
  EXPECT_FALSE(profiles.GuardarPerfilPro());
  EXPECT_EQ(readFile(path("locked.tks")), "[BRAKE]\nAUTO=0\n");
  EXPECT_NE(traces.text().find("\nProfile not saved -> " + path("locked.tks")), std::string::npos);
  EXPECT_TRUE(link.frames().empty()) << "the controller is not told a name no file holds";
  EXPECT_TRUE(pages.calls.empty());
  EXPECT_EQ(profiles.PerfilActual(), "\\Default");
}

TEST_F(ProfilesTest, SettingsFolderIsMadeOnTheFirstSaveOfEachKindOnly) {
  TraceCapture traces;
  profiles.GuardarPerfilPro();    // cancelled: the folder is still made
  profiles.GuardarPerfilPro();    // not again
  profiles.GuardarPerfilSport();  // the sport kind has its own first save; the folder exists
  EXPECT_EQ(traces.text(),
            "\nGuardar zones PRO pressed - InicioDirectory created\n\nGuardar zones PRO pressed - Final\n"
            "\nGuardar zones PRO pressed - Inicio\nGuardar zones PRO pressed - Final\n"
            "\nGuardar button pressed SPORT -- Inicio\nUnable to create directory 0\n"
            "\nGuardar button pressed SPORT -- Final\n");
  EXPECT_TRUE(link.frames().empty());
  EXPECT_TRUE(pages.calls.empty());
}

TEST_F(ProfilesTest, ProSaveOverASportFileKeepsItsOtherKeys) {
  writeFile(path("race.tks"),
            "[ACCELERATOR]\r\nUPPER DEAD ZONE=50\r\nACCELERATOR_CURVE_0=7\r\n"
            "[BRAKE]\r\nBRAKE STOP=60\r\nAUTO=1\r\nUPPER DEAD ZONE=40\r\nBRAKE_CURVE_10=99\r\n");
  chooser.answers = {path("race.tks")};
  profiles.GuardarPerfilPro();
  const IniValues file = AppConfig(path("race.tks"), AppConfig::Locking::None).load();
  EXPECT_EQ(file.readInt("ACCELERATOR", "UPPER DEAD ZONE", -1), 97);
  EXPECT_EQ(file.readInt("BRAKE", "UPPER DEAD ZONE", -1), 80);
  EXPECT_EQ(file.readInt("CLUTCH", "LOWER DEAD ZONE", -1), 3);
  EXPECT_EQ(file.readInt("ACCELERATOR", "ACCELERATOR_CURVE_0", -1), 7);
  EXPECT_EQ(file.readInt("BRAKE", "BRAKE STOP", -1), 60);
  EXPECT_EQ(file.readInt("BRAKE", "AUTO", -1), 1);
  EXPECT_EQ(file.readInt("BRAKE", "BRAKE_CURVE_10", -1), 99);
}

TEST_F(ProfilesTest, LongNameIsCutAndTheControllerGetsItsFirst15Bytes) {
  const std::string longName(60, 'L');
  chooser.answers = {path(longName + ".tkb")};
  profiles.GuardarPerfilPro();
  EXPECT_EQ(profiles.currentProfileName(), std::string(48, 'L'));
  EXPECT_EQ(pages.calls.back(), "label Profile: " + std::string(48, 'L'));
  const auto expected = namingFrames(std::string(15, 'L'), "Default");
  EXPECT_EQ(link.frames(), expected);
  EXPECT_EQ(profileNameText(link.controller.state.proProfileName), std::string(15, 'L'));
}

TEST_F(ProfilesTest, SportSaveWritesEveryKeyAndTakesTheCurvesFromTheCharts) {
  chooser.answers = {path("race.tks")};
  profiles.GuardarPerfilSport();
  const std::string text = readFile(path("race.tks"));
  const IniValues file = AppConfig(path("race.tks"), AppConfig::Locking::None).load();
  EXPECT_EQ(file.readInt("BRAKE", "BRAKE STOP", -1), 70);
  EXPECT_EQ(file.readInt("BRAKE", "AUTO", -1), 1);
  EXPECT_EQ(file.readInt("BRAKE", "BRAKE LIMITER", -1), 85);
  for (int i = 0; i < kCurvePoints; ++i) {
    EXPECT_EQ(file.readInt("CLUTCH", "CLUTCH_CURVE_" + std::to_string(i), -1), i * 10);
    EXPECT_EQ(file.readInt("BRAKE", "BRAKE_CURVE_" + std::to_string(i), -1), i * (20 - i));
    EXPECT_EQ(file.readInt("ACCELERATOR", "ACCELERATOR_CURVE_" + std::to_string(i), -1), i * i);
  }
  // Sections in the order of first writing; within BRAKE the values before the curve.
  EXPECT_LT(text.find("[ACCELERATOR]"), text.find("[CLUTCH]"));
  EXPECT_LT(text.find("[CLUTCH]"), text.find("[BRAKE]"));
  EXPECT_LT(text.find("AUTO=1"), text.find("BRAKE_CURVE_0="));
  EXPECT_LT(text.find("BRAKE_CURVE_9="), text.find("BRAKE_CURVE_10="));
  EXPECT_EQ(link.controller.state.brakeCurve, pages.charts[1]);
  const auto expected = namingFrames("Default", "race");
  EXPECT_EQ(link.frames(), expected);
  EXPECT_EQ(profiles.PerfilActual(), "\\race");
}

TEST_F(ProfilesTest, BrakeLimiterIsWrittenUnsigned) {
  link.controller.state.brakeMax = -1;
  chooser.answers = {path("u.tkb")};
  profiles.GuardarPerfilPro();
  EXPECT_EQ(AppConfig(path("u.tkb")).readInt("BRAKE", "BRAKE LIMITER", 0), 65535);
}

std::string sportFile(const std::string& values,
                      const std::string& clutchCurve = "0,10,20,30,40,50,60,70,80,90,100");

// A PRO file with all seven keys at 0 after `first` (a key's first occurrence counts).
std::string proFile(const std::string& first = "") {
  return first +
         "[ACCELERATOR]\nUPPER DEAD ZONE=0\nLOWER DEAD ZONE=0\n[CLUTCH]\nUPPER DEAD ZONE=0\nLOWER DEAD ZONE=0\n"
         "[BRAKE]\nUPPER DEAD ZONE=0\nBRAKE LIMITER=0\nLOWER DEAD ZONE=0\n";
}

TEST_F(ProfilesTest, ProLoadPutsTheFileIntoStateAndSendsTheZonesAsThePageDoes) {
  // As written by the Windows program or by hand, with a limiter beyond 16 bits and values
  // read by their leading number (quotes taken off as the Windows reader does).
  writeFile(path("Win.tkb"),
            "[accelerator]\r\nupper dead zone = 90\r\nLOWER DEAD ZONE=\"4\"\r\n"
            "[Clutch]\r\nUpper Dead Zone=88\r\nLower Dead Zone=0x40\r\n"
            "[BRAKE]\r\nUPPER DEAD ZONE=75\r\nBRAKE LIMITER=65621\r\nLOWER DEAD ZONE=6junk\r\n");
  TraceCapture traces;
  chooser.answers = {path("Win.tkb")};
  const int brakeStop = link.controller.state.cheto;
  profiles.CargarPerfilPro();

  const ControllerState& s = link.controller.state;
  EXPECT_EQ(s.throttleUpper, 90);
  EXPECT_EQ(s.throttleLower, 4);
  EXPECT_EQ(s.clutchUpper, 88);
  EXPECT_EQ(s.clutchLower, 0);  // 0x40
  EXPECT_EQ(s.brakeUpper, 75);
  EXPECT_EQ(s.brakeMax, 85);  // low 16 bits of 65621
  EXPECT_EQ(s.brakeLower, 6);
  EXPECT_EQ(s.cheto, brakeStop);  // a PRO file has no brake stop: it stays as it was
  EXPECT_EQ(pages.calls, (std::vector<std::string>{"label Profile: Win", "loaded pro"}));
  // The PRO page's spin boxes send every zone; CUSTOM is not active, its page sends nothing.
  auto expected = namingFrames("Win", "Default");
  append(expected, zoneFrames(88, 0, 75, 6, 90, 4));
  const auto frames = link.frames();
  EXPECT_EQ(frames, expected) << hex(frames);
  EXPECT_EQ(profiles.PerfilActual(), "\\Win");
  EXPECT_EQ(traces.text().find("\nCargar zones PRO pressed - Inicio\nFin -> Win\nMandarPerfilPro"), 0u)
      << traces.text();
  EXPECT_FALSE(chooser.requests.at(0).save);
  EXPECT_EQ(chooser.requests.at(0).defaultSuffix, "");
}

TEST_F(ProfilesTest, ProLoadShowsBrakeUpperZeroWhenTheLimiterIsZero) {
  writeFile(path("z.tkb"), proFile("[BRAKE]\nUPPER DEAD ZONE=75\n"));
  chooser.answers = {path("z.tkb")};
  profiles.CargarPerfilPro();
  auto expected = namingFrames("z", "Default");
  append(expected, zoneFrames(0, 0, 0, 0, 0, 0));
  const auto frames = link.frames();
  EXPECT_EQ(frames, expected) << hex(frames);
  EXPECT_EQ(link.controller.state.brakeUpper, 0);
  // A sport file opened here brings its own brake stop.
  writeFile(path("s.tks"), sportFile("BRAKE STOP=40\n"));
  chooser.answers = {path("s.tks")};
  profiles.CargarPerfilPro();
  EXPECT_EQ(link.controller.state.cheto, 40);
}

// A sport file with every key: `values` under [BRAKE] first (they may open other sections),
// the curves (the clutch curve given as text, 11 points), then every value key not given at 0.
std::string sportFile(const std::string& values,
                      const std::string& clutchCurve) {
  std::string file = "[BRAKE]\n" + values;
  const char* keys[] = {"CLUTCH_CURVE_", "BRAKE_CURVE_", "ACCELERATOR_CURVE_"};
  const char* sections[] = {"CLUTCH", "BRAKE", "ACCELERATOR"};
  for (int pedal = 0; pedal < 3; ++pedal) {
    file += std::string("[") + sections[pedal] + "]\n";
    std::string points = pedal == 0 ? clutchCurve : "0,10,20,30,40,50,60,70,80,90,100";
    for (int i = 0; i < kCurvePoints; ++i) {
      const size_t comma = points.find(',');
      file += keys[pedal] + std::to_string(i) + "=" + points.substr(0, comma) + "\n";
      points = comma == std::string::npos ? "" : points.substr(comma + 1);
    }
  }
  return proFile(file + "[BRAKE]\nBRAKE STOP=0\nAUTO=0\n");
}

TEST_F(ProfilesTest, ValuesAreReadThroughTheirBuffers) {
  // Value keys: 19 characters; curve keys: 9 characters.
  writeFile(path("long.tks"),
            sportFile("AUTO=1\n[CLUTCH]\nUPPER DEAD ZONE=0000000000000000042\nLOWER DEAD ZONE=00000000000000000042\n",
                      "0,0000000042,50,60,70,75,80,85,90,95,100"));
  chooser.answers = {path("long.tks")};
  EXPECT_FALSE(profiles.CargarPerfilSport());
  EXPECT_EQ(link.controller.state.clutchUpper, 42);
  EXPECT_EQ(link.controller.state.clutchLower, 4);
  EXPECT_EQ(link.controller.state.clutchCurve[1], 4);
}

// A file is loaded whole or not at all: nothing sent, nothing named, the state as it was.
// Each key the save of the file's kind writes must be there and hold a number: the reader's
// 0 for anything else would reach the pedals as a dead zone of 0.
TEST_F(ProfilesTest, FilesIncompleteDamagedOrOutOfRangeAreRefusedWhole) {
  using Reason = ProfileRefusal::Reason;
  const std::string data = std::string(std::getenv("TKB_TEST_DATA")) + "/profiles/";
  writeFile(path("zone-101.tkb"), proFile("[BRAKE]\nUPPER DEAD ZONE=101\n"));
  writeFile(path("curve-falls.tks"), sportFile("AUTO=0\n", "0,10,20,30,25,50,60,70,80,90,100"));
  std::string pointMissing = sportFile("AUTO=0\n", "0,10,20,30,40,50,60,70,80,90");
  pointMissing.erase(pointMissing.find("CLUTCH_CURVE_10=\n"), 17);
  writeFile(path("curve-point-missing.tks"), pointMissing);
  writeFile(path("auto-2.tks"), sportFile("AUTO=2\n"));
  writeFile(path("auto-empty.tks"), sportFile("AUTO=\n"));
  std::filesystem::create_directory(path("folder.tkb"));
  ASSERT_EQ(::mkfifo(path("fifo.tks").c_str(), 0600), 0);
  const struct {
    std::string file;
    bool sport;
    Reason reason;
    const char* section;  // the key named, or empty
    const char* key;
  } cases[] = {
      {path("zone-101.tkb"), false, Reason::OutOfRange, "BRAKE", "UPPER DEAD ZONE"},
      {data + "zone-minus-one-sent-as-ff.tkb", false, Reason::OutOfRange, "CLUTCH", "LOWER DEAD ZONE"},
      {data + "brake-limiter-70000.tks", true, Reason::OutOfRange, "BRAKE", "BRAKE LIMITER"},
      {data + "brake-limiter-70000.tks", false, Reason::OutOfRange, "BRAKE", "BRAKE LIMITER"},
      {data + "curve-points-out-of-range.tks", true, Reason::OutOfRange, "BRAKE", "BRAKE STOP"},
      {data + "numbers-beyond-int-range.tks", true, Reason::OutOfRange, "ACCELERATOR", "UPPER DEAD ZONE"},
      {data + "binary-garbage-with-zero-bytes.tks", true, Reason::Damaged, "", ""},
      {data + "empty-file-sent-as-zero-zones.tkb", false, Reason::MissingKey, "ACCELERATOR", "UPPER DEAD ZONE"},
      {data + "random-bytes-sent-as-zero-zones.tkb", false, Reason::MissingKey, "ACCELERATOR", "UPPER DEAD ZONE"},
      {data + "keys-without-a-section.tkb", false, Reason::MissingKey, "ACCELERATOR", "UPPER DEAD ZONE"},
      {data + "unclosed-brake-section.tkb", false, Reason::MissingKey, "BRAKE", "UPPER DEAD ZONE"},
      {data + "brake-upper-abc.tkb", false, Reason::NotANumber, "BRAKE", "UPPER DEAD ZONE"},
      {data + "brake-lower-empty.tkb", false, Reason::NotANumber, "BRAKE", "LOWER DEAD ZONE"},
      {data + "brake-stop-without-digits.tkb", false, Reason::NotANumber, "BRAKE", "BRAKE STOP"},
      // A PRO file has no brake stop, auto-brake nor curves: as a sport profile it would send
      // three flat curves.
      {data + "pro-file-opened-as-sport.tkb", true, Reason::MissingKey, "BRAKE", "BRAKE STOP"},
      {path("curve-falls.tks"), true, Reason::BadCurve, "CLUTCH", "CLUTCH_CURVE_4"},
      {path("curve-point-missing.tks"), true, Reason::MissingKey, "CLUTCH", "CLUTCH_CURVE_10"},
      {path("auto-2.tks"), true, Reason::OutOfRange, "BRAKE", "AUTO"},
      {path("auto-empty.tks"), true, Reason::NotANumber, "BRAKE", "AUTO"},
      {path("folder.tkb"), false, Reason::NotRegularFile, "", ""},
      {path("fifo.tks"), true, Reason::NotRegularFile, "", ""},
      {path("missing.tkb"), false, Reason::Unreadable, "", ""},
  };
  const ControllerState before = link.controller.state;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    chooser.answers = {c.file};
    const auto refusal = c.sport ? profiles.CargarPerfilSport() : profiles.CargarPerfilPro();
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(refusal->reason, c.reason);
    EXPECT_EQ(refusal->section, c.section);
    EXPECT_EQ(refusal->key, c.key);
    if (*c.key != '\0') {
      const std::string named = c.reason == Reason::MissingKey
                                    ? "[" + std::string(c.section) + "] " + c.key
                                    : std::string(c.key) + "=" + refusal->value;
      EXPECT_NE(refusal->message().find(named), std::string::npos) << refusal->message();
    }
    EXPECT_EQ(link.controller.state, before);
  }
  EXPECT_TRUE(link.frames().empty()) << hex(link.frames());
  EXPECT_TRUE(pages.calls.empty());
  EXPECT_EQ(profiles.PerfilActual(), "\\Default");
}

// A save writes nothing while a value it would hold is unknown, and leaves an old file as it was.
TEST_F(ProfilesTest, SaveWithAnUnknownValueWritesNothing) {
  writeFile(path("old.tks"), "[BRAKE]\nAUTO=1\n");
  link.controller.state.known.remove(Field::BrakeCurve);
  chooser.answers = {path("old.tks"), path("new.tkb")};
  pages.charts[1] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8};  // not a curve the editor makes
  EXPECT_FALSE(profiles.GuardarPerfilSport());
  EXPECT_EQ(readFile(path("old.tks")), "[BRAKE]\nAUTO=1\n");
  link.controller.state.known.remove(Field::BrakeMax);
  EXPECT_FALSE(profiles.GuardarPerfilPro());
  EXPECT_FALSE(std::filesystem::exists(path("new.tkb")));
  EXPECT_TRUE(link.frames().empty());
}

TEST_F(ProfilesTest, SportLoadSendsAutoBrakeBrakeStopAndActivatesCustomMode) {
  std::string file = "[ACCELERATOR]\r\nUPPER DEAD ZONE = 91\r\nLOWER DEAD ZONE = 2\r\n"
                     "[CLUTCH]\r\nUPPER DEAD ZONE=92\r\nLOWER DEAD ZONE=3\r\n"
                     "[BRAKE]\r\nUPPER DEAD ZONE=81\r\nBRAKE LIMITER=88\r\nLOWER DEAD ZONE=4\r\n"
                     "BRAKE STOP=65\r\nAUTO=1\r\n";
  Curve clutch{}, brake{}, throttle{};
  std::string clutchKeys = "[CLUTCH]\r\n", throttleKeys = "[ACCELERATOR]\r\n";
  for (int i = 0; i < kCurvePoints; ++i) {
    clutch[i] = i * 10, brake[i] = i * (20 - i), throttle[i] = i * i;
    clutchKeys += "CLUTCH_CURVE_" + std::to_string(i) + "=" + std::to_string(clutch[i]) + "\r\n";
    file += "brake_curve_" + std::to_string(i) + "=" + std::to_string(brake[i]) + "\r\n";
    throttleKeys += "Accelerator_Curve_" + std::to_string(i) + " = " + std::to_string(throttle[i]) + "\r\n";
  }
  file += clutchKeys + throttleKeys;  // sections may appear twice: their keys add up
  writeFile(path("Race.tks"), file);
  TraceCapture traces;
  chooser.answers = {path("Race.tks")};
  profiles.CargarPerfilSport();

  const ControllerState& s = link.controller.state;
  EXPECT_EQ(s.cheto, 65);
  EXPECT_EQ(s.chetoActive, 1);
  EXPECT_EQ(s.autoBrake, 1);
  EXPECT_EQ(s.clutchCurve, clutch);
  EXPECT_EQ(s.brakeCurve, brake);
  EXPECT_EQ(s.throttleCurve, throttle);
  EXPECT_TRUE(s.sportProfileActive);
  EXPECT_FALSE(s.proProfileActive);
  EXPECT_TRUE(s.zonesEnabled);
  EXPECT_EQ(profiles.PerfilActual(), "\\Default");  // a sport load keeps the current name

  std::vector<Bytes> expected = namingFrames("Default", "Race");
  expected.push_back(value(value::kAutoBrake, 1));
  append(expected, zoneFrames(92, 3, 81, 4, 91, 2));  // the PRO page's spin boxes
  // CUSTOM was not active, so its page did not send the loaded brake stop.
  expected.push_back(value(value::kCheto, 65));
  expected.push_back(value(value::kChetoActivo, 1));
  expected.push_back(value(value::kConfigZonas, 1));
  expected.push_back(value(value::kConfigSportActivado, 1));
  expected.push_back(encodeCurveFrame(block::kCurvaEmbrague, clutch));
  expected.push_back(encodeCurveFrame(block::kCurvaFreno, brake));
  expected.push_back(encodeCurveFrame(block::kCurvaAcelerador, throttle));
  const auto frames = link.frames();
  EXPECT_EQ(frames, expected) << hex(frames);

  EXPECT_EQ(pages.calls, (std::vector<std::string>{"label Profile: Race", "loaded sport"}));
  const std::string text = traces.text();
  EXPECT_EQ(text.find("\nCargar button pressed SPORT -- Inicio\n"), 0u);
  EXPECT_NE(text.find("\nCargar button pressed SPORT -- Final\n"), std::string::npos);
  EXPECT_EQ(text.find("Fin -> "), std::string::npos);  // the sport load names without traces
}

TEST_F(ProfilesTest, SportLoadInCustomModeSendsTheCustomPagesZonesAndBrakeStop) {
  link.controller.state.sportProfileActive = true;
  writeFile(path("s.tks"), sportFile("BRAKE STOP=100\nLOWER DEAD ZONE=5\n"));
  chooser.answers = {path("s.tks")};
  profiles.CargarPerfilSport();
  const Curve line{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  std::vector<Bytes> expected = namingFrames("Default", "s");
  expected.push_back(value(value::kAutoBrake, 0));
  append(expected, zoneFrames(0, 0, 0, 5, 0, 0));   // the CUSTOM page's, then its brake stop
  expected.push_back(value(value::kCheto, 100));
  expected.push_back(value(value::kChetoActivo, 0));
  append(expected, zoneFrames(0, 0, 0, 5, 0, 0));  // the PRO page's
  expected.push_back(value(value::kConfigZonas, 1));
  expected.push_back(value(value::kConfigSportActivado, 1));
  expected.push_back(encodeCurveFrame(block::kCurvaEmbrague, line));
  expected.push_back(encodeCurveFrame(block::kCurvaFreno, line));
  expected.push_back(encodeCurveFrame(block::kCurvaAcelerador, line));
  const auto frames = link.frames();
  EXPECT_EQ(frames, expected) << hex(frames);
  EXPECT_EQ(pages.calls.back(), "loaded sport");
  EXPECT_EQ(link.controller.state.autoBrake, 0);
  EXPECT_EQ(link.controller.state.chetoActive, 0);
}

TEST_F(ProfilesTest, CancelledSportLoadStillActivatesCustomModeWithTheStateCurves) {
  ControllerState& s = link.controller.state;
  for (int i = 0; i < kCurvePoints; ++i) s.clutchCurve[i] = s.brakeCurve[i] = s.throttleCurve[i] = i * 10;
  s.chetoActive = 1;
  profiles.CargarPerfilSport();
  const std::vector<Bytes> expected = {value(value::kConfigZonas, 1), value(value::kConfigSportActivado, 1),
                                       encodeCurveFrame(block::kCurvaEmbrague, s.clutchCurve),
                                       encodeCurveFrame(block::kCurvaFreno, s.brakeCurve),
                                       encodeCurveFrame(block::kCurvaAcelerador, s.throttleCurve)};
  const auto frames = link.frames();
  EXPECT_EQ(frames, expected) << hex(frames);
  EXPECT_EQ(pages.calls, std::vector<std::string>{"cancelled sport"});
}

TEST_F(ProfilesTest, CancelledDialogsChangeNothing) {
  const ControllerState before = link.controller.state;
  profiles.GuardarPerfilPro();
  profiles.CargarPerfilPro();
  profiles.GuardarPerfilSport();
  EXPECT_TRUE(link.frames().empty());
  EXPECT_TRUE(pages.calls.empty());
  EXPECT_EQ(link.controller.state.brakeCurve, before.brakeCurve);
  EXPECT_EQ(profiles.PerfilActual(), "\\Default");
}

TEST_F(ProfilesTest, ApplyRecordsTheLastSavedOrProLoadedName) {
  chooser.answers = {path("Mine.tkb"), path("Other.tks")};
  profiles.GuardarPerfilPro();
  writeFile(path("Other.tks"), sportFile("AUTO=0\n"));
  profiles.CargarPerfilSport();
  std::filesystem::create_directories(dir.path() / "base" / "opt");
  TraceCapture traces;
  profiles.recordActiveProfile(path("base"));
  const AppConfig config(path("base") + "/opt/config.ini");
  EXPECT_EQ(config.readText("GENERAL", "file", ""), "Mine");
  EXPECT_EQ(config.readText("GENERAL", "mod", ""), "0");
  EXPECT_EQ(traces.text(), "\nPre guardado -> \\Mine\nDonde se guardara -> " + path("base") +
                               "/opt/config.ini\nLo que se guardara -> Mine");
  recordDefaultProfile(path("base"));
  EXPECT_EQ(config.readText("GENERAL", "file", ""), "Default");
}

}  // namespace
}  // namespace tkb
