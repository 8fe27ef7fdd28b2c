// Simulated lines side by side: a converter named by --cable is the cable
// the process uses and is claimed across processes from its first open
// until its line is freed, so that a second line of the same serial number
// (another program, or another line here) is refused and lists it in use.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <CLI/CLI.hpp>

#include "link/cables.h"
#include "sim/sim_claim.h"
#include "sim/sim_options.h"

namespace {

// The claims' lock files in a folder of the test's own.
class SimCables : public testing::Test {
 protected:
  std::string dir;
  void SetUp() override {
    char tmpl[] = "/tmp/tern_claims_XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    dir = tmpl;
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_RUNTIME_DIR");
    std::string rm = "rm -rf " + dir;
    EXPECT_EQ(system(rm.c_str()), 0);
  }
};

// The state FT_CreateDeviceInfoList would report for the line's converter.
DWORD listedState(SimLine& line) {
  PortDeviceInfo d[1];
  int n = 0;
  EXPECT_EQ(line.port_list(d, 1, n, true), FT_OK);
  return n == 1 ? d[0].state : 99;
}

SimLine* claimedLine(const char* serial) {
  SimLine* l = new SimLine;
  l->sim_setSerial(serial);
  l->sim_claimAcrossProcesses(true);
  return l;
}

}  // namespace

TEST_F(SimCables, OneSerialIsHeldByOneLineFromItsFirstOpenUntilGivenBack) {
  std::unique_ptr<SimLine> a(claimedLine("LINE1")), b(claimedLine("LINE1")), other(claimedLine("LINE2"));
  FT_HANDLE ha = nullptr, hb = nullptr, ho = nullptr;
  EXPECT_EQ(listedState(*b), PORT_STATE_FREE);
  ASSERT_EQ(a->port_open("LINE1", &ha), FT_OK);
  EXPECT_EQ(b->port_open("LINE1", &hb), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(listedState(*a), PORT_STATE_HERE);
  EXPECT_EQ(listedState(*b), PORT_STATE_IN_USE);
  EXPECT_EQ(other->port_open("LINE2", &ho), FT_OK) << "another serial number is another cable";

  // Closed between two commands, it stays claimed, as a real converter does.
  EXPECT_EQ(a->port_close(ha), FT_OK);
  EXPECT_EQ(b->port_open("LINE1", &hb), FT_DEVICE_NOT_OPENED);
  a->port_releaseIdle();
  EXPECT_EQ(b->port_open("LINE1", &hb), FT_OK);
  EXPECT_EQ(listedState(*a), PORT_STATE_IN_USE);

  b.reset();  // the program ends
  EXPECT_FALSE(claim_heldElsewhere("LINE1"));
}

TEST_F(SimCables, CableOptionNamesTheLineAndChoosesItUntilTheRigIsFreed) {
  SimOptions o;
  CLI::App app;
  simOptions_add(app, o);
  EXPECT_THROW(app.parse(std::vector<std::string>{"a/b", "--cable"}), CLI::ValidationError);
  app.parse(std::vector<std::string>{"LINE7", "--cable"});  // CLI11 takes them last first

  SimRig rig = simRig_build(o), again = simRig_build(o);
  EXPECT_STREQ(rig.line->sim_serial(), "LINE7");
  EXPECT_STREQ(cables_chosen(), "LINE7");
  FT_HANDLE h = nullptr;
  ASSERT_EQ(rig.line->port_open("LINE7", &h), FT_OK);
  EXPECT_EQ(again.line->port_open("LINE7", &h), FT_DEVICE_NOT_OPENED);

  simRig_free(rig);
  EXPECT_STREQ(cables_chosen(), "");
  EXPECT_EQ(again.line->port_open("LINE7", &h), FT_OK) << "freed, the line gave its claim back";
  simRig_free(again);

  // Without --cable: the one converter TSIM0001, claimed by nobody.
  SimRig plain = simRig_build(SimOptions());
  EXPECT_STREQ(plain.line->sim_serial(), "TSIM0001");
  ASSERT_EQ(plain.line->port_open("TSIM0001", &h), FT_OK);
  EXPECT_FALSE(claim_heldElsewhere("TSIM0001"));
  simRig_free(plain);
}
