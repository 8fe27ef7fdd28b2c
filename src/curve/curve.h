// The current dimming curve: 256 input levels, each mapped to a 12-bit output
// level, and the record in which a curve goes to files and to the devices.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "CurveRecord is laid out as its little-endian wire image"
#endif

enum {
  CURVE_POINTS = 256,    // input levels 0..255
  CURVE_MAX = 4095,      // highest output level
  CURVE_NAME_SIZE = 12,  // name bytes in the record, terminator included
};

// The image of a curve as files and the transfer use it, byte for byte:
// a zero-terminated name of at most 11 bytes, then the output levels of
// inputs 0..255 as little-endian 16-bit numbers. 524 bytes, no padding.
#pragma pack(push, 1)
struct CurveRecord {
  char name[CURVE_NAME_SIZE];
  uint16_t values[CURVE_POINTS];
};
#pragma pack(pop)
static_assert(sizeof(CurveRecord) == 524, "CurveRecord must be its 524-byte image");

// The current curve, indexed by input level; every writer keeps each value
// within 0..4095. All zero at start.
extern int32_t cData[CURVE_POINTS];

// Stores `value` clamped to 0..4095 at `index`; an index outside 0..255 is
// ignored.
void setCData(int index, int value);
// Copies the current curve into the record's values; the name is left as it
// is. Returns 256 (0 for a null record).
int curve_getData(CurveRecord* rec);
// Copies the record's values into the current curve (each clamped to
// 0..4095), then calls the repaint hook. The name is not used.
void curve_setData(const CurveRecord* rec);
// The function curve_setData calls after a change (the view's repaint);
// null calls nothing.
void curve_setRepaintHook(void (*hook)());

// Fills the whole record with a preset; the caller hands it to
// curve_setData and shows its name.
// "LINEAR": value[i] = i * 4095 / 255 (0, 16, 32, ..., 4078, 4095).
void curve_presetLinear(CurveRecord* rec);
// "Curve2": value[i] = (255 - i) * 4095 / 255 (4095 down to 0).
void curve_presetCurve2(CurveRecord* rec);
// "DALI LOG": the logarithmic dimming curve of DALI lamps, value[0] = 0 and
// value[i] = round(4095 * 10^(3 * (i - 255) / 254)) for i = 1..255
// (4 at 1, 4095 at 255).
void curve_presetDaliLog(CurveRecord* rec);
// "GAMMA 2.2": value[i] = round(4095 * (i / 255)^2.2).
void curve_presetGamma22(CurveRecord* rec);

// Sets the record's name from text: at most 11 bytes, then a zero; the rest
// of the name field is zeroed. A name is one line of text: control
// characters (bytes 0x01..0x1F and 0x7F, and U+0080..U+009F written in
// UTF-8) are dropped wherever they stand. Every other byte is kept as it is,
// also bytes that are not UTF-8 (a name written in an 8-bit code page keeps
// its bytes). The text is cut only between whole UTF-8 characters; a byte
// that is not part of one counts as a character of its own.
void curve_setName(CurveRecord* rec, const char* text);
// The same from the first `len` bytes of text (a zero byte ends it earlier).
void curve_setNameN(CurveRecord* rec, const char* text, size_t len);

// A name rendered as UTF-8 for display (a text entry takes nothing else):
// well-formed UTF-8 is copied, every other byte is read as Windows-1252
// (0xE9 is U+00E9; the five unassigned bytes show as U+FFFD). 11 name bytes
// give at most 33 bytes of text.
enum { CURVE_NAME_TEXT_SIZE = 3 * (CURVE_NAME_SIZE - 1) + 1 };
void curve_nameToText(const char* name, char* text, size_t cap);

// The name shown in the name entry, kept beside it as the record holds it.
// curve_showName remembers `name` (cut to 11 bytes) and returns the text to
// put into the entry; curve_nameFromEntry sets the record's name from the
// entry's text: the remembered bytes while the text is still the one shown
// for them, else the text itself (curve_setName). Start: the empty name.
const char* curve_showName(const char* name);
void curve_nameFromEntry(CurveRecord* rec, const char* entryText);
