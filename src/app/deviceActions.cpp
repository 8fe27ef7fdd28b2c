#include "app/deviceActions.h"

#include <cstdio>

#include "app/busyCursor.h"
#include "app/devicePanel.h"
#include "app/dialog.h"
#include "app/setupDialog.h"
#include "device/app_dali.h"
#include "device/app_genUID.h"
#include "device/app_identify.h"
#include "device/app_setup.h"
#include "device/bridge.h"
#include "device/devices.h"

namespace {

const uint32_t kNone = 0xFFFFFFFFu;

void notResponding(uint32_t uid) {
  char text[64];
  snprintf(text, sizeof text, "Device %X not responding.", (unsigned)uid);
  messageError(text);
}

}  // namespace

void buttonEditAction() {
  const uint32_t uid = selected_dev.load();
  if (uid == kNone) return;
  {
    BusyCursor busy;
    if (app_setup_read(uid) < 0) {
      notResponding(uid);
      return;
    }
    app_dali_read(uid);
  }
  Device record;
  if (!dev_copy(uid, &record)) {
    notResponding(uid);
    return;
  }
  SetupValues values = {};
  const int result = input_dialog(&record, &values);
  if (result == SETUP_DIALOG_OK) {
    BusyCursor busy;
    // A write the device does not confirm may not have reached it: say so.
    if (app_setup_send(uid, &values) < 0) notResponding(uid);
  } else if (result == SETUP_DIALOG_INVALID && values.errorText[0]) {
    messageError(values.errorText);
  }
}

void buttonIdentifyAction() {
  const uint32_t uid = selected_dev.load();
  if (uid == kNone) return;
  int r;
  {
    BusyCursor busy;
    r = app_identify_send(uid);
  }
  if (r < 0) {
    char text[64];
    snprintf(text, sizeof text, "IDENTIFY:\n\n Device %X not responding.", (unsigned)uid);
    messageError(text);
  }
}

void buttonGenUIDAction() {
  const uint32_t uid = selected_dev.load();
  if (uid == kNone) return;
  char description[APP_GENUID_TEXT_SIZE];
  const uint32_t newUid = app_genNewUID(description);
  char text[128];
  snprintf(text, sizeof text, "Change UID %08X to:\n%s", (unsigned)uid, description);
  if (!messageQuestion(text)) return;
  int changed;
  {
    BusyCursor busy;
    changed = app_genUid(uid, newUid);
  }
  snprintf(text, sizeof text, changed ? "UID %08X -> %08X\n changed." : "UID %08X -> %08X\n not changed.",
           (unsigned)uid, (unsigned)newUid);
  if (changed)
    messageInfo(text);
  else
    messageError(text);
  makeDiscovery();
}
