#include "app/deviceActions.h"

#include <cstdio>

#include "app/busyCursor.h"
#include "app/deviceNotes.h"
#include "app/devicePanel.h"
#include "app/dialog.h"
#include "app/refresh.h"
#include "app/setupDialog.h"
#include "device/app_dali.h"
#include "device/app_genUID.h"
#include "device/app_identify.h"
#include "device/app_setup.h"
#include "device/bridge.h"
#include "device/devices.h"
#include "device/exchange.h"
#include "device/rig.h"

namespace {

const uint32_t kNone = 0xFFFFFFFFu;

// Tells the operator why a device did not answer: the cable, or the device.
void notResponding(uint32_t uid, int result) {
  const char* cable = exchange_cableText(result);
  char text[64];
  snprintf(text, sizeof text, "Device %X not responding.", (unsigned)uid);
  messageError(cable ? cable : text);
}

}  // namespace


void buttonEditAction() {
  const uint32_t uid = selected_dev.load();
  if (uid == kNone) return;
  {
    BusyCursor busy;
    const int read = app_setup_read(uid);
    if (read < 0) {
      notResponding(uid, read);
      return;
    }
    deviceNotes_read(uid);
    // Without the cable nothing could be written either: say so, once.
    const char* cable = exchange_cableText(app_dali_read(uid));
    if (cable) {
      messageError(cable);
      return;
    }
  }
  Device record;
  if (!dev_copy(uid, &record)) {
    notResponding(uid, EXCHANGE_UNANSWERED);
    return;
  }
  SetupValues values = {};
  const int result = input_dialog(&record, &values);
  if (result == SETUP_DIALOG_OK) {
    BusyCursor busy;
    // A write the device does not confirm may not have reached it: say so.
    const int written = app_setup_send(uid, &values);
    // The table shows what the device holds now, before any message.
    refresh_all();
    if (written < 0) notResponding(uid, written);
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
    const char* cable = exchange_cableText(r);
    char text[64];
    snprintf(text, sizeof text, "IDENTIFY:\n\n Device %X not responding.", (unsigned)uid);
    messageError(cable ? cable : text);
  }
}

void buttonGenUIDAction() {
  const uint32_t uid = selected_dev.load();
  if (uid == kNone) return;
  char description[APP_GENUID_TEXT_SIZE];
  const uint32_t newUid = app_genNewUID(description);
  char text[256];
  snprintf(text, sizeof text, "Change UID %08X to:\n%s", (unsigned)uid, description);
  if (!messageQuestion(text)) return;
  int outcome;
  {
    BusyCursor busy;
    outcome = rig_newUid(uid, newUid);
  }
  rig_newUidText(text, sizeof text, uid, newUid, outcome);
  if (outcome == APP_GENUID_ACKNOWLEDGED) {
    // The device stays selected under its new UID once the discovery that
    // follows finds it.
    devicePanel_renameSelected(uid, newUid);
    messageInfo(text);
  } else {
    messageError(text);
  }
  makeDiscovery();
}
