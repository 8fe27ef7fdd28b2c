#include "curve/curve_edit.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "curve/curve.h"
#include "curve/curve_undo.h"

int xSel = -1;
int yCursor = -1;

namespace {

// Plot margins in pixels: left, right, top, bottom; the edit area reaches
// this much further on every side.
enum { MARGIN_LEFT = 50, MARGIN_RIGHT = 20, MARGIN_TOP = 20, MARGIN_BOTTOM = 30, EDIT_BAND = 10 };
enum { NUDGE = 5 };  // output levels one wheel step moves a point

int w = 0;
int h = 0;

double xold = -1.0;
double xVect = -1.0;
bool paintG = false;  // freehand: left button held
bool paintV = false;  // straight line: right button held
int32_t bckCData[CURVE_POINTS];  // the curve as it was when the line drag began
UndoState strokeStart;           // the curve as it was when the stroke began
// Whether the keyboard moved the selection last: its cursor is then the
// selected point itself, and follows the curve wherever it changes.
bool cursorOnPoint = false;

bool hasPlot() { return get_spaceX() > 0 && -get_spaceY() > 0; }

int clampInt(long long v, int lo, int hi) {
  if (v < lo) return lo;
  if (v > hi) return hi;
  return (int)v;
}

double clampDouble(double v, double lo, double hi) {
  if (v < lo) return lo;
  if (v > hi) return hi;
  return v;
}

// x truncated toward zero; far-off or undefined positions are pinned well
// outside any view instead of overflowing the conversion.
long long truncPixel(double x) {
  const double limit = 1e9;
  if (std::isnan(x)) return (long long)-limit;
  return (long long)clampDouble(x, -limit, limit);
}

void clearEditing() {
  xSel = -1;
  yCursor = -1;
  xold = -1.0;
  xVect = -1.0;
  paintG = false;
  paintV = false;
  cursorOnPoint = false;
}

void onPress(int button, double xc) {
  if (button == 1) {
    paintG = true;
    paintV = false;
    xVect = -1.0;
  } else if (button == 3) {
    paintG = false;
    paintV = true;
    xVect = xc;
    memcpy(bckCData, cData, sizeof bckCData);
  }
}

// The point at level s moves by delta; its neighbours up to `a` on each side
// follow on straight segments. Nothing without a selection.
void nudge(int s, int delta, int a) {
  if (s < 0 || s >= CURVE_POINTS) return;
  const int v = cData[s] + delta;
  linear(clampInt((long long)s - a, 0, CURVE_POINTS - 1), s, v);
  linear(clampInt((long long)s + a, 0, CURVE_POINTS - 1), s, v);
}

// A nudge of the selected point as one undo step, joined to the nudges on
// the same level just before it.
void nudgeSelected(int delta, int a) {
  UndoState before, after;
  undo_takeCurve(before);
  const int s = xSel;
  nudge(s, delta, a);
  undo_takeCurve(after);
  undo_record(before, after, undo_nudgeRun(s));
}

// One wheel step of the selected point.
void onScroll(bool up, int a) {
  // The line drag ends with its line kept: without an anchor it could only
  // restore the snapshot and set single points.
  paintV = false;
  xVect = -1.0;
  if (paintG)
    nudge(xSel, up ? NUDGE : -NUDGE, a);  // part of the freehand stroke going on
  else
    nudgeSelected(up ? NUDGE : -NUDGE, a);
}

// The point under the pointer takes the pointer's level; the points out to
// the width on each side, and back to the previous point when the pointer
// skipped levels, are re-shaped into two straight segments.
void drawFreehand(int prev, int a) {
  const int s = xSel;
  long long lo = (long long)s - a;
  long long hi = (long long)s + a;
  if (prev >= 0) {
    if (prev < s) {
      if (prev < lo) lo = prev;
    } else if (prev > hi) {
      hi = prev;
    }
  }
  linear(clampInt(lo, 0, CURVE_POINTS - 1), s, yCursor);
  linear(clampInt(hi, 0, CURVE_POINTS - 1), s, yCursor);
}

// The line from the anchor to the pointer, always redrawn from the snapshot
// so earlier positions leave no trace.
void drawLine() {
  memcpy(cData, bckCData, sizeof bckCData);
  linear(getGraphPosX(xVect), getGraphPosX(xold), yCursor);
}

void writeLabel(char* label, size_t cap) {
  if (!label || cap == 0) return;
  if (xSel >= 0 && xSel < CURVE_POINTS)
    snprintf(label, cap, "Curve  %3d:%4d\nCursor %3d:%4d", xSel, cData[xSel], xSel,
             cursorOnPoint ? cData[xSel] : yCursor);
  else
    label[0] = 0;
}

}  // namespace

void curve_setSize(int width, int height) {
  w = width;
  h = height;
}
int curve_getWidth() { return w; }
int curve_getHeight() { return h; }

int get_bottX() { return MARGIN_LEFT; }
int get_topX() { return w - MARGIN_RIGHT; }
int get_topY() { return MARGIN_TOP; }
int get_bottY() { return h - MARGIN_BOTTOM; }
int get_spaceX() { return get_topX() - get_bottX(); }
int get_spaceY() { return get_topY() - get_bottY(); }

double get_pointX(int i) {
  i = clampInt(i, 0, CURVE_POINTS - 1);
  return (double)i * get_spaceX() / (CURVE_POINTS - 1) + get_bottX();
}

double get_pointY(int v) {
  v = clampInt(v, 0, CURVE_MAX);
  return (double)v * get_spaceY() / CURVE_MAX + get_bottY();
}

int getGraphPosX(double x) {
  const int space = get_spaceX();
  if (space <= 0) return -1;
  const long long t = (truncPixel(x) - get_bottX()) * 2550LL / space;
  return (int)(t / 10 + (t % 10 >= 6 ? 1 : 0));
}

int getGraphPosY(double y) {
  const int space = get_spaceY();
  if (space >= 0) return -1;
  const long long level = (truncPixel(y) - get_bottY()) * (long long)CURVE_MAX / space;
  return clampInt(level, -2147483647 - 1, 2147483647);
}

bool isInGraphCursorArea(double x, double y) {
  if (!hasPlot()) return false;
  return x >= get_bottX() - EDIT_BAND && x <= get_topX() + EDIT_BAND &&
         y >= get_topY() - EDIT_BAND && y <= get_bottY() + EDIT_BAND;
}

bool isInGraphPaintArea(double x, double y) {
  return x >= get_bottX() && x <= get_topX() && y >= get_topY() && y <= get_bottY();
}

double pointerInGraphX(double x) { return clampDouble(x, get_bottX(), get_topX()); }
double pointerInGraphY(double y) { return clampDouble(y, get_topY(), get_bottY()); }

void linear(int from, int to, int value) {
  if (to < 0 || to >= CURVE_POINTS) return;
  const int v = clampInt(value, 0, CURVE_MAX);
  cData[to] = v;
  if (from < 0 || from >= CURVE_POINTS || from == to) return;
  const long double start = cData[from];
  const int n = to > from ? to - from : from - to;
  const long double step = (start - v) / n;
  const int dir = to > from ? 1 : -1;
  long double cur = start;
  for (int i = from + dir; i != to; i += dir) {
    cur -= step;
    cData[i] = clampInt((long long)cur, 0, CURVE_MAX);
  }
}

double curve_getXVect() { return xVect; }
double curve_getXold() { return xold; }

CurveEditMode curve_getEditMode() {
  if (paintG) return CURVE_MODE_FREEHAND;
  if (paintV) return CURVE_MODE_LINE;
  return CURVE_MODE_IDLE;
}

void curve_resetEditing() {
  clearEditing();
  memset(bckCData, 0, sizeof bckCData);
}

namespace {

int applyEvent(const CurveEvent& ev, int approx, char* label, size_t labelCap) {
  if (!isInGraphCursorArea(ev.x, ev.y)) {
    clearEditing();
    writeLabel(label, labelCap);
    return CURVE_POINTER_OUTSIDE;
  }
  const int a = approx < 0 ? 0 : approx;
  const double xc = pointerInGraphX(ev.x);
  const int yc = (int)pointerInGraphY(ev.y);

  switch (ev.kind) {
    case CURVE_EV_PRESS:
      onPress(ev.button, xc);
      break;
    case CURVE_EV_RELEASE:
      paintG = false;
      paintV = false;
      xVect = -1.0;
      break;
    case CURVE_EV_SCROLL:
      onScroll(ev.scrollUp, a);
      break;
    default:  // motion, and anything else, only moves the pointer
      break;
  }

  const int prev = xSel;
  if (xc != xold) {
    xold = xc;
    xSel = getGraphPosX(xc);
  }
  yCursor = getGraphPosY(yc);
  cursorOnPoint = false;

  if (paintG) drawFreehand(prev, a);
  if (paintV && xVect != xold) drawLine();

  writeLabel(label, labelCap);
  return CURVE_POINTER_INSIDE;
}

}  // namespace

int curve_handleEvent(const CurveEvent& ev, int approx, char* label, size_t labelCap) {
  // A stroke, press to release (or to whatever else ends it), is one undo
  // step. A wheel step that ends a line drag ends the stroke first, so the
  // line and the nudge are two steps; one during a freehand stroke is part
  // of the stroke.
  UndoState before;
  undo_takeCurve(before);
  const bool wasDrawing = curve_getEditMode() != CURVE_MODE_IDLE;
  const bool lineEndsByWheel = curve_getEditMode() == CURVE_MODE_LINE &&
                               ev.kind == CURVE_EV_SCROLL && isInGraphCursorArea(ev.x, ev.y);
  if (lineEndsByWheel) undo_record(strokeStart, before, 0);
  const int where = applyEvent(ev, approx, label, labelCap);
  const bool drawing = curve_getEditMode() != CURVE_MODE_IDLE;
  if (!wasDrawing && drawing) strokeStart = before;
  if (wasDrawing && !drawing && !lineEndsByWheel) {
    UndoState after;
    undo_takeCurve(after);
    undo_record(strokeStart, after, 0);
  }
  return where;
}

bool curve_handleKey(int key, bool shift, int approx, char* label, size_t labelCap) {
  if (curve_getEditMode() != CURVE_MODE_IDLE) return false;  // the mouse is drawing
  const int a = approx < 0 ? 0 : approx;
  const int last = CURVE_POINTS - 1;
  switch (key) {
    case CURVE_KEY_LEFT:
      xSel = xSel < 0 ? 0 : clampInt(xSel - 1, 0, last);
      break;
    case CURVE_KEY_RIGHT:
      xSel = xSel < 0 ? 0 : clampInt(xSel + 1, 0, last);
      break;
    case CURVE_KEY_HOME:
      xSel = 0;
      break;
    case CURVE_KEY_END:
      xSel = last;
      break;
    case CURVE_KEY_UP:
    case CURVE_KEY_DOWN: {
      const int step = shift ? CURVE_KEY_SHIFT_STEP : CURVE_KEY_STEP;
      nudgeSelected(key == CURVE_KEY_UP ? step : -step, a);
      break;
    }
    case CURVE_KEY_PAGE_UP:
    case CURVE_KEY_PAGE_DOWN:
      nudgeSelected(key == CURVE_KEY_PAGE_UP ? CURVE_KEY_PAGE_STEP : -CURVE_KEY_PAGE_STEP, a);
      break;
    default:
      return false;
  }
  // The keyboard's cursor is the selected point itself.
  cursorOnPoint = true;
  if (xSel >= 0 && xSel <= last) yCursor = cData[xSel];
  writeLabel(label, labelCap);
  return true;
}

void curve_formatLabel(char* label, size_t labelCap) { writeLabel(label, labelCap); }
