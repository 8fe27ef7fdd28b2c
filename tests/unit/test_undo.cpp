#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "curve/curve.h"
#include "curve/curve_edit.h"
#include "curve/curve_undo.h"
#include "../support/curve_fixture.h"

namespace {

class Undo : public CurveFixture {
 protected:
  void SetUp() override {
    CurveFixture::SetUp();
    undo_clear();
  }
  void TearDown() override {
    CurveFixture::TearDown();
    undo_clear();
  }
  void send(int kind, int level, double y, int button = 0, bool up = false) {
    event(kind, col(level), y, button, up);
  }
  void key(int k, bool shift = false, int approx = 5) {
    EXPECT_TRUE(curve_handleKey(k, shift, approx, label, sizeof label));
  }
  static UndoState now() {
    UndoState s;
    undo_takeCurve(s);
    return s;
  }
  static bool same(const UndoState& a, const UndoState& b) {
    return memcmp(a.values, b.values, sizeof a.values) == 0;
  }
  // Undoes one step and puts it into the curve, as the window does.
  bool undo() {
    UndoState s = now();
    if (!undo_undo(s)) return false;
    undo_putCurve(s);
    return true;
  }
  bool redo() {
    UndoState s = now();
    if (!undo_redo(s)) return false;
    undo_putCurve(s);
    return true;
  }
};

}  // namespace

TEST_F(Undo, AStrokeIsOneStepFromPressToRelease) {
  const UndoState start = now();
  send(CURVE_EV_MOTION, 60, 200);
  send(CURVE_EV_PRESS, 60, TOP, 1);
  for (int lv = 70; lv <= 150; lv += 10) send(CURVE_EV_MOTION, lv, TOP);
  EXPECT_FALSE(undo_canUndo()) << "nothing is recorded while the stroke goes on";
  send(CURVE_EV_RELEASE, 150, TOP);
  const UndoState drawn = now();
  ASSERT_FALSE(same(start, drawn));
  EXPECT_TRUE(undo());
  EXPECT_TRUE(same(now(), start));
  EXPECT_FALSE(undo_canUndo());
  EXPECT_TRUE(redo());
  EXPECT_TRUE(same(now(), drawn));
  EXPECT_FALSE(undo_canRedo());

  // A line drag that ends by leaving the edit area is a step too; a click
  // that changes nothing is none.
  send(CURVE_EV_PRESS, 10, BOTTOM, 3);
  send(CURVE_EV_MOTION, 200, TOP);
  CurveEvent away{CURVE_EV_MOTION, 435, TOP, 0, false};
  curve_handleEvent(away, 5, label, sizeof label);
  const UndoState line = now();
  send(CURVE_EV_PRESS, 200, TOP, 3);
  send(CURVE_EV_RELEASE, 200, TOP);
  EXPECT_TRUE(undo());
  EXPECT_TRUE(same(now(), drawn)) << "the empty click made a step of its own";
  EXPECT_TRUE(redo());
  EXPECT_TRUE(same(now(), line));
}

TEST_F(Undo, NudgesOnOneLevelAreOneStepWheelAndKeysAlike) {
  const UndoState start = now();
  send(CURVE_EV_MOTION, 100, 200);
  send(CURVE_EV_SCROLL, 100, 200, 0, true);
  send(CURVE_EV_SCROLL, 100, 200, 0, true);
  key(CURVE_KEY_UP);
  key(CURVE_KEY_PAGE_DOWN);
  const UndoState nudged100 = now();
  key(CURVE_KEY_RIGHT);  // level 101: a new run
  key(CURVE_KEY_UP, true);
  EXPECT_TRUE(undo());
  EXPECT_TRUE(same(now(), nudged100));
  EXPECT_TRUE(undo());
  EXPECT_TRUE(same(now(), start));
  EXPECT_FALSE(undo_canUndo());
  // An undo ends the run: nudging the same level (101) again is a step of
  // its own.
  EXPECT_TRUE(redo());
  key(CURVE_KEY_DOWN);
  EXPECT_FALSE(undo_canRedo()) << "a new change clears redo";
  EXPECT_TRUE(undo());
  EXPECT_TRUE(same(now(), nudged100));
  key(CURVE_KEY_DOWN);
  EXPECT_TRUE(undo());
  EXPECT_TRUE(same(now(), nudged100)) << "the nudge after an undo joined the step before it";
}

TEST_F(Undo, AWheelStepEndingALineDragIsAStepOfItsOwn) {
  const UndoState start = now();
  send(CURVE_EV_PRESS, 0, BOTTOM, 3);
  send(CURVE_EV_MOTION, 100, TOP);
  const UndoState line = now();
  send(CURVE_EV_SCROLL, 100, TOP, 0, false);
  EXPECT_TRUE(undo());
  EXPECT_TRUE(same(now(), line));
  EXPECT_TRUE(undo());
  EXPECT_TRUE(same(now(), start));
}

TEST_F(Undo, NamedStepsBringTheirNamesAndTheHistoryKeepsTheNewestSteps) {
  // A preset as the window records it: the name before and after count.
  UndoState before = now(), after;
  before.named = true;
  strcpy(before.name, "Caf\xE9");
  CurveRecord rec;
  curve_presetCurve2(&rec);
  curve_setData(&rec);
  after = now();
  after.named = true;
  strcpy(after.name, rec.name);
  undo_record(before, after, 0);
  UndoState s = now();
  strcpy(s.name, "typed");  // what the entry shows now
  s.named = true;
  ASSERT_TRUE(undo_undo(s));
  EXPECT_TRUE(s.named);
  EXPECT_STREQ(s.name, "Caf\xE9");
  undo_putCurve(s);
  s = now();
  strcpy(s.name, "Caf\xE9");
  s.named = true;
  ASSERT_TRUE(undo_redo(s));
  EXPECT_STREQ(s.name, "typed") << "redo brings back the name undo replaced";
  // A stroke keeps the name: neither its undo nor its redo brings one.
  undo_putCurve(s);
  const UndoState preset = now();
  send(CURVE_EV_PRESS, 30, TOP, 1);
  send(CURVE_EV_RELEASE, 30, TOP);
  s = now();
  s.named = true;
  ASSERT_TRUE(undo_undo(s));
  EXPECT_FALSE(s.named);
  EXPECT_TRUE(same(s, preset));
  undo_putCurve(s);
  s = now();
  s.named = true;
  ASSERT_TRUE(undo_redo(s));
  EXPECT_FALSE(s.named) << "redoing a stroke would overwrite the name";

  // 250 changes: the newest UNDO_STEPS (at least 100) can be undone.
  undo_clear();
  for (int i = 1; i <= 250; i++) {
    UndoState b = now();
    cData[0] = i;
    undo_record(b, now(), 0);
  }
  int steps = 0;
  while (undo()) steps++;
  EXPECT_GE(UNDO_STEPS, 100);
  EXPECT_EQ(steps, UNDO_STEPS);
  EXPECT_EQ(cData[0], 250 - UNDO_STEPS);
}

TEST_F(Undo, KeysMoveTheSelectionAndNudgeLikeTheWheel) {
  key(CURVE_KEY_LEFT);  // no selection: level 0
  EXPECT_EQ(xSel, 0);
  key(CURVE_KEY_LEFT);
  EXPECT_EQ(xSel, 0);
  key(CURVE_KEY_END);
  key(CURVE_KEY_RIGHT);
  EXPECT_EQ(xSel, 255);
  key(CURVE_KEY_HOME);
  key(CURVE_KEY_RIGHT);
  EXPECT_EQ(xSel, 1);
  // Each output key applied with the width exactly as the wheel's step is:
  // the same two segments from the unchanged points s - a and s + a.
  const struct {
    int key;
    bool shift;
    int delta;
  } cases[] = {{CURVE_KEY_UP, false, 1},       {CURVE_KEY_DOWN, false, -1},
               {CURVE_KEY_UP, true, 16},       {CURVE_KEY_DOWN, true, -16},
               {CURVE_KEY_PAGE_UP, false, 256}, {CURVE_KEY_PAGE_DOWN, false, -256}};
  for (int approx : {0, 3}) {
    for (const auto& c : cases) {
      send(CURVE_EV_MOTION, 128, 200);
      int32_t expect[CURVE_POINTS];
      memcpy(expect, cData, sizeof expect);
      int32_t saved[CURVE_POINTS];
      memcpy(saved, cData, sizeof saved);
      const int v = cData[128] + c.delta;
      linear(128 - approx, 128, v);
      linear(128 + approx, 128, v);
      memcpy(expect, cData, sizeof expect);
      memcpy(cData, saved, sizeof saved);
      key(c.key, c.shift, approx);
      for (int i = 0; i < CURVE_POINTS; i++)
        ASSERT_EQ(cData[i], expect[i]) << "key " << c.key << " shift " << c.shift << " width " << approx
                                       << " level " << i;
    }
  }
  char want[CURVE_LABEL_SIZE];
  snprintf(want, sizeof want, "Curve  128:%4d\nCursor 128:%4d", cData[128], cData[128]);
  EXPECT_STREQ(label, want) << "the label follows the keys";
  cData[128] = 4090;
  key(CURVE_KEY_PAGE_UP, false, 0);
  EXPECT_EQ(cData[128], 4095);
  EXPECT_FALSE(curve_handleKey(99, false, 5, label, sizeof label));
}
