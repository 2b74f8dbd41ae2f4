// Language tables, the recolour markup and the manual names.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "ui/help_texts.h"
#include "ui/localisation.h"
#include "ui/widgets.h"

namespace tkb::ui {
namespace {

TEST(Localisation, EveryRoleHasSixDistinctlyLocalisedTexts) {
  for (int r = 0; r < kLabelRoleCount; ++r)
    for (int l = 0; l < kLanguageCount; ++l)
      EXPECT_GT(std::strlen(labelText(static_cast<LabelRole>(r), l)), 0u) << r << "/" << l;
  for (int t = 0; t < static_cast<int>(WizardText::Count); ++t)
    for (int l = 0; l < kLanguageCount; ++l)
      EXPECT_GT(std::strlen(wizardText(static_cast<WizardText>(t), l)), 0u);
  // Out of range asks give an empty text, never a stray pointer.
  EXPECT_STREQ(labelText(LabelRole::Count, 0), "");
  EXPECT_STREQ(labelText(LabelRole::Exit, 6), "");
  EXPECT_STREQ(wizardText(WizardText::Note, -1), "");
}

// Our own texts are translated: none reads as its English in another language unless the
// word is the same there.
TEST(Localisation, OwnTextsAreTranslated) {
  const std::set<std::pair<LabelRole, int>> sameWord = {
      {LabelRole::KeyAbs, 1},     {LabelRole::KeyAbs, 2},     {LabelRole::KeyAbs, 3},
      {LabelRole::KeyAbs, 4},     {LabelRole::KeyAbs, 5},     {LabelRole::CustomPresetLinear, 4},
      {LabelRole::CustomPresetLinear, 5}, {LabelRole::CustomPresetProgressive, 3}, {LabelRole::TrayMonitor, 1}, {LabelRole::TrayMonitor, 2},
      {LabelRole::TrayMonitor, 4}, {LabelRole::TrayMonitor, 5}};
  for (int r = static_cast<int>(kFirstOwnLabelRole); r < kLabelRoleCount; ++r)
    for (int l = 1; l < kLanguageCount; ++l) {
      const auto role = static_cast<LabelRole>(r);
      if (sameWord.count({role, l}) == 0) {
        EXPECT_STRNE(labelText(role, l), labelText(role, 0)) << r << "/" << l;
      }
    }
}

TEST(Localisation, SampledTextsAreWordForWord) {
  struct Row {
    LabelRole role;
    int language;
    const char* text;
  };
  const Row rows[] = {
      {LabelRole::Language, 4, "SPRACHE"},
      {LabelRole::Manual, 4, "HANDBUCH"},
      {LabelRole::CloseMonitor, 4, "MONITOR SCHLIEßEN"},
      {LabelRole::ProSubtitle, 0, "BASIC SETTINGS"},
      {LabelRole::CustomSubtitle, 3, "PARAMÀTRES AVANCÉS"},
      {LabelRole::ProApplied, 1, "¡AJUSTES APLICADOS!"},
      {LabelRole::ProClose, 0, "GO BACK"},
      {LabelRole::ProClose, 4, "SCHLIESSEN"},
      {LabelRole::CustomBrakeUpper, 2, "ZONA MORTA SUPERIORE"},
      {LabelRole::CustomAdjustmentArea, 3, "ZONE DÉAJUSTEMENT"},
      {LabelRole::VrApply, 5, "APLICAR DEFINIÇÕES VR"},
      {LabelRole::VrYaw, 4, "VERT.NEIG.:"},
      {LabelRole::CustomClutchTitle, 5, "EMBREAGEM"},
  };
  for (const Row& r : rows) EXPECT_STREQ(labelText(r.role, r.language), r.text);
  EXPECT_STREQ(wizardText(WizardText::Start, 0), "DO NOT PRESS ANY PEDAL AND PRESS \nNEXT.");
  EXPECT_STREQ(wizardText(WizardText::Saved, 5), "CONFIGURAÇÃO SALVADA.");
}

TEST(Localisation, LanguageNamesAndManuals) {
  const char* names[] = {"English", "Spanish", "Italian", "French", "German", "Portuguese"};
  const char* files[] = {"doc/en.pdf", "doc/es.pdf", "doc/it.pdf", "doc/fr.pdf", "doc/de.pdf", "doc/po.pdf"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(languageIndex(names[i]), i);
    EXPECT_EQ(manualFile(names[i]), files[i]);
  }
  for (const char* other : {"", "english", "Portuguese ", "Klingon"}) {
    EXPECT_EQ(languageIndex(other), std::nullopt) << other;
    EXPECT_EQ(manualFile(other), std::nullopt) << other;
  }
}

// The texts for a driver whose pedals do not work yet and the doctor's findings: in every
// language, each taking the values its English takes, and the buttons named in a sentence as
// those buttons read in that language.
TEST(Localisation, HelpAndDoctorTextsInEveryLanguage) {
  auto values = [](const std::string& text) {
    std::multiset<std::string> found;
    for (size_t i = 0; i + 1 < text.size(); ++i)
      if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9') found.insert(text.substr(i, 2));
    return found;
  };
  for (int l = 0; l < kLanguageCount; ++l) {
    for (int t = 0; t < kHelpTextCount; ++t) {
      const std::string text = helpText(static_cast<HelpText>(t), l);
      EXPECT_FALSE(text.empty()) << t << "/" << l;
      EXPECT_EQ(values(text), values(helpText(static_cast<HelpText>(t), 0))) << text;
    }
    for (int t = 0; t < kDoctorTextCount; ++t) {
      const std::string text = doctorText(static_cast<DoctorText>(t), l);
      EXPECT_FALSE(text.empty()) << t << "/" << l;
      EXPECT_EQ(values(text), values(englishDoctorText(static_cast<DoctorText>(t)))) << text;
    }
    const std::pair<HelpText, std::string> named[] = {
        {HelpText::SearchAdvice, helpText(HelpText::Diagnose, l)},
        {HelpText::SearchAdvice, helpText(HelpText::Demo, l)},
        {HelpText::SearchAccessAdvice, helpText(HelpText::AllowAccess, l)},
        {HelpText::JoystickRefused, helpText(HelpText::Diagnose, l)},
        {HelpText::JoystickRefused, helpText(HelpText::AllowAccess, l)},
        {HelpText::VrRuntimeMissing, labelText(LabelRole::OpenMonitor, l)}};
    for (const auto& [text, button] : named)
      EXPECT_NE(std::string(helpText(text, l)).find(button), std::string::npos) << button << " in " << helpText(text, l);
  }
  EXPECT_STREQ(helpText(HelpText::Count, 0), "");
  EXPECT_STREQ(doctorText(DoctorText::Count, 1), "");
}

TEST(Localisation, DesktopLocaleChoosesTheLanguage) {
  const std::pair<const char*, int> rows[] = {{"en_GB", 0}, {"es_MX", 1}, {"it_CH", 2}, {"fr_CA", 3},
                                              {"de_AT", 4}, {"pt_BR", 5}, {"nl_NL", 0}, {"C", 0}};
  for (const auto& [name, language] : rows) EXPECT_EQ(desktopLanguage(QLocale(name)), language) << name;
}

TEST(Localisation, LabelBoardReachesEveryRegisteredLabel) {
  LabelBoard board;
  std::string a, b, c;
  board.add(LabelRole::OpenMonitor, [&](const std::string& t) { a = t; });
  board.add(LabelRole::OpenMonitor, [&](const std::string& t) { b = t; });
  board.add(LabelRole::ProCancel, [&](const std::string& t) { c = t; });
  board.apply(2);
  EXPECT_EQ(a, "ATTIVARE MONITOR");
  EXPECT_EQ(b, "ATTIVARE MONITOR");
  EXPECT_EQ(c, "CANCELLARE");
  EXPECT_EQ(board.count(LabelRole::OpenMonitor), 2);
  EXPECT_EQ(board.count(LabelRole::Exit), 0);
}

TEST(Recolour, MarkupBecomesColouredRuns) {
  struct Row {
    const char* markup;
    const char* html;
  };
  const Row rows[] = {
      {"PLAIN TEXT", "PLAIN TEXT"},
      {"#FF0000 CALIBRATED PEDALS, #CHECK THE \nCALIBRATION",
       "<span style=\"color:#ff0000\">CALIBRATED PEDALS, </span>CHECK THE <br>CALIBRATION"},
      // A run left open ends with its line; the next line opens its own.
      {"GO #FF0000 NOW \n#00FF00 THEM.", "GO <span style=\"color:#ff0000\">NOW </span><br>"
                                         "<span style=\"color:#00ff00\">THEM.</span>"},
      {"A ## B", "A # B"},
      {"<b>&", "&lt;b&gt;&amp;"},
      {"#ZZZZZZ X#", "<span style=\"color:#000000\">X</span>"},
      {"ENDS #", "ENDS "},
      {"ÇÃO #0000FF Ñ#", "ÇÃO <span style=\"color:#0000ff\">Ñ</span>"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(recolourToRichText(r.markup).toStdString(), r.html) << r.markup;
}

}  // namespace
}  // namespace tkb::ui
