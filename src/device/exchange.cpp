#include "device/exchange.h"

#include "device/handlers.h"
#include "link/cable.h"
#include "link/timer.h"
#include "platform/clock.h"

namespace {

void waitRound(ExchangeWait w) {
  if (w == EXCHANGE_WAIT_MYSLEEP_15)
    mySleep(15);
  else
    clock_sleepUs(15000);  // a plain 15 ms sleep (usleep)
}

bool answered(const Exchange& ex) {
  const uint32_t got = ex.mailbox->load();
  return got != 0 && (got == ex.uid || (ex.altUid != 0 && got == ex.altUid));
}

}  // namespace

int exchange_sendAndWait(Packet* packet, const Exchange& ex) {
  handlers_register();
  ex.mailbox->store(0);
  for (int s = 0; s < ex.sends; s++) {
    cable_sendPacket(packet);
    for (int k = 0; k < ex.polls; k++) {
      waitRound(ex.wait);
      cable_response();
      if (answered(ex)) return EXCHANGE_ANSWERED;
    }
    if (ex.afterRound) ex.afterRound(ex.sends - 1 - s);
  }
  return EXCHANGE_UNANSWERED;
}

int exchange_run(Packet* packet, const Exchange& ex) {
  cable_open();
  int r = exchange_sendAndWait(packet, ex);
  cable_free();
  return r;
}
