// The converter chosen in the window, kept for the next start: where the
// settings file is, that writing the choice keeps the file's other lines
// and makes its folders, and that a kept choice is taken at start only for
// a converter that is attached.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/cableChoice.h"

namespace {

class CableChoice : public testing::Test {
 protected:
  std::string dir;
  std::string savedConfig, savedHome;
  bool hadConfig = false, hadHome = false;
  void SetUp() override {
    char tmpl[] = "/tmp/tern_choice_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    hadConfig = getenv("XDG_CONFIG_HOME") != nullptr;
    hadHome = getenv("HOME") != nullptr;
    if (hadConfig) savedConfig = getenv("XDG_CONFIG_HOME");
    if (hadHome) savedHome = getenv("HOME");
  }
  void TearDown() override {
    if (hadConfig) setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
    if (hadHome) setenv("HOME", savedHome.c_str(), 1); else unsetenv("HOME");
    EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
  }
};

std::string slurp(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

CableEntry cable(const char* serial) {
  CableEntry e = {};
  snprintf(e.serial, sizeof e.serial, "%s", serial);
  return e;
}

}  // namespace

TEST_F(CableChoice, TheFileLivesInTheUsersConfigurationFolder) {
  char path[CABLE_CHOICE_PATH_SIZE];
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  setenv("HOME", "/home/tech", 1);
  ASSERT_TRUE(cableChoice_path(path, sizeof path));
  EXPECT_STREQ(path, "/cfg/tern/tern-curve.conf");
  unsetenv("XDG_CONFIG_HOME");
  ASSERT_TRUE(cableChoice_path(path, sizeof path));
  EXPECT_STREQ(path, "/home/tech/.config/tern/tern-curve.conf");
  setenv("XDG_CONFIG_HOME", "relative", 1);  // not an absolute path: not to be used
  ASSERT_TRUE(cableChoice_path(path, sizeof path));
  EXPECT_STREQ(path, "/home/tech/.config/tern/tern-curve.conf");
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("HOME");
  EXPECT_FALSE(cableChoice_path(path, sizeof path));
}

TEST_F(CableChoice, WritingKeepsTheOtherLinesAndTheLastChoiceIsRead) {
  const std::string path = dir + "/config/tern/tern-curve.conf";
  char serial[FT_SERIAL_LEN] = "";
  EXPECT_FALSE(cableChoice_read(path.c_str(), serial, sizeof serial)) << "no file: no choice";
  ASSERT_EQ(cableChoice_write(path.c_str(), "FT1A2B3C"), 0) << "the folders are made";
  ASSERT_TRUE(cableChoice_read(path.c_str(), serial, sizeof serial));
  EXPECT_STREQ(serial, "FT1A2B3C");

  std::ofstream(path) << "# tern-curve\nzoom=2\ncable=OLD\n";
  ASSERT_EQ(cableChoice_write(path.c_str(), "TSIM0002"), 0);
  EXPECT_EQ(slurp(path), "# tern-curve\nzoom=2\ncable=TSIM0002\n");
  ASSERT_TRUE(cableChoice_read(path.c_str(), serial, sizeof serial));
  EXPECT_STREQ(serial, "TSIM0002");

  // A hand-edited file: CR LF, and a line that cannot be a serial number.
  std::ofstream(path) << "cable=FTA\r\ncable=has blank\r\n";
  ASSERT_TRUE(cableChoice_read(path.c_str(), serial, sizeof serial));
  EXPECT_STREQ(serial, "FTA") << "the line that names no converter is passed over";
  std::ofstream(path) << "cable=\n";
  EXPECT_FALSE(cableChoice_read(path.c_str(), serial, sizeof serial));
}

TEST_F(CableChoice, AKeptChoiceIsTakenOnlyForAConverterThatIsAttached) {
  const CableEntry attached[] = {cable("FT0001"), cable("TSIM0002")};
  EXPECT_STREQ(cableChoice_atStart("TSIM0002", attached, 2), "TSIM0002");
  EXPECT_EQ(cableChoice_atStart("FT9999", attached, 2), nullptr) << "not attached: the first converter, shown";
  EXPECT_EQ(cableChoice_atStart("", attached, 2), nullptr);
  EXPECT_EQ(cableChoice_atStart(nullptr, attached, 2), nullptr);
  EXPECT_EQ(cableChoice_atStart("FT0001", attached, 0), nullptr);
}
