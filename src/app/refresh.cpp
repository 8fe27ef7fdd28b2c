#include "app/refresh.h"

#include "app/buttons.h"
#include "app/checkDialog.h"
#include "app/cableMenu.h"
#include "app/commissionDialogs.h"
#include "app/devicePanel.h"
#include "app/mainWin.h"
#include "app/menu.h"
#include "app/runControl.h"
#include "curve/curve_undo.h"
#include "device/bridge.h"

namespace {

WindowState shown = {true, false, 0, false, false};

}  // namespace

WindowState refresh_state() {
  WindowState s;
  s.enabled = lockComponents.load() == 0;
  s.deviceSelected = selected_dev.load() != 0xFFFFFFFFu;
  s.devicesListed = devicePanel_listed(nullptr, 0);
  s.canUndo = undo_canUndo();
  s.canRedo = undo_canRedo();
  return s;
}

void refresh_all() {
  devicePanel_updateTable();
  shown = refresh_state();
  buttonsEnable(shown.enabled, shown.deviceSelected);
  devicePanel_update(shown);
  commissionDialogs_update(shown);
  checkDialog_update(shown);
  menu_update(shown);
  runControl_update(shown);
  cableMenu_update(shown);
  mainWin_updateProgress();
}

WindowState refresh_shown() { return shown; }
