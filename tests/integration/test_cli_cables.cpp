// `tern cables` and the --cable option, in-process on the simulated line:
// the listing for people and for scripts, its exit status, and a choice that
// lasts only for the run that made it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/cli_commands.h"
#include "link/cables.h"
#include "platform/port_backend.h"
#include "sim/sim_line.h"

namespace {

struct Listed {
  int status;
  std::string out, err;
  CliJson doc;
};

std::string slurp(FILE* f) {
  std::string s;
  rewind(f);
  char buf[1024];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

Listed cables(SimLine& line, bool json) {
  ftd2xx_setBackend(&line);
  CliContext c;
  c.out.out = tmpfile();
  c.out.err = tmpfile();
  c.out.json = json;
  out_begin(c.out, "cables");
  cmd_cables(c, CliArgs());
  Listed r;
  r.status = out_finish(c.out);
  r.doc = c.out.doc;
  r.out = slurp(c.out.out);
  r.err = slurp(c.out.err);
  ftd2xx_setBackend(nullptr);
  return r;
}

}  // namespace

TEST(CliCables, ListsEachConverterWithItsStateAndFailsWithNone) {
  SimLine line;
  Listed r = cables(line, false);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "  SERIAL           STATE                      DESCRIPTION\n"
            "* TSIM0001         free                       Tern simulated DMX cable\n"
            "1 cable found; * is the one tern uses.\n");

  line.sim_setHeldElsewhere(true);
  r = cables(line, true);
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.doc["cables"].size(), 1u) << r.out;
  EXPECT_EQ(r.doc["cables"][0]["serial"], "TSIM0001");
  EXPECT_EQ(r.doc["cables"][0]["state"], "in-use");
  EXPECT_EQ(r.doc["cables"][0]["chosen"], true);
  line.sim_setHeldElsewhere(false);

  line.sim_setPlugged(false);
  r = cables(line, false);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "tern: Cable not found!\n");
}

TEST(CliCables, CableOptionChoosesForOneRunOnly) {
  auto parse = [](std::vector<std::string> args) {
    CLI::App app;
    cli_addCableOption(app);
    app.parse(args);  // last first
    return std::string(cables_chosen());
  };
  EXPECT_EQ(parse({"LINE2", "--cable"}), "LINE2");
  EXPECT_EQ(parse({}), "") << "the next run without --cable uses converter 0";
  setenv("TERN_CABLE", "LINE3", 1);
  EXPECT_EQ(parse({}), "LINE3");
  EXPECT_EQ(parse({"LINE4", "--cable"}), "LINE4") << "the option before the environment";
  unsetenv("TERN_CABLE");
  EXPECT_THROW(parse({"LINE 5", "--cable"}), CLI::ValidationError);
  cables_choose(nullptr);
}

// The choice a window makes at start: the environment's, unless an option
// names one; a name that cannot be a serial number (a D2XX serial number
// holds at most 15 characters) chooses nothing.
TEST(Cables, ChoiceAtStartTakesTheOptionThenTheEnvironmentAndRefusesABadOne) {
  char why[160] = "";
  setenv("TERN_CABLE", "LINE6", 1);
  EXPECT_TRUE(cables_chooseAtStart(nullptr, why, sizeof why));
  EXPECT_STREQ(cables_chosen(), "LINE6");
  EXPECT_TRUE(cables_chooseAtStart("123456789012345", why, sizeof why));
  EXPECT_STREQ(cables_chosen(), "123456789012345");
  cables_choose(nullptr);
  EXPECT_FALSE(cables_chooseAtStart("1234567890123456", why, sizeof why));
  setenv("TERN_CABLE", "LINE/8", 1);
  EXPECT_FALSE(cables_chooseAtStart(nullptr, why, sizeof why));
  EXPECT_STREQ(why, "\"LINE/8\" is not a cable's serial number (1 to 15 characters, no blanks, no '/')");
  EXPECT_STREQ(cables_chosen(), "");
  unsetenv("TERN_CABLE");
}
