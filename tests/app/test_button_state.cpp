// The buttons' sensitivity without a display and without a timer tick: each
// button is made in its state, and starting a discovery locks the buttons
// that use the cable, the device buttons and the commissioning actions of
// the menu at once.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "app/buttons.h"
#include "app/commissionDialogs.h"
#include "app/devicePanel.h"
#include "app/refresh.h"
#include "device/bridge.h"
#include "device/discovery_job.h"
#include "../support/held_job.h"

namespace {

const uint32_t kNone = 0xFFFFFFFFu;


class ButtonState : public testing::Test {
 protected:
  void SetUp() override {
    job_setStarter(heldjob::hold);  // the worker "runs" until the test ends it
    selected_dev.store(kNone);
  }
  void TearDown() override {
    thrDisc.store(0);
    remLock(LOCK_DISCOVERY | LOCK_FIRMWARE);
    job_setStarter(nullptr);
    selected_dev.store(kNone);
    // The buttons live on: leave them as a start would make them.
    refresh_all();
  }
};

bool on(GtkWidget* w) { return gtk_widget_get_sensitive(w) != FALSE; }

// "Send curve", "Update FW", the three discoveries; then the three device
// buttons; then the menu's Address in sequence, Export (both only with
// devices listed) and Apply.
std::vector<bool> states() {
  return {on(getButtonSend()),   on(getButtonUpdateFw()),        on(getButtonDiscovery()),
          on(getButtonQuickDiscovery()), on(getButtonFindNew()), on(getButtonEdit()),
          on(getButtonIdentify()),       on(getButtonGenUID()),  on(getButtonAddressSequence()),
          on(getButtonExport()),         on(getButtonApply())};
}

const std::vector<bool> kIdleNoDevice = {true, true, true, true, true, false, false, false, false, false, true};
const std::vector<bool> kIdleDevice = {true, true, true, true, true, true, true, true, false, false, true};
const std::vector<bool> kLocked = {false, false, false, false, false, false, false, false, false, false, false};

}  // namespace

TEST_F(ButtonState, ButtonsAreMadeInTheirState) {
  EXPECT_EQ(states(), kIdleNoDevice) << "no device selected, nothing running";
}

TEST_F(ButtonState, StartingADiscoveryLocksAtOnce) {
  selected_dev.store(0x1234u);
  refresh_all();
  ASSERT_EQ(states(), kIdleDevice);

  buttonDiscoveryAction();
  EXPECT_EQ(states(), kLocked) << "\"Discovery\" must lock before the next tick";
  EXPECT_EQ(selected_dev.load(), kNone);

  // The worker ends: the next tick gives the buttons back.
  thrDisc.store(0);
  remLock(LOCK_DISCOVERY);
  refresh_all();
  ASSERT_EQ(states(), kIdleNoDevice);

  // The rediscovery after a UID change starts the same way.
  selected_dev.store(0x1234u);
  refresh_all();
  makeDiscovery();
  EXPECT_EQ(states(), kLocked) << "makeDiscovery must lock before the next tick";
}
