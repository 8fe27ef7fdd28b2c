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

bool holds(const Exchange& ex, const std::atomic<uint32_t>* box) {
  const uint32_t got = box->load();
  return got != 0 && (got == ex.uid || (ex.altUid != 0 && got == ex.altUid));
}

}  // namespace

int exchange_sendAndWait(Packet* packet, const Exchange& ex) {
  handlers_register();
  ex.mailbox->store(0);
  if (ex.refusals) ex.refusals->store(0);
  for (int s = 0; s < ex.sends; s++) {
    if (cable_sendPacket(packet) < 0) return cable_open() < 0 ? EXCHANGE_NO_CABLE : EXCHANGE_SEND_FAILED;
    for (int k = 0; k < ex.polls; k++) {
      waitRound(ex.wait);
      cable_response();
      if (holds(ex, ex.mailbox)) return EXCHANGE_ANSWERED;
      if (ex.refusals && holds(ex, ex.refusals)) return EXCHANGE_REFUSED;
    }
    if (ex.afterRound) ex.afterRound(ex.sends - 1 - s);
  }
  return EXCHANGE_UNANSWERED;
}

const char* exchange_cableText(int result) {
  if (result == EXCHANGE_NO_CABLE) return cable_notFoundText();
  if (result == EXCHANGE_SEND_FAILED)
    return "Sending to the cable failed: the cable was pulled or stopped working.\n"
           "Check the cable and try again.";
  return nullptr;
}

int exchange_run(Packet* packet, const Exchange& ex) {
  cable_open();
  int r = exchange_sendAndWait(packet, ex);
  cable_free();
  return r;
}
