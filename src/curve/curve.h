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

// Sets the record's name from text: at most 11 bytes, then a zero; the rest
// of the name field is zeroed. The text is cut only between whole UTF-8
// characters, and bytes that are not valid UTF-8 become '?', so the name is
// always fit for a text entry.
void curve_setName(CurveRecord* rec, const char* text);
// The same from the first `len` bytes of text (a zero byte ends it earlier).
void curve_setNameN(CurveRecord* rec, const char* text, size_t len);
