// `tern` on the simulated line, run in-process as the program runs, a
// command at a time on one virtual rig kept in a state file: the whole
// commissioning sequence, what a malformed file, a missing device and a
// pulled cable do, and the refusals that must come before anything is
// written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_out.h"
#include "device/app_genUID.h"
#include "device/commission_job.h"
#include "device/devices.h"
#include "device/rig.h"
#include "link/cable.h"
#include "platform/ftd2xx.h"
#include "sim/sim_device.h"
#include "sim/sim_json.h"
#include "sim/sim_line.h"
#include "../support/held_job.h"

namespace {

struct Result {
  int status;
  std::string out, err;
  SimJson json;  // the document, for runs with --json
};

std::string slurp(FILE* f) {
  std::string s;
  rewind(f);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

class Tern : public testing::Test {
 protected:
  std::string dir, state;

  void SetUp() override {
    char tmpl[] = "/tmp/tern_cli_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    state = dir + "/rig.json";
  }
  void TearDown() override { EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0); }

  // Runs `tern --sim --sim-state rig.json ARGS...` with the rig's options.
  Result tern(std::vector<std::string> args, const std::string& answer = "") {
    std::vector<std::string> all = {"tern", "--sim", "--sim-state", state};
    all.insert(all.end(), args.begin(), args.end());
    return run(all, answer);
  }
  Result run(std::vector<std::string> all, const std::string& answer = "") {
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(&a[0]);
    CliIo io;
    io.out = tmpfile();
    io.err = tmpfile();
    std::string in = answer;
    io.in = fmemopen(&in[0], in.size() + 1, "r");
    io.inTerminal = !answer.empty();
    testing::internal::CaptureStdout();  // the device layer's console lines
    Result r;
    r.status = cli_run((int)argv.size(), argv.data(), io);
    testing::internal::GetCapturedStdout();
    fclose(io.in);
    r.out = slurp(io.out);
    r.err = slurp(io.err);
    for (const std::string& a : all)
      if (a == "--json" && !r.out.empty()) r.json = SimJson::parse(r.out);
    return r;
  }
  SimJson rig() {
    std::ifstream f(state);
    return SimJson::parse(f);
  }
  // The device of the state file with this UID.
  SimJson device(const std::string& uid) {
    const SimJson doc = rig();
    for (const SimJson& d : doc["devices"])
      if (d["uid"] == uid) return d;
    ADD_FAILURE() << uid << " is not in the state";
    return SimJson::object();
  }
  std::string write(const char* name, const std::string& text) {
    const std::string path = dir + "/" + name;
    std::ofstream(path) << text;
    return path;
  }
  std::string read(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  std::vector<std::string> uids() {
    std::vector<std::string> out;
    const SimJson doc = rig();
    for (const SimJson& d : doc["devices"]) out.push_back(d["uid"]);
    std::sort(out.begin(), out.end());
    return out;
  }
  int writes() {
    int n = 0;
    const SimJson doc = rig();
    for (const SimJson& d : doc["devices"]) n += d["setupWrites"].get<int>();
    return n;
  }
};

// A hand-made rig: devices with these UIDs and addresses, nothing else set.
std::string rigOf(std::vector<std::pair<std::string, int>> devices) {
  SimJson doc;
  doc["devices"] = SimJson::array();
  for (auto& d : devices) doc["devices"].push_back({{"uid", d.first}, {"settings", {{"addr", d.second}}}});
  return doc.dump();
}

}  // namespace

TEST_F(Tern, DiscoverAddressExportEditCheckApplyGet) {
  Result r = tern({"--devices", "5", "discover"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("5 devices found."), std::string::npos) << r.out;
  const SimJson found = rig();
  for (const SimJson& d : found["devices"]) EXPECT_TRUE(d["muted"].get<bool>()) << "the line keeps its mutes";
  const std::vector<std::string> u = uids();
  ASSERT_EQ(u.size(), 5u);

  // Five channels a device from steps of 4: each overlaps the next, said
  // and still written.
  r = tern({"--json", "address", "--start", "10", "--step", "4", "--all", "--footprint", "5"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.json["warnings"].size(), 4u) << r.out;
  EXPECT_EQ(r.json["warnings"][0], u[0] + " and " + u[1] + " overlap at 14..14");
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ(r.json["devices"][i]["uid"], u[i]) << "in UID order";
    EXPECT_EQ(r.json["devices"][i]["outcome"], "changed");
    EXPECT_EQ(device(u[i])["settings"]["addr"], 10 + 4 * i);
  }

  const std::string csv = dir + "/rig.csv";
  r = tern({"export", csv});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string text = read(csv);
  // Change two cells of the third device and one of the fourth.
  const std::string row3 = "\n0x" + u[2] + ",18,HOLD,0,", row4 = "\n0x" + u[3] + ",22,";
  ASSERT_NE(text.find(row3), std::string::npos) << text;
  ASSERT_NE(text.find(row4), std::string::npos) << text;
  text.replace(text.find(row3), row3.size(), "\n0x" + u[2] + ",18,to 100%,30,");
  text.replace(text.find(row4), row4.size(), "\n" + u[3] + ",23,");  // the older form, without 0x
  write("rig.csv", text);
  const int writesBefore = writes();

  r = tern({"--json", "apply", "--check", csv});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(writes(), writesBefore) << "a check writes nothing";
  EXPECT_EQ(r.json["devices"][2]["outcome"], "would_change");
  EXPECT_EQ(r.json["devices"][2]["changes"]["loss"]["to"], "to 100%");
  EXPECT_EQ(r.json["devices"][2]["changes"]["sleep"]["to"], 30);
  EXPECT_EQ(r.json["devices"][3]["changes"]["address"]["from"], 22);
  EXPECT_EQ(r.json["totals"]["unchanged"], 3);

  r = tern({"apply", csv});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("5 devices: 3 unchanged, 2 changed."), std::string::npos) << r.out;
  EXPECT_EQ(writes(), writesBefore + 2) << "only the devices that differ are written";
  const SimJson third = device(u[2]);
  EXPECT_EQ(third["settings"]["lossOfDmx"], 2);
  EXPECT_EQ(third["settings"]["sleep"], 30);
  EXPECT_EQ(third["settings"]["addr"], 18);
  EXPECT_EQ(device(u[3])["settings"]["addr"], 23);

  const int readsBefore = third["setupReads"];
  r = tern({"--json", "get", u[2]});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.json["devices"][0]["loss"], "to 100%");
  EXPECT_EQ(r.json["devices"][0]["sleep"], 30);
  EXPECT_EQ(device(u[2])["setupReads"], readsBefore + 1);
}

TEST_F(Tern, AMalformedFileChangesNothing) {
  write("rig.json", rigOf({{"00000010", 1}, {"00000020", 2}, {"00000030", 3}}));
  // The fault is in the last row: a reader that wrote row by row would
  // have written the others.
  const char* files[] = {
      "uid,address\n00000010,5\n00000020,6\n00000030,\"7\n",
      "uid,address\n00000010,5\n00000020,6\n00000030,513\n",
      "uid,address\n00000010,5\n00000020,6\n00000030,7,8\n",
  };
  const char* errors[] = {
      "line 4, column 2 (address): the quote that begins this cell is not closed",
      "line 4, column 2 (address): 513 is not in 1..512",
      "line 4, column 3: more cells than the header names (2)",
  };
  for (int i = 0; i < 3; i++) {
    const std::string csv = write("bad.csv", files[i]);
    Result r = tern({"apply", csv});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("tern: " + csv + ": " + errors[i] + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("refused whole: nothing was written."), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(rig()["converter"]["transmissions"], 0) << "not one device was asked anything";
    EXPECT_EQ(device("00000010")["settings"]["addr"], 1);
  }
}

TEST_F(Tern, ADeviceMissingFromTheLineIsReportedAndTheOthersWritten) {
  write("rig.json", rigOf({{"00000010", 1}, {"00000030", 3}}));
  const std::string csv = write("rig.csv", "uid,address\n00000010,11\n00000020,12\n00000030,13\n");
  Result r = tern({"--json", "apply", csv});
  EXPECT_EQ(r.status, 1);
  ASSERT_EQ(r.json["devices"].size(), 3u) << "every row is in the report";
  EXPECT_EQ(r.json["devices"][1]["uid"], "00000020");
  EXPECT_EQ(r.json["devices"][1]["line"], 3);
  EXPECT_EQ(r.json["devices"][1]["outcome"], "not_found");
  EXPECT_EQ(r.json["devices"][1]["written"], "no");
  EXPECT_EQ(r.json["devices"][1]["error"], "Device 00000020 not responding.");
  EXPECT_NE(r.err.find("tern: 00000020 (line 3): Device 00000020 not responding.\n"), std::string::npos) << r.err;
  EXPECT_EQ(device("00000010")["settings"]["addr"], 11);
  EXPECT_EQ(device("00000030")["settings"]["addr"], 13) << "the device after the missing one is written";
  EXPECT_EQ(r.json["devices"][2]["after"]["address"], 13) << "and read back";
}

TEST_F(Tern, ACablePulledDuringApplyStopsWithTheDevicesDoneSoFar) {
  write("rig.json", rigOf({{"00000010", 1}, {"00000020", 2}, {"00000030", 3}, {"00000040", 4}}));
  const std::string csv =
      write("rig.csv", "uid,address\n00000010,11\n00000020,12\n00000030,13\n00000040,14\n");
  // A changed device takes three frames: read, write, read-back; the
  // converter is pulled once the third device's read is out.
  Result r = tern({"--fail-after", "7", "--json", "apply", csv});
  EXPECT_EQ(r.status, 1);
  const SimJson& devs = r.json["devices"];
  EXPECT_EQ(devs[0]["outcome"], "changed");
  EXPECT_EQ(devs[1]["outcome"], "changed");
  EXPECT_EQ(devs[2]["outcome"], "cable_lost");
  EXPECT_EQ(devs[2]["written"], "no") << "the cable failed on its read, before any write";
  const std::string pulled =
      "Sending to the cable failed: the cable was pulled or stopped working. Check the cable and try again.";
  EXPECT_EQ(devs[2]["error"], pulled);
  EXPECT_EQ(devs[3]["outcome"], "not_reached");
  EXPECT_TRUE(r.json["cable_lost"].get<bool>());
  EXPECT_NE(r.err.find("tern: The cable failed after 2 of 4 devices; the rest were not tried.\n"), std::string::npos)
      << r.err;
  EXPECT_EQ(device("00000020")["settings"]["addr"], 12);
  EXPECT_EQ(device("00000030")["settings"]["addr"], 3);
  EXPECT_EQ(device("00000040")["setupReads"], 0) << "nothing is tried once the cable is gone";
  // The virtual rig keeps what was done.
  r = tern({"apply", csv});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("4 devices: 2 unchanged, 2 changed."), std::string::npos) << r.out;

  // Pulled between a write and its read-back: the write may have landed.
  write("rig.csv", "uid,address\n00000010,21\n");
  r = tern({"--fail-after", "2", "--json", "apply", csv});
  EXPECT_EQ(r.json["devices"][0]["outcome"], "cable_lost");
  EXPECT_EQ(r.json["devices"][0]["written"], "unknown");
  EXPECT_EQ(r.json["devices"][0]["error"], pulled + " The write to 00000010 may have reached it unconfirmed.");
  EXPECT_EQ(device("00000010")["settings"]["addr"], 21);
}

TEST_F(Tern, RefusesBeforeWritingAnything) {
  write("rig.json", rigOf({{"00000010", 1}, {"00000020", 2}, {"00000030", 3}}));

  // Found devices, addressed past 512: discovery runs, no device is written.
  Result r = tern({"address", "--start", "505", "--step", "4", "--all"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("tern: address: 3 devices from 505 in steps of 4 would end at address 513, past 512: "
                       "nothing was written.\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(writes(), 0);
  // Named devices: refused before the line is touched at all.
  r = tern({"address", "--start", "512", "10", "20"});
  EXPECT_EQ(r.status, 2);
  r = tern({"--json", "set", "10", "--address", "0", "--backlight", "12abc", "--sleep", "3", "--limit-up", "300"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "tern: --address: 0 is not in 1..512\n"
            "tern: --backlight: \"12abc\" is not a whole number (0..100)\n"
            "tern: --limit-up: 300 is not in 0..255\n")
      << "each option named, with its range";
  EXPECT_EQ(r.json["errors"].size(), 3u);
  // A sleep the dialog does not offer for what the device holds (0): known
  // only once it is read, and still nothing written.
  r = tern({"set", "10", "--sleep", "3"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tern: 00000010: sleep: 3 is not off or 5..100\n");
  EXPECT_EQ(writes(), 0);
  // The firmware file is checked before the operator is asked about it.
  const std::string curve = write("c.crv", "LIN\n");
  r = tern({"firmware", curve}, "y\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err + r.out, "tern: firmware: " + curve + " is not a firmware file (.fw)\n");

  const std::vector<std::vector<std::string>> usage = {
      {"frob"},
      {"--devices", "3", "discover"},  // a simulator option without --sim
      {"--sim", "get"},
      {"--sim", "get", "80000000"},
      {"--sim", "address", "--start", "1", "--all", "10"},
      {"--sim", "set", "10"},
      {"--sim", "dali", "10", "--randomize", "--search"},
      {"--sim", "new-uid", "10"},  // no terminal to ask, no --yes
      {"--sim", "firmware", "x.fw"},
      {"--sim", "export", "/nonexistent/rig.csv"},  // before the discovery, not after it
      {"--sim", "apply", "/nonexistent/rig.csv"},
  };
  for (std::vector<std::string> args : usage) {
    write("rig.json", rigOf({{"00000010", 1}}));
    if (args[0] == "--sim") args.insert(args.begin() + 1, {"--sim-state", state});
    args.insert(args.begin(), "tern");
    r = run(args);
    EXPECT_EQ(r.status, 2) << args.back() << ": " << r.err;
    EXPECT_NE(r.err, "") << args.back();
    EXPECT_EQ(r.out, "") << args.back();
    const SimJson after = rig();
    if (after.contains("converter")) {
      EXPECT_EQ(after["converter"]["transmissions"], 0) << args.back() << ": nothing is sent on bad usage";
    }
  }
}

TEST_F(Tern, SetChangesOnlyWhatItNamesAndAsksBeforeANewUid) {
  write("rig.json", rigOf({{"00000010", 1}}));
  Result r = tern({"--json", "set", "10", "--loss", "TO 0%", "--backlight", "80"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.json["devices"][0]["changes"].dump(),
            "{\"loss\":{\"from\":\"HOLD\",\"to\":\"to 0%\"},\"backlight\":{\"from\":0,\"to\":80}}");
  SimJson d = device("00000010");
  EXPECT_EQ(d["settings"]["lossOfDmx"], 1);
  EXPECT_EQ(d["settings"]["backlight"], 80);
  EXPECT_EQ(d["settings"]["addr"], 1) << "a field not named keeps its value";
  EXPECT_EQ(d["settings"]["limitUp"], 255);
  r = tern({"set", "10", "--check", "--backlight", "5"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("would change  backlight 80 -> 5"), std::string::npos) << r.out;
  EXPECT_EQ(device("00000010")["settings"]["backlight"], 80) << "a check writes nothing";

  // A sleep the dialog offers no entry for may be kept while the limits,
  // checked together before the line is touched, change.
  SimJson doc = rig();
  doc["devices"][0]["settings"]["sleep"] = 3;
  write("rig.json", doc.dump());
  r = tern({"set", "10", "--sleep", "3", "--limit-up", "200", "--limit-down", "10"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(device("00000010")["settings"]["limitDown"], 10);
  EXPECT_NE(r.out.find("\n1 device: 1 changed.\n"), std::string::npos) << r.out;

  r = tern({"new-uid", "10"}, "n\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Change UID 00000010 to:\nNEW UID="), std::string::npos) << r.err;
  EXPECT_EQ(device("00000010")["uidChanges"], 0);
  r = tern({"--json", "new-uid", "10"}, "y\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string fresh = r.json["devices"][0]["new_uid"];
  EXPECT_EQ(rig()["devices"][0]["uid"], fresh);
  EXPECT_EQ(rig()["devices"][0]["formerUid"], "00000010");
}

TEST_F(Tern, FindNewDevicesFindsOnlyThoseAddedSinceTheLastDiscovery) {
  write("rig.json", rigOf({{"00000010", 1}, {"00000020", 2}}));
  Result r = tern({"discover", "--quick"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("2 devices found."), std::string::npos) << r.out;
  // A device joins the line; the two found keep their mutes in the state.
  SimJson doc = rig();
  doc["devices"].push_back({{"uid", "00000015"}});
  write("rig.json", doc.dump());
  r = tern({"--json", "discover", "--new"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.json["devices"].size(), 1u) << r.out;
  EXPECT_EQ(r.json["devices"][0]["uid"], "00000015");
  r = tern({"--json", "discover"});
  EXPECT_EQ(r.json["devices"].size(), 3u) << "a discovery releases every device first";
}

TEST_F(Tern, NewUidRefusesAUidADeviceOnTheLineHasAlready) {
  // UIDs are made from the time to two seconds; a run that crosses into the
  // next two seconds makes another one and is tried again.
  for (int attempt = 0; attempt < 3; attempt++) {
    char taken[12];
    snprintf(taken, sizeof taken, "%08X", (unsigned)app_genNewUID(nullptr));
    write("rig.json", rigOf({{"00000010", 1}, {taken, 2}}));
    Result r = tern({"--json", "new-uid", "10", "--yes"});
    if (r.json["devices"][0]["new_uid"] != taken) continue;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.json["devices"][0]["changed"], false);
    EXPECT_NE(r.err.find(std::string("a device on the line has ") + taken + " already"), std::string::npos) << r.err;
    EXPECT_EQ(device("00000010")["uidChanges"], 0) << "two devices must never share a UID";
    return;
  }
  FAIL() << "three runs each crossed a two-second step";
}

// The window's commissioning worker and tern on the same rig with the same
// file: every result line and the totals read the same, whichever face ran
// the run.
TEST_F(Tern, TheWindowAndTernReportARunInTheSameLines) {
  const std::string rigText = rigOf({{"00000010", 1}, {"00000020", 2}, {"00000030", 3}});
  write("rig.json", rigText);
  // Changed, unchanged, refused (a sleep the device cannot be given), not found.
  const std::string csv = write("rig.csv", "uid,address,sleep\n00000010,11,\n00000020,2,\n00000030,,3\n00000040,4,\n");
  Result r = tern({"apply", csv});
  EXPECT_EQ(r.status, 2) << "a refused row is the file's fault";
  std::vector<std::string> ternLines;
  std::istringstream lines(r.out);
  for (std::string l; std::getline(lines, l);) ternLines.push_back(l);

  // The same rig again, on a line of this process, and the window's worker.
  SimDevices devices(0, 1);
  std::string why;
  ASSERT_TRUE(devices.sim_loadState(rigText, why)) << why;
  SimLine line;
  devices.sim_attach(line);
  ftd2xx_setBackend(&line);
  dev_removeAll();
  CommissionPlan plan;
  char error[COMMISSION_TEXT_SIZE];
  ASSERT_EQ(rig_readRecord(csv.c_str(), &plan, error, sizeof error), RIG_FILE_OK) << error;
  job_setStarter(heldjob::hold);
  ASSERT_EQ(commissionJob_startRun(&plan, false), JOB_STARTED);
  testing::internal::CaptureStdout();
  heldjob::run();
  testing::internal::GetCapturedStdout();
  job_setStarter(nullptr);
  cable_free();
  ftd2xx_setBackend(nullptr);
  std::vector<std::string> windowLines;
  const CommissionRun* run = commissionJob_run();
  for (int i = 0; i < run->plan->count; i++) {
    char text[CLI_TEXT_SIZE];
    commission_resultLine(&run->results[i], text, sizeof text);
    windowLines.push_back(text);
  }
  char totals[CLI_TEXT_SIZE];
  commission_totalsLine(run, totals, sizeof totals);
  windowLines.push_back(totals);
  EXPECT_EQ(windowLines, ternLines);
  ASSERT_EQ(windowLines.size(), 5u);
  EXPECT_EQ(windowLines[2], "00000030 (line 4)    refused       sleep: 3 is not off or 5..100");
  EXPECT_EQ(windowLines[4], "4 devices: 1 unchanged, 1 changed, 1 not found, 1 refused.");
}

// Every command's exit status for each kind of failure: a device that is
// not there, a device that answers its settings but not a function, and a
// cable gone before the first frame or failing mid-run.
TEST_F(Tern, EveryCommandSaysHowItFailedInItsExitStatus) {
  const std::string curve = write("c.crv", "LIN\n" + [] {
    std::string levels;
    for (int i = 0; i < 256; i++) levels += std::to_string(i * 16) + "\n";
    return levels;
  }());
  const std::string fw = write("f.fw", std::string(300, '\x5A'));
  const std::string csv = write("r.csv", "uid,address\n00000099,5\n");
  const std::string out = dir + "/out.csv";
  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      // Not on the line.
      {{"get", "99"}, 1},
      {{"set", "99", "--backlight", "5"}, 1},
      {{"identify", "99"}, 1},
      {{"dali", "99"}, 1},
      {{"new-uid", "99", "--yes"}, 1},
      {{"address", "--start", "1", "99"}, 1},
      {{"apply", csv}, 1},
      {{"apply", "--check", csv}, 1},
      // Answers settings, not functions.
      {{"identify", "10"}, 1},
      // The cable gone at once, and mid-run.
      {{"--fail-after", "0", "discover"}, 1},
      {{"--fail-after", "0", "get", "10"}, 1},
      {{"--fail-after", "0", "set", "10", "--backlight", "5"}, 1},
      {{"--fail-after", "0", "export", out}, 1},
      {{"--fail-after", "0", "send-curve", curve}, 1},
      {{"--fail-after", "0", "firmware", "--yes", fw}, 1},
      {{"--fail-after", "20", "discover"}, 1},
      {{"--fail-after", "1", "set", "10", "--backlight", "5"}, 1},
      {{"--fail-after", "3", "firmware", "--yes", fw}, 1},
      // And all well.
      {{"get", "10"}, 0},
      {{"identify", "--all", "--quick"}, 1},  // 10 among them
      {{"send-curve", curve}, 0},
  };
  for (const Case& c : cases) {
    SimJson doc = SimJson::parse(rigOf({{"00000010", 1}, {"00000020", 2}}));
    doc["devices"][0]["faults"] = {{"silentClasses", 1u << 3}};
    write("rig.json", doc.dump());
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--json");
    Result r = tern(args);
    EXPECT_EQ(r.status, c.status) << shown << r.err;
    ASSERT_TRUE(r.json.is_object()) << shown << ": one document on every path";
    EXPECT_EQ(r.json["status"], c.status) << shown;
    EXPECT_EQ(r.json["errors"].empty(), c.status == 0) << shown << r.err;
  }
}

// Coming back to a rig: its record checked, a device swapped on site found
// missing and new, adopted into the old one's row, a changed setting fixed.
TEST_F(Tern, CheckAdoptAndFixBringTheLineBackToItsRecord) {
  write("rig.json", rigOf({{"00000010", 11}, {"00000020", 12}, {"00000030", 13}}));
  const std::string rec = dir + "/rec.csv";
  ASSERT_EQ(tern({"export", rec}).status, 0);
  Result r = tern({"check", rec});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("3 devices in the record: 3 match"), std::string::npos) << r.out;

  // On site: one device swapped for a new one, another's backlight changed.
  ASSERT_EQ(tern({"--swap", "1", "--seed", "3", "discover", "--quick"}).status, 0);
  r = tern({"--json", "check", rec});
  EXPECT_EQ(r.status, 1);
  ASSERT_EQ(r.json["totals"]["missing"], 1) << r.out;
  EXPECT_EQ(r.json["totals"]["new"], 1);
  EXPECT_EQ(r.json["matches"], false);
  std::string missing, fresh, present;
  int missingAddress = 0;
  for (const SimJson& d : r.json["devices"]) {
    if (d["status"] == "missing") {
      missing = d["uid"];
      missingAddress = d["record"]["address"];
    }
    if (d["status"] == "new") fresh = d["uid"];
    if (d["status"] == "matches") present = d["uid"];
  }
  ASSERT_EQ(tern({"set", present, "--backlight", "7"}).status, 0);
  const std::string before = read(rec);
  const size_t row = before.find(missing);
  ASSERT_NE(row, std::string::npos);

  r = tern({"check", "--adopt", rec});
  EXPECT_EQ(r.status, 1) << "the changed backlight still differs: " << r.err;
  const std::string after = read(rec);
  EXPECT_EQ(after.substr(0, row), before.substr(0, row)) << "the rows before it untouched";
  EXPECT_EQ(after.find(fresh), row) << "the new device takes the old one's row:\n" << after;
  EXPECT_EQ(device(fresh)["settings"]["addr"], missingAddress) << "with the old one's settings";
  r = tern({"check", "--fix", rec});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(device(present)["settings"]["backlight"], 7) << "the record's backlight back";
  r = tern({"check", rec});
  EXPECT_EQ(r.status, 0) << "the line is its record again: " << r.out;
}
