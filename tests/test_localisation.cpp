// Language tables, the recolour markup and the manual names.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

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
