// The recent profiles in config.ini: most recent first, each file once, at most five, files
// that are gone left out, and the kind a click will load each one as.
#include "app/recent_profiles.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace tkb {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

std::vector<std::string> names(const std::vector<RecentProfile>& entries) {
  std::vector<std::string> out;
  for (const RecentProfile& e : entries) out.push_back(std::filesystem::path(e.path).filename().string());
  return out;
}

class RecentProfilesTest : public ::testing::Test {
 protected:
  std::string profile(const std::string& name) {
    const std::string path = dir_.file(name);
    writeFile(path, "[BRAKE]\nUPPER DEAD ZONE=1\n");
    return path;
  }
  TempDir dir_;
  AppConfig config_{dir_.file("config.ini")};
  RecentProfiles recent_{config_};
};

TEST_F(RecentProfilesTest, MostRecentFirstOnceEachFiveAtMost) {
  for (const char* name : {"a.tkb", "b.tks", "c.tkb", "d.tkb", "e.tks", "f.tkb"}) recent_.add(profile(name), ProfileKind::Pro);
  EXPECT_EQ(names(recent_.files()), (std::vector<std::string>{"f.tkb", "e.tks", "d.tkb", "c.tkb", "b.tks"}));
  // Again, and under another spelling of the same path: moved to the front, not repeated.
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  recent_.add("./sub/../c.tkb", ProfileKind::Pro);
  EXPECT_EQ(names(recent_.files()), (std::vector<std::string>{"c.tkb", "f.tkb", "e.tks", "d.tkb", "b.tks"}));
  ASSERT_EQ(chdir("/"), 0);
}

TEST_F(RecentProfilesTest, FilesThatAreGoneAreLeftOutAndMakeRoom) {
  const std::string a = profile("a.tkb"), b = profile("b.tkb");
  recent_.add(a, ProfileKind::Pro);
  recent_.add(b, ProfileKind::Pro);
  std::filesystem::remove(a);
  std::filesystem::create_directory(dir_.file("folder.tkb"));
  recent_.add(dir_.file("folder.tkb"), ProfileKind::Pro);  // not a file: never listed
  EXPECT_EQ(names(recent_.files()), std::vector<std::string>{"b.tkb"});
  // A file that comes back under that name is listed again only once it is used again.
  profile("a.tkb");
  recent_.add(profile("c.tkb"), ProfileKind::Pro);
  EXPECT_EQ(names(recent_.files()), (std::vector<std::string>{"c.tkb", "b.tkb"}));
}

TEST_F(RecentProfilesTest, KindByExtensionElseAsUsed) {
  struct Case {
    const char* name;
    ProfileKind usedAs, expected;
  } cases[] = {
      {"race.tkb", ProfileKind::Sport, ProfileKind::Pro},
      {"RACE.TKS", ProfileKind::Pro, ProfileKind::Sport},
      {"race.v2", ProfileKind::Sport, ProfileKind::Sport},
      {"race", ProfileKind::Pro, ProfileKind::Pro},
  };
  for (const Case& c : cases) {
    recent_.add(profile(c.name), c.usedAs);
    ASSERT_FALSE(recent_.files().empty());
    EXPECT_EQ(recent_.files().front().kind, c.expected) << c.name;
  }
}

TEST_F(RecentProfilesTest, DamagedEntriesAndUnwritablePathsChangeNothing) {
  const std::string a = profile("a.tkb");
  writeFile(config_.path(), "[GENERAL]\nrecent1=pro|relative.tkb\nrecent2=bogus|" + a + "\nrecent3=" + a +
                                "\nrecent4=sport|" + a + "\n");
  ASSERT_EQ(recent_.files().size(), 1u);
  EXPECT_EQ(recent_.files()[0].kind, ProfileKind::Sport);
  // A name with a line break cannot be kept in config.ini: the list stays as it was.
  const std::string text = readFile(config_.path());
  EXPECT_FALSE(recent_.add(dir_.file("bad\nname.tkb"), ProfileKind::Pro));
  EXPECT_EQ(readFile(config_.path()), text);
}

}  // namespace
}  // namespace tkb
