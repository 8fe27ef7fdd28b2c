// The simulated line's state file read back: every part of a device that a
// run changes comes back as it was written (so a sequence of runs acts on
// one rig), and a file that is not such a state is refused whole, naming
// what is wrong, with the devices left as they were.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/crc.h"
#include "sim/sim_dali.h"
#include "sim/sim_device.h"
#include "sim/sim_options.h"

namespace {

// Everything a run can change, set away from its default.
void changeEverything(SimDevice& d) {
  SimFunctions& f = d.sim_functions();
  f.discovery.muted = true;
  f.discovery.muteTries = 2;
  f.identified = 3;
  f.uidChanges = 1;
  f.formerUid = 0x01020304;
  f.settings.addr = 300;
  f.settings.lossOfDmx = 7;
  f.settings.sleep = 30;
  f.settings.backlight = 80;
  f.settings.limitUp = 200;
  f.settings.limitDown = 10;
  f.settings.verMajor = 2;
  f.settings.verMinor = 9;
  f.settings.reads = 5;
  f.settings.writes = 4;
  simDali_populate(f.dali, 3, 11);
  f.dali.searches = 2;
  f.dali.randomizes = 1;
  f.faults.neverMutes = true;
  f.faults.mutesOnTry = 3;
  f.faults.probesWhileMuted = true;
  f.faults.acknowledgesUnderOldUid = true;
  f.faults.silentClasses = 1u << 3;
  f.faults.probeLossPerMille = 25;
}

// A curve whose name is not UTF-8 (a code-page name), sent to the device
// as the configurator sends it, and two firmware blocks after a reboot.
void sendCurveAndFirmware(SimDevice& d) {
  uint8_t record[524] = {};
  memcpy(record, "Caf\xE9", 4);
  for (int i = 0; i < 256; i++) {
    record[12 + 2 * i] = (uint8_t)(i * 16 & 0xFF);
    record[13 + 2 * i] = (uint8_t)(i * 16 >> 8);
  }
  const int offsets[3] = {0, 170, 340}, counts[3] = {170, 170, 184}, heads[3] = {6, 5, 5};
  for (int part = 0; part < 3; part++) {
    std::vector<uint8_t> frame(19, 0);
    const uint8_t h[6] = {0x01, 0x07, 0, (uint8_t)(part + 1), 0, 0};
    frame.insert(frame.end(), h, h + heads[part]);
    frame.insert(frame.end(), record + offsets[part], record + offsets[part] + counts[part]);
    const uint32_t magic = 0xFDA92991u, dest = d.sim_uid();
    for (int k = 0; k < 4; k++) {
      frame[k] = (uint8_t)(magic >> (8 * k));
      frame[4 + k] = (uint8_t)(dest >> (8 * k));
      frame[8 + k] = 0xFF;
    }
    frame[18] = (uint8_t)(frame.size() - 19);
    uint32_t sum = 0;
    for (size_t i = 0; i < frame.size(); i++) sum += (i == 16 || i == 17) ? 0 : frame[i];
    frame[16] = (uint8_t)(sum & 0xFF);
    frame[17] = (uint8_t)(sum >> 8 & 0xFF);
    SimAnswer a;
    d.sim_respond(frame.data(), (int)frame.size(), 0, a);
  }
  ASSERT_EQ(d.sim_curvesTaken(), 1);
  ASSERT_EQ(d.sim_curveName(), "Caf\xE9");
  // A reboot, then block 1 alone: block 0 was never taken.
  for (int type : {0xFF, 0xFE}) {
    uint8_t p[76] = {0x91, 0x29, 0xA9, (uint8_t)type, 0xFF, 0xFF, 0x00, 0x00, (uint8_t)(type == 0xFE), 0};
    for (int i = 0; i < 64; i++) p[10 + i] = (uint8_t)(type == 0xFE ? i + 1 : 0);
    const uint16_t crc = get_CRC(p, 74);
    p[74] = (uint8_t)(crc & 0xFF);
    p[75] = (uint8_t)(crc >> 8);
    SimAnswer a;
    d.sim_respond(p, 76, 0, a);
  }
  ASSERT_EQ(d.sim_firmware().sim_blocks(), 1);
  ASSERT_TRUE(d.sim_firmware().sim_receiving());
}

}  // namespace

TEST(SimState, EveryPartOfADeviceReadsBackAsWritten) {
  SimDevices a(3, 5);
  changeEverything(a.sim_device(1));
  sendCurveAndFirmware(a.sim_device(2));
  const std::string written = a.sim_stateJson();

  SimDevices b(0, 1);
  std::string error;
  ASSERT_TRUE(b.sim_loadState(written, error)) << error;
  ASSERT_EQ(b.sim_count(), 3);
  EXPECT_EQ(b.sim_stateJson(), written) << "a member the loader leaves out shows here";
  EXPECT_EQ(b.sim_device(2).sim_curveName(), "Caf\xE9") << "a name that is not UTF-8 keeps its bytes";
  EXPECT_TRUE(b.sim_device(1).sim_functions().discovery.muted);
  EXPECT_EQ(b.sim_device(1).sim_functions().dali.gear.size(), 3u);
}

TEST(SimState, AFileThatIsNotAStateIsRefusedAndChangesNothing) {
  SimDevices keep(2, 7);
  const std::string before = keep.sim_stateJson();
  struct Case {
    std::string text;
    std::string error;
  } cases[] = {
      {"{\"devices\": [{\"uid\": \"00000010\"}, {\"uid\": \"10\"}]}", "devices[1].uid: 10 is there twice"},
      {"{\"devices\": [{\"uid\": \"00000010\", \"settings\": {\"addr\": 70000}}]}",
       "devices[0].addr: 70000 is not within 0..65535"},
      {"{\"devices\": [{\"uid\": \"0000001G\"}]}", "devices[0].uid: \"0000001G\" is not a hexadecimal number"},
      {"{\"devices\": [{\"uid\": \"00000010\", \"muted\": 1}]}", "devices[0].muted: not true or false"},
      {"{\"devices\": [{\"uid\": \"00000010\", \"curve\": [1, 2]}]}", "devices[0].curve: not 256 levels"},
      {"{\"devices\": [{\"uid\": \"00000010\", \"firmware\": {\"image\": \"abc\"}}]}",
       "devices[0].firmware.image: not whole blocks of hexadecimal bytes within the flash"},
      {"{\"devices\": {}}", "devices: not an array"},
      {"[]", "not a JSON object"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(keep.sim_loadState(c.text, error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
  std::string error;
  EXPECT_FALSE(keep.sim_loadState("{\"devices\": [", error));
  EXPECT_NE(error.find("it is not JSON"), std::string::npos) << error;
  EXPECT_EQ(keep.sim_stateJson(), before);
}

TEST(SimState, TheRigComesFromTheStateFileWhenItExists) {
  char path[] = "/tmp/tern_simstate_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  const char text[] = "{\"devices\": [{\"uid\": \"00000042\", \"settings\": {\"addr\": 99}}]}";
  FILE* f = fopen(path, "w");
  ASSERT_NE(f, nullptr);
  fputs(text, f);
  fclose(f);
  SimOptions o;
  o.devices = 50;  // makes none: the file's devices are the rig
  o.simState = path;
  SimRig rig = simRig_build(o);
  ASSERT_EQ(rig.error, "");
  ASSERT_EQ(rig.devices->sim_count(), 1);
  EXPECT_EQ(rig.devices->sim_device(0).sim_uid(), 0x42u);
  EXPECT_EQ(rig.devices->sim_device(0).sim_functions().settings.addr, 99);
  rig.devices->sim_device(0).sim_functions().settings.addr = 100;
  EXPECT_TRUE(simRig_finish(rig, o).empty());
  simRig_free(rig);

  SimRig again = simRig_build(o);
  ASSERT_EQ(again.error, "");
  EXPECT_EQ(again.devices->sim_device(0).sim_functions().settings.addr, 100) << "written back at the end";
  simRig_free(again);

  f = fopen(path, "w");
  fputs("not json", f);
  fclose(f);
  SimRig bad = simRig_build(o);
  EXPECT_EQ(bad.line, nullptr);
  EXPECT_EQ(bad.error, std::string(path) + " is not a rig's state that tern can read (it is not JSON: something "
                                             "unexpected at byte 2); name another file, or remove this one to start a new rig");
  simRig_free(bad);
  // An empty file is a rig not yet made.
  fclose(fopen(path, "w"));
  SimRig fresh = simRig_build(o);
  EXPECT_EQ(fresh.error, "");
  EXPECT_NE(fresh.devices, nullptr);
  simRig_free(fresh);
  remove(path);
}
