// The device table: what we know about each device on the line, looked up
// by its UID. Discovery enters found UIDs; the answer handlers of the setup
// and DALI commands store what devices report; the dialogs read records.
//
// A record is free while its uid is 0. Lookups scan all records from the
// first; a UID that is not there claims the first free record ("look up or
// claim"), so a device that answers before anything entered it gets its
// record all the same.
//
// The table is written by answer handlers on whichever thread collects the
// answers (the discovery worker or the GUI thread) and read by the GUI
// thread, also from timers while a command runs: every operation here takes
// the table's guard. Readers on another thread than the writer take a copy
// with dev_copy; getDevUID's pointer is for the thread that runs the
// commands.
#pragma once

#include <cstdint>

enum {
  DEV_TABLE_SIZE = 200,
  DEV_DALI_SIZE = 64,
  DEV_LOSS_MODES = 3,  // named modes in lossOfDmx, before its closing ""
  DEV_LOSS_TEXT_SIZE = 8,  // longest name with its terminator
  DEV_VER_TEXT_SIZE = 16,  // "ver.%d.%d;" of two bytes, with the terminator
};

struct DaliEntry {
  uint8_t shortAddr;
  uint32_t randomAddr;  // 24 bits
  uint8_t read;         // 1 once the device reported this entry; 0: counted, never read
};

struct Device {
  uint32_t uid;  // 0 = record free
  uint16_t addr;
  uint8_t lossOfDmx;
  uint8_t display[2];  // sleep seconds, backlight percent
  uint8_t limit[2];    // up, down
  uint8_t daliCount;
  DaliEntry dali[DEV_DALI_SIZE];
  uint8_t ver[2];  // major, minor
  uint8_t answered;  // 1 once the device answered a settings read; 0 after a read it left unanswered
};

// "HOLD", "to 0%", "to 100%", then "" that ends the list.
extern const char* const lossOfDmx[DEV_LOSS_MODES + 1];

// Claims the first free record for uid without looking for it first; the
// record's index, or -1 when the table is full.
int addDevUID(uint32_t uid);
// The record of uid, or null; never claims.
Device* getDevUID(uint32_t uid);
// Look up or claim: the record's index, or -1 when absent and the table is full.
int findDevUID(uint32_t uid);
// Copies the record of uid into out under the table's guard; false (out
// untouched) when uid has no record. Never claims.
bool dev_copy(uint32_t uid, Device* out);
// Records in use.
int dev_count();
// A number that changes with every change of the table (every setter, every
// clear, the answered mark), so that a reader can tell whether its copies
// are still current without comparing them. Never 0.
uint32_t dev_generation();
// Marks uid's record as having answered a settings read (look up or claim),
// or as having left one unanswered (only an existing record). Returns 0.
int dev_setAnswered(uint32_t uid, bool answered);

// Empties the table. Returns 0.
int dev_removeAll();
// Keeps every record's uid and clears its settings. Returns 0.
int dev_removeAllSetup();

// Look up or claim; addr, or -1 when the table is full.
int dev_getAddr(uint32_t uid);
// Look up or claim; the mode, or -1 when the table is full. With text (at
// least DEV_LOSS_TEXT_SIZE bytes), the mode's name: lossOfDmx[mode & 3].
int dev_getLossOfDmxStr(uint32_t uid, char* text);
// Look up or claim; when the major version is 1, 2 or 3 writes
// "ver.%d.%d;" into text (at least DEV_VER_TEXT_SIZE bytes) and returns its
// length; otherwise writes nothing and returns 0 (-1 when the table is full).
int dev_getVerStr(uint32_t uid, char* text);
// The version text of a record as dev_getVerStr writes it ("ver.%d.%d;"
// for a major version 1..3, else ""). Returns its length.
int dev_verText(const Device* d, char* text, int size);
// Formats a version given as a count c and c components: each "%d." (the
// third as "%c." when above 64), then "; ". Writes at most size bytes with
// the terminator; returns the length written.
int getVerStr(char* text, int size, const uint8_t* bytes);

// Setters: look up or claim the record, copy from the answer bytes, return
// 0 (also when the table is full and nothing was stored).
int dev_setAddr(uint32_t uid, const uint8_t* bytes);        // 2 bytes, little-endian
int dev_setLossOfDmx(uint32_t uid, const uint8_t* bytes);   // 1 byte
int dev_setDisplay(uint32_t uid, const uint8_t* bytes);     // sleep, backlight
int dev_setLimit(uint32_t uid, const uint8_t* bytes);       // up, down
int dev_setDaliCount(uint32_t uid, const uint8_t* bytes);   // 1 byte; prints "%X DALI:%d"
int dev_setDaliDev(uint32_t uid, const uint8_t* bytes);     // position, short, 24-bit LE
int dev_setVer(uint32_t uid, const uint8_t* bytes);         // major, minor
