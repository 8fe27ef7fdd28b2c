// The commands that send a file to every device on the line: a curve, and
// firmware.
#include <cerrno>
#include <cstring>
#include <memory>

#include "cli/cli_commands.h"
#include "cli/cli_progress.h"
#include "curve/curve_file.h"
#include "device/app_firmware.h"
#include "device/app_setup.h"
#include "device/bridge.h"
#include "link/cable.h"
#include "link/fileio.h"

void cmd_sendCurve(CliContext& c, const CliArgs& a) {
  // One more byte than a curve file may have, to tell a file too large.
  std::unique_ptr<unsigned char[]> data(new unsigned char[CURVE_FILE_READ_MAX + 1]);
  const int n = read_file(a.file.c_str(), data.get(), CURVE_FILE_READ_MAX + 1);
  if (n < 0) {
    out_error(c.out, CLI_USAGE, "Cannot open the curve file: %s", a.file.c_str());
    return;
  }
  if (n > CURVE_FILE_READ_MAX) {
    out_error(c.out, CLI_USAGE, "This file is too large to be a curve file: %s", a.file.c_str());
    return;
  }
  CurveRecord record;
  if (!curve_parseFile(data.get(), n, &record)) {
    out_error(c.out, CLI_USAGE, "The curve file is empty: %s", a.file.c_str());
    return;
  }
  if (!cli_needCable(c)) return;
  const int r = app_setup_send_curve(0xFFFFFFFFu, &record);
  char name[CURVE_NAME_TEXT_SIZE];
  curve_nameToText(record.name, name, sizeof name);
  c.out.doc["file"] = a.file;
  c.out.doc["name"] = name;
  c.out.doc["sent"] = r == APP_SETUP_CURVE_SENT;
  if (r == APP_SETUP_NO_CABLE) {
    out_error(c.out, CLI_FAILED, "%s", cable_notFoundText());
    return;
  }
  if (r != APP_SETUP_CURVE_SENT) {
    out_error(c.out, CLI_FAILED, "Sending the curve failed: the cable stopped answering.");
    return;
  }
  out_line(c.out, "Curve \"%s\" sent to every device on the line.", name);
}

namespace {

// The firmware file checked before anything is asked or sent: a ".fw" file
// that can be read, not empty, not larger than a device takes.
bool firmwareFile(CliContext& c, const std::string& path) {
  const size_t n = path.size();
  if (n < 3 || path.compare(n - 3, 3, ".fw") != 0) {
    out_error(c.out, CLI_USAGE, "firmware: %s is not a firmware file (.fw)", path.c_str());
    return false;
  }
  std::unique_ptr<unsigned char[]> data(new unsigned char[FW_IMAGE_SIZE + 1]);
  errno = 0;
  const int size = read_file(path.c_str(), data.get(), FW_IMAGE_SIZE + 1);
  if (size < 0) {
    out_error(c.out, CLI_USAGE, "firmware: cannot read %s: %s", path.c_str(), strerror(errno ? errno : EIO));
    return false;
  }
  if (size == 0) {
    out_error(c.out, CLI_USAGE, "firmware: %s is empty", path.c_str());
    return false;
  }
  if (size > FW_IMAGE_SIZE) {
    out_error(c.out, CLI_USAGE, "firmware: %s is larger than %d bytes, the largest image a device takes", path.c_str(),
              FW_IMAGE_SIZE);
    return false;
  }
  return true;
}

// The blocks sent so far, for the progress line.
void blocks(int* done, int* total) {
  *done = pStatusSt.load();
  *total = pStatusTop.load();
}

}  // namespace

void cmd_firmware(CliContext& c, const CliArgs& a) {
  if (!firmwareFile(c, a.file)) return;
  char question[CLI_TEXT_SIZE];
  snprintf(question, sizeof question,
           "Every device on the line receives the firmware %s and restarts with it.\nSend it?", a.file.c_str());
  if (!a.yes && !cli_confirm(c, question,
                             "firmware: every device on the line would receive it; give --yes to send it without being asked"))
    return;
  if (!cli_needCable(c)) return;
  CliProgress* progress = progress_start(c.out.err, c.errTerminal, "firmware");
  progress_follow(progress, blocks, "block");
  const int r = makeProgramDevice(a.file.c_str(), 0xFFFFFFFFu);
  progress_stop(progress);
  c.out.doc["file"] = a.file;
  c.out.doc["sent"] = r == FW_SENT;
  c.out.doc["blocks"] = app_firmware_blocksSent();
  if (r != FW_SENT) {
    // The file was checked above: what is left is the line's failure.
    out_error(c.out, CLI_FAILED, "firmware: sending %s failed: the cable was pulled or stopped working; "
              "the devices may be left without a complete firmware: send it again", a.file.c_str());
    return;
  }
  const int blocks = app_firmware_blocksSent();
  out_line(c.out, "Firmware %s sent to every device on the line: %d block%s.", a.file.c_str(), blocks,
           blocks == 1 ? "" : "s");
}
