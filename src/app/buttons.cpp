#include "app/buttons.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "app/curveActions.h"
#include "app/dialog.h"
#include "app/refresh.h"
#include "app/widgets.h"
#include "curve/curve_view.h"
#include "device/app_firmware.h"
#include "device/bridge.h"

namespace {

GtkWidget* buttonCurve1 = nullptr;
GtkWidget* buttonCurve2 = nullptr;
GtkWidget* buttonRead = nullptr;
GtkWidget* buttonSave = nullptr;
GtkWidget* buttonSendCurve = nullptr;
GtkWidget* buttonUpdateFW = nullptr;

// A button that uses the cable: made on the first call in the state the
// lock word gives it, so that no click reaches it before the first refresh.
GtkWidget* lockable(GtkWidget*& slot, const char* label, void (*action)()) {
  if (slot) return slot;
  widgets_button(slot, label, action);
  gtk_widget_set_sensitive(slot, refresh_state().enabled);
  return slot;
}

}  // namespace

GtkWidget* getButtonCurve1() { return widgets_button(buttonCurve1, "Curve linear", buttonCurve1Action); }
GtkWidget* getButtonCurve2() { return widgets_button(buttonCurve2, "Curve 2", buttonCurve2Action); }
GtkWidget* getButtonRead() { return widgets_button(buttonRead, "Read curve", buttonReadAction); }
GtkWidget* getButtonSave() { return widgets_button(buttonSave, "Save curve", buttonSaveAction); }
GtkWidget* getButtonSend() { return lockable(buttonSendCurve, "Send curve", buttonSendCurveAction); }
GtkWidget* getButtonUpdateFw() { return lockable(buttonUpdateFW, "Update FW", buttonUpdateFWAction); }

GtkWidget* getButtonsPanel() {
  GtkWidget* box;
  GtkWidget* fixed = widgets_fixedColumn(2, &box);
  GtkWidget* entry = getEntryName("", ENTRY_NAME_MAX);
  GtkWidget* items[] = {curveActions_nameLabel(), entry,          curveActions_nameNotice(), getButtonCurve1(),
                        getButtonCurve2(),        getButtonRead(), getButtonSave(),           getButtonSend(),
                        getButtonUpdateFw(),      getApproxWin(5), getClabel()};
  for (GtkWidget* w : items) gtk_box_pack_start(GTK_BOX(box), w, FALSE, FALSE, w == entry ? 0 : 2);
  return fixed;
}

// The buttons that use the cable are insensitive while a background job
// holds it: a click would stall the window until the job ends.
// None of the panel's buttons acts on the selected device.
void buttonsEnable(bool enabled, bool /*deviceSelected*/) {
  GtkWidget* cableButtons[] = {buttonSendCurve, buttonUpdateFW};
  for (GtkWidget* b : cableButtons)
    if (b && gtk_widget_get_sensitive(b) != (gboolean)enabled) gtk_widget_set_sensitive(b, enabled);
}

namespace {

// Firmware goes to every device on the line, whichever is selected: the
// operator is asked first, with what would be sent. A file the update
// refuses anyway (not ".fw", unreadable, empty, too large) is left to it:
// it says why and sends nothing.
bool firmwareConfirmed(const char* path) {
  struct stat st;
  const size_t n = strlen(path);
  if (n < 3 || strcmp(path + n - 3, ".fw") != 0 || stat(path, &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size <= 0 || st.st_size > FW_IMAGE_SIZE)
    return true;
  const long long size = (long long)st.st_size;
  const int blocks = (int)((size + FW_BLOCK_SIZE - 1) / FW_BLOCK_SIZE);
  // Five reboot packets, the pause for the reboot, five copies of every
  // block, and the pause at the end.
  const int seconds = (int)((5 * 102 + 1002 + blocks * FW_COPIES * 7 + 1002 + 999) / 1000);
  char text[DIALOG_PATH_SIZE + 512];
  snprintf(text, sizeof text,
           "Send the firmware\n%s\n(%lld bytes, %d blocks of %d bytes) to every device on the line?\n\n"
           "Every device on the line receives it, not only the selected one: each is restarted and "
           "then takes the new image. This takes about %d s.",
           path, size, blocks, (int)FW_BLOCK_SIZE, seconds);
  return messageQuestion(text) != 0;
}

}  // namespace

void buttonUpdateFWAction() {
  if (!openFileDialogTitled(DIALOG_KIND_FIRMWARE, 0, "Choose firmware")) return;
  if (!firmwareConfirmed(getFilename())) {
    puts("Update FW cancelled: nothing sent");
    fflush(stdout);
    return;
  }
  buttonSendAction(selected_dev.load(), getFilename());
  refresh_all();
}
