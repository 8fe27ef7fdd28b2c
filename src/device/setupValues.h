// What the device setup dialog does with its texts and combo boxes, free of
// GTK: the checks of the entered values with their messages, and how the
// sleep and loss-of-DMX combo boxes map to stored and sent values. The
// commissioning module and `tern` check values given in files and on the
// command line here too, with the same messages.
#pragma once

#include "device/app_setup.h"

// One bit for each check that fails, in the order of the messages.
enum {
  SETUP_BAD_ADDR = 1,       // not a number, or not 1..512
  SETUP_BAD_BACKLIGHT = 2,  // not a number, or not 0..100
  SETUP_BAD_UP = 4,         // not a number, or not 0..255
  SETUP_BAD_DOWN = 8,       // not a number, or not 0..255
  SETUP_BAD_ORDER = 16,     // both limits valid and down above up
  SETUP_BAD_SLEEP = 32,     // not an entry of the sleep combo box
  SETUP_BAD_LOSS = 64,      // not an entry of the loss-of-DMX combo box
};

// Converts the four texts with "%d" into values (addr, backlight, limitUp,
// limitDown) and checks them; appends the message of every failed check to
// values->errorText, in the order of the bits. Returns the bits.
int setupValues_check(const char* addr, const char* backlight, const char* up, const char* down,
                      SetupValues* values);
// The same checks for texts that come from a file or a command line rather
// than an entry: a text counts as a number only when it is a whole decimal
// number (blanks around it allowed), so "12abc" is refused, not read as 12.
int setupValues_checkStrict(const char* addr, const char* backlight, const char* up,
                            const char* down, SetupValues* values);
// That rule alone: whether text is a whole decimal number within lo..hi
// (stored in value when it is a number at all).
bool setupValues_wholeNumber(const char* text, int lo, int hi, int32_t* value);

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

// A sleep or loss-of-DMX value given as text instead of chosen in the combo
// box: valid when it names an entry the combo box offers for the stored
// value, by the entry's text (in any case: "off", "to 0%") or by the number
// the entry sends. Stores the value and returns 0; otherwise appends the
// message ("Sleep [second]:\n \"%s\"\n\nis not valid.\n", likewise "Loss Of
// DMX:") to values->errorText and returns SETUP_BAD_SLEEP or SETUP_BAD_LOSS.
int setupValues_sleepFromText(const char* text, int stored, int32_t* value, SetupValues* values);
int setupValues_lossFromText(const char* text, int stored, int32_t* value, SetupValues* values);
// Those two messages alone, appended for the text.
void setupValues_sleepMessage(const char* text, SetupValues* values);
void setupValues_lossMessage(const char* text, SetupValues* values);
