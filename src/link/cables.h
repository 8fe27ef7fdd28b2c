// Several lines, each with its own cable: which converters are attached and
// who holds each, and which one this process uses. The choice is a serial
// number, made once at start from --cable SERIAL or TERN_CABLE (or from a
// window's Cable menu between commands); the cable layer then opens that
// converter by its serial number, and without a choice converter 0, the
// first listed. A process holds only the converter it uses.
//
// Errors: cables_list returns -1 when the converters cannot be listed;
// cables_checkSerial returns false with the reason. No GTK, no dialogs.
#pragma once

#include <cstddef>

#include "platform/ftd2xx.h"

enum { CABLES_SERIAL_MAX = FT_SERIAL_LEN - 1 };

// Who holds a converter.
enum CableState {
  CABLE_FREE = PORT_STATE_FREE,                    // nobody: it can be used
  CABLE_HERE = PORT_STATE_HERE,                    // this program
  CABLE_IN_USE = PORT_STATE_IN_USE,                // another program (another Tern)
  CABLE_NO_PERMISSION = PORT_STATE_NO_PERMISSION,  // the user may not open it
};

struct CableEntry {
  char serial[FT_SERIAL_LEN];            // empty when it cannot be read
  char description[FT_DESCRIPTION_LEN];  // empty when it cannot be read
  CableState state;
  bool chosen;  // the converter this process uses: the chosen serial, or converter 0
};

// Lists every converter attached with its state, at most `capacity`.
// Returns how many, or -1 when the listing failed. Waits while another
// thread's command holds the cable.
int cables_list(CableEntry* out, int capacity);
// "free", "in use by this program", "in use by another program", "no permission".
const char* cables_stateText(CableState state);
// The word scripts get for a state: "free", "here", "in-use", "no-permission".
const char* cables_stateName(CableState state);
// What the user can do about a state, or null (free, here).
const char* cables_stateHint(CableState state);

// Whether `text` can be a converter's serial number: 1 to 15 printable
// characters, no blank and no '/'. Else false with the reason in `why`.
bool cables_checkSerial(const char* text, char* why, size_t cap);
// Makes `serial` the converter this process uses; null or empty: converter
// 0, as without a choice. A converter held from an earlier choice is given
// back to the system. Call it while no command holds the cable.
void cables_choose(const char* serial);
// The chosen serial number, "" when none.
const char* cables_chosen();
// The choice of a program at start: `option` (--cable) when given, else the
// environment's TERN_CABLE when set. False (nothing chosen) with the
// reason in `why` when the serial number is not one.
bool cables_chooseAtStart(const char* option, char* why, size_t cap);
