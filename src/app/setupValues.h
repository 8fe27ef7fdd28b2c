// What the device setup dialog does with its texts and combo boxes, free of
// GTK: the checks of the entered values with their messages, and how the
// sleep and loss-of-DMX combo boxes map to stored and sent values.
#pragma once

#include "device/app_setup.h"

// One bit for each check that fails, in the order of the messages.
enum {
  SETUP_BAD_ADDR = 1,       // not a number, or not 1..512
  SETUP_BAD_BACKLIGHT = 2,  // not a number, or not 0..100
  SETUP_BAD_UP = 4,         // not a number, or not 0..255
  SETUP_BAD_DOWN = 8,       // not a number, or not 0..255
  SETUP_BAD_ORDER = 16,     // both limits valid and down above up
};

// Converts the four texts with "%d" into values (addr, backlight, limitUp,
// limitDown) and checks them; appends the message of every failed check to
// values->errorText, in the order of the bits. Returns the bits.
int setupValues_check(const char* addr, const char* backlight, const char* up, const char* down,
                      SetupValues* values);

enum {
  SETUP_SLEEP_FIRST = 5,      // the first number after "Off"
  SETUP_SLEEP_LAST = 100,
  SETUP_SLEEP_ENTRIES = 1 + SETUP_SLEEP_LAST - SETUP_SLEEP_FIRST + 1,  // "Off", "5".."100"
  SETUP_LOSS_ENTRIES = 3,     // "HOLD", "to 0%", "to 100%"
  SETUP_COMBO_TEXT_SIZE = 16,
};

// The sleep combo: "Off" stands for 0, and every other entry for the number
// it shows. A stored value with no entry of its own (1..4, above 100) gets
// one more entry at the end that shows it, so that OK sends it unchanged.
// Number of entries for a stored value (SETUP_SLEEP_ENTRIES, or one more).
int setupValues_sleepEntries(int stored);
// The text of entry i.
void setupValues_sleepText(int i, int stored, char* text, int size);
// The entry a stored value selects, and the value entry i sends.
int setupValues_sleepPosition(int stored);
int setupValues_sleepValue(int i, int stored);

// The loss-of-DMX combo: the mode names; a stored mode above 2 gets one more
// entry, "mode %d", which sends it unchanged.
int setupValues_lossEntries(int stored);
void setupValues_lossText(int i, int stored, char* text, int size);
int setupValues_lossPosition(int stored);
int setupValues_lossValue(int i, int stored);
