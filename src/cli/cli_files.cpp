// The commands that send a file to every device on the line: a curve, and
// firmware.
#include <cstring>

#include "cli/cli_commands.h"
#include "cli/cli_progress.h"
#include "curve/curve_file.h"
#include "device/app_firmware.h"
#include "device/app_setup.h"
#include "device/bridge.h"
#include "link/cable.h"
#include "link/fileio.h"

namespace {

void firmwareLine(char* text, int size, void*) {
  snprintf(text, (size_t)size, "firmware: block %d of %d", (int)pStatusSt.load(), (int)pStatusTop.load());
}

}  // namespace

void cmd_sendCurve(CliContext& c, const CliArgs& a) {
  // One more byte than a curve file may have, to tell a file too large.
  static unsigned char data[CURVE_FILE_READ_MAX + 1];
  const int n = read_file(a.file.c_str(), data, sizeof data);
  if (n < 0) {
    out_error(c.out, CLI_USAGE, "Cannot open the curve file: %s", a.file.c_str());
    return;
  }
  if (n > CURVE_FILE_READ_MAX) {
    out_error(c.out, CLI_USAGE, "This file is too large to be a curve file: %s", a.file.c_str());
    return;
  }
  CurveRecord record;
  if (!curve_parseFile(data, n, &record)) {
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

void cmd_firmware(CliContext& c, const CliArgs& a) {
  char question[CLI_TEXT_SIZE];
  snprintf(question, sizeof question,
           "Every device on the line receives the firmware %s and restarts with it.\nSend it?", a.file.c_str());
  if (!a.yes && !cli_confirm(c, question,
                             "firmware: every device on the line would receive it; give --yes to send it without being asked"))
    return;
  if (!cli_needCable(c)) return;
  CliProgress* progress = progress_start(c.out.err, c.errTerminal, firmwareLine, nullptr);
  const int r = makeProgramDevice(a.file.c_str(), 0xFFFFFFFFu);
  progress_stop(progress);
  c.out.doc["file"] = a.file;
  c.out.doc["sent"] = r == FW_SENT;
  c.out.doc["blocks"] = app_firmware_blocksSent();
  // The device layer told the reasons itself (cli.cpp collects them).
  if (r == FW_REFUSED || r == FW_NOT_FIRMWARE) {
    c.out.status = c.out.status > CLI_USAGE ? c.out.status : CLI_USAGE;
    return;
  }
  if (r != FW_SENT) {
    c.out.status = c.out.status > CLI_FAILED ? c.out.status : CLI_FAILED;
    return;
  }
  out_line(c.out, "Firmware %s sent to every device on the line: %d blocks.", a.file.c_str(), app_firmware_blocksSent());
}
