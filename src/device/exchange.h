// The shape every request that awaits an answer has: clear the command's
// mailbox, then up to `sends` sends of the packet, each followed by up to
// `polls` rounds of a wait and a poll of the cable (which runs the answer
// handlers), until the mailbox holds the UID the request expects. The
// command modules keep only their payloads, handlers and console lines.
#pragma once

#include <atomic>
#include <cstdint>

#include "protocol/packet_structures.h"

// Return values of every exchange, and of the command functions built on
// one (app_setup_read, app_setup_send, app_identify_send, app_dali_*...):
//   EXCHANGE_ANSWERED     1  the expected UID answered;
//   EXCHANGE_UNANSWERED  -1  no answer after every send: the device is silent;
//   EXCHANGE_SEND_FAILED -2  the converter is open but took no packet (pulled mid-run);
//   EXCHANGE_NO_CABLE    -3  no converter could be opened;
//   EXCHANGE_REFUSED     -4  the device answered, saying no;
//   EXCHANGE_BAD_ARGUMENT -5 the caller gave nothing to send: nothing was sent.
// exchange_cableText tells the two cable failures from the rest.
enum {
  EXCHANGE_SENDS = 5,
  EXCHANGE_POLLS = 15,
  EXCHANGE_ANSWERED = 1,
  EXCHANGE_UNANSWERED = -1,
  EXCHANGE_SEND_FAILED = -2,
  EXCHANGE_NO_CABLE = -3,
  EXCHANGE_REFUSED = -4,
  EXCHANGE_BAD_ARGUMENT = -5,
};

// How long each poll round waits before it reads the cable.
enum ExchangeWait {
  EXCHANGE_WAIT_USLEEP_15,  // 15 ms
  EXCHANGE_WAIT_MYSLEEP_15, // mySleep(15): 17 ms
};

struct Exchange {
  std::atomic<uint32_t>* mailbox;  // set by the answer handler to the answer's source
  uint32_t uid;                    // the answer that ends the wait
  uint32_t altUid = 0;             // a second UID that ends it too (0: none)
  // Set by the answer handler when a device says no (optional): the wait
  // ends with EXCHANGE_REFUSED when it holds uid or altUid.
  std::atomic<uint32_t>* refusals = nullptr;
  ExchangeWait wait = EXCHANGE_WAIT_USLEEP_15;
  int sends = EXCHANGE_SENDS;
  int polls = EXCHANGE_POLLS;
  // Called after the polls of a send that got no answer, with the sends
  // still left (sends - 1 down to 0). Optional.
  void (*afterRound)(int sendsLeft) = nullptr;
};

// Sends `packet` and waits for its answer as described above, without
// opening or releasing the cable. EXCHANGE_ANSWERED or EXCHANGE_UNANSWERED;
// a send that fails ends the exchange at once with EXCHANGE_NO_CABLE or
// EXCHANGE_SEND_FAILED: no answer can come, and waiting would only freeze
// the caller.
int exchange_sendAndWait(Packet* packet, const Exchange& ex);
// The whole command: opens the cable (a send would open it on demand too),
// sends and waits, and releases the cable.
int exchange_run(Packet* packet, const Exchange& ex);
// What the operator is told when an exchange ended on the cable:
// "Cable not found!" or the failed send; null for any other result.
const char* exchange_cableText(int result);
