// The curve view's geometry and the mouse editing of the current curve,
// without any toolkit: the view hands each pointer event to
// curve_handleEvent and repaints afterwards.
//
// Plot rectangle, in view pixels with y growing downward: input 0 at x = 50,
// input 255 at x = w - 20, output 4095 at y = 20, output 0 at y = h - 30.
// The edit area is the plot widened by 10 pixels on every side.
#pragma once

#include <cstddef>

// The view's size in pixels; 0 until the view is first configured.
void curve_setSize(int w, int h);
int curve_getWidth();
int curve_getHeight();

int get_bottX();   // 50: x of input 0
int get_topX();    // w - 20: x of input 255
int get_topY();    // 20: y of output 4095
int get_bottY();   // h - 30: y of output 0
int get_spaceX();  // w - 70: plot width
int get_spaceY();  // 50 - h: plot height, negative as y grows downward

// Pixel position of input level i (clamped to 0..255).
double get_pointX(int i);
// Pixel position of output level v (clamped to 0..4095).
double get_pointY(int v);
// Input level of pixel column x: x truncated to n, t = (n - 50) * 2550 /
// (w - 70) truncated, level t / 10 rounded up only when t % 10 >= 6. Columns
// left of the plot give negative levels (x = -1 at w = 440: -35). -1 while
// the plot has no width.
int getGraphPosX(double x);
// Output level of pixel row y: y truncated to n, (n - (h - 30)) * 4095 /
// (50 - h) truncated; 4095 at the top edge, 0 at the bottom edge. -1 while
// the plot has no height.
int getGraphPosY(double y);
// True when 40 <= x <= w - 10 and 10 <= y <= h - 20. Never true while the
// plot has no width or height (size not yet set, or below 71 x 51).
bool isInGraphCursorArea(double x, double y);
// True inside the plot rectangle: 50 <= x <= w - 20 and 20 <= y <= h - 30.
bool isInGraphPaintArea(double x, double y);
// x clamped to 50..w - 20, y clamped to 20..h - 30.
double pointerInGraphX(double x);
double pointerInGraphY(double y);

// Writes a straight segment into the current curve: `to` gets `value`
// (clamped to 0..4095), `from` keeps its value, and the points strictly
// between step from one to the other. The step and the running value are
// held in extended precision and the running value is built by repeated
// subtraction, each stored value truncated toward zero. A `to` outside
// 0..255 does nothing; a `from` outside 0..255, or equal to `to`, sets only
// `to`.
void linear(int from, int to, int value);

// Editing state. xSel: selected input level (-1: none); yCursor: output level
// at the pointer's height (-1: pointer outside).
extern int xSel;
extern int yCursor;
// Anchor column of a straight-line drag; -1.0 when there is none.
double curve_getXVect();
// The clamped pointer column at which xSel was last computed; -1.0 after a
// reset.
double curve_getXold();

enum CurveEditMode { CURVE_MODE_IDLE, CURVE_MODE_FREEHAND, CURVE_MODE_LINE };
CurveEditMode curve_getEditMode();

// Back to the start: no selection, no anchor, idle, empty snapshot. The view
// size is kept.
void curve_resetEditing();

// The pointer events the view passes on; the kinds are the integers the view
// connects its handlers with.
enum CurveEventKind {
  CURVE_EV_PRESS = 2,
  CURVE_EV_RELEASE = 3,
  CURVE_EV_SCROLL = 4,
  CURVE_EV_MOTION = 5,
};
struct CurveEvent {
  int kind;       // a CurveEventKind
  double x, y;    // pointer position in view pixels
  int button;     // press: 1 left (freehand), 3 right (straight line)
  bool scrollUp;  // scroll: up raises the selected point by 5, else lowers it
};

enum { CURVE_LABEL_SIZE = 64 };
// Results of curve_handleEvent.
enum { CURVE_POINTER_INSIDE = 0, CURVE_POINTER_OUTSIDE = 1 };

// Applies one pointer event to the editing state and the current curve, with
// approximation width `approx` (neighbours on each side that follow a
// freehand or wheel change; negative counts as 0). Writes the status label
// ("Curve  %3d:%4d\nCursor %3d:%4d", or empty without a selection) into
// `label` when it is not null, cut to labelCap bytes.
//
// Returns CURVE_POINTER_OUTSIDE when the event lay outside the edit area:
// selection, anchor and drag were reset, nothing of the curve changed, and
// the view should give the window back its default cursor. Otherwise
// CURVE_POINTER_INSIDE. Either way the view repaints afterwards.
//
// A scroll during a straight-line drag ends the drag, keeping the line as
// drawn, and then nudges the selected point. Each stroke (press to release,
// or to the event that ends it) is one undo step, and so is each run of
// wheel steps on the same level (curve_undo). A freehand press with no
// previous selection shapes only the width around the point under the
// pointer.
int curve_handleEvent(const CurveEvent& ev, int approx, char* label, size_t labelCap);

// Keyboard editing of the selected point: Left and Right move the selection
// one level (from no selection to level 0), Home and End to 0 and 255; Up
// and Down change the point's output by 1 (by 16 with shift), Page Up and
// Page Down by 256, its neighbours following over the approximation width
// exactly as for a wheel step. Keys do nothing while the mouse draws and
// output keys nothing without a selection. Each change is an undo step,
// joined with the nudges on the same level just before it. The label's
// cursor line shows the selected point's value. Returns false for a key it
// does not use.
enum CurveKey {
  CURVE_KEY_LEFT,
  CURVE_KEY_RIGHT,
  CURVE_KEY_HOME,
  CURVE_KEY_END,
  CURVE_KEY_UP,
  CURVE_KEY_DOWN,
  CURVE_KEY_PAGE_UP,
  CURVE_KEY_PAGE_DOWN,
};
enum { CURVE_KEY_STEP = 1, CURVE_KEY_SHIFT_STEP = 16, CURVE_KEY_PAGE_STEP = 256 };
bool curve_handleKey(int key, bool shift, int approx, char* label, size_t labelCap);
// The status label for the current selection and the curve as it is now,
// as curve_handleEvent writes it. Its cursor line shows the pointer's level,
// or, while the keyboard moved the selection last, the selected point's
// value (so it follows presets, reads, undo and redo too).
void curve_formatLabel(char* label, size_t labelCap);
