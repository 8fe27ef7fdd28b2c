#include "app/buttons.h"

#include <gtk/gtk.h>

#include "app/curveActions.h"
#include "app/devicePanel.h"
#include "app/dialog.h"
#include "app/mainWin.h"
#include "app/widgets.h"
#include "curve/curve_view.h"
#include "device/app_firmware.h"

namespace {

GtkWidget* buttonCurve1 = nullptr;
GtkWidget* buttonCurve2 = nullptr;
GtkWidget* buttonRead = nullptr;
GtkWidget* buttonSave = nullptr;
GtkWidget* buttonSendCurve = nullptr;
GtkWidget* buttonUpdateFW = nullptr;


}  // namespace

GtkWidget* getButtonCurve1() { return widgets_button(buttonCurve1, "Curve linear", buttonCurve1Action); }
GtkWidget* getButtonCurve2() { return widgets_button(buttonCurve2, "Curve 2", buttonCurve2Action); }
GtkWidget* getButtonRead() { return widgets_button(buttonRead, "Read curve", buttonReadAction); }
GtkWidget* getButtonSave() { return widgets_button(buttonSave, "Save curve", buttonSaveAction); }
GtkWidget* getButtonSend() { return buttons_lockable(buttonSendCurve, "Send curve", buttonSendCurveAction); }
GtkWidget* getButtonUpdateFw() { return buttons_lockable(buttonUpdateFW, "Update FW", buttonUpdateFWAction); }

GtkWidget* getButtonsPanel() {
  GtkWidget* box;
  GtkWidget* fixed = widgets_fixedColumn(2, &box);
  GtkWidget* items[] = {getEntryName("", ENTRY_NAME_MAX), getButtonCurve1(), getButtonCurve2(),
                        getButtonRead(), getButtonSave(), getButtonSend(), getButtonUpdateFw(),
                        getApproxWin(5), getClabel()};
  for (GtkWidget* w : items) gtk_box_pack_start(GTK_BOX(box), w, FALSE, FALSE, 2);
  return fixed;
}

// The buttons that use the cable are insensitive while a background job
// holds it: a click would stall the window until the job ends.
void buttonsEnable(bool enabled, bool deviceSelected) {
  GtkWidget* cableButtons[] = {buttonSendCurve, buttonUpdateFW};
  for (GtkWidget* b : cableButtons)
    if (b && gtk_widget_get_sensitive(b) != (gboolean)enabled) gtk_widget_set_sensitive(b, enabled);
  devicePanel_enable(enabled, deviceSelected);
}

void buttonUpdateFWAction() {
  if (!openFileDialog(DIALOG_KIND_FIRMWARE, 0)) return;
  buttonSendAction(selected_dev.load(), getFilename());
  buttons_refresh();
}

GtkWidget* buttons_lockable(GtkWidget*& slot, const char* label, void (*action)()) {
  if (slot) return slot;
  widgets_button(slot, label, action);
  buttons_refresh();
  return slot;
}

void buttons_refresh() { buttonsEnable(lockComponents.load() == 0, selected_dev.load() != 0xFFFFFFFFu); }
