// The curve label reads the curve as it is after changes that do not come
// from the pointer: undo and presets, under a cursor the keyboard placed
// (which is the selected point) and under one the pointer placed (which
// stays where the pointer is).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "../support/curve_fixture.h"
#include "curve/curve_undo.h"

namespace {

class Readout : public CurveFixture {
 protected:
  void SetUp() override {
    CurveFixture::SetUp();
    undo_clear();
  }
  void TearDown() override {
    undo_clear();
    CurveFixture::TearDown();
  }
  std::string shown() {
    char text[CURVE_LABEL_SIZE];
    curve_formatLabel(text, sizeof text);
    return text;
  }
  static std::string reads(int level, int curve, int cursor) {
    char text[CURVE_LABEL_SIZE];
    snprintf(text, sizeof text, "Curve  %3d:%4d\nCursor %3d:%4d", level, curve, level, cursor);
    return text;
  }
  static void load(void (*preset)(CurveRecord*)) {
    CurveRecord rec;
    preset(&rec);
    curve_setData(&rec);
  }
};

const int kLinear101 = 101 * 4095 / 255;
const int kCurve2At101 = (255 - 101) * 4095 / 255;

}  // namespace

TEST_F(Readout, TheKeyboardsCursorFollowsThePoint) {
  event(CURVE_EV_MOTION, col(100), TOP);
  ASSERT_TRUE(curve_handleKey(CURVE_KEY_RIGHT, false, 5, label, sizeof label));
  ASSERT_TRUE(curve_handleKey(CURVE_KEY_UP, true, 5, label, sizeof label));
  ASSERT_EQ(std::string(label), reads(101, kLinear101 + 16, kLinear101 + 16));

  UndoState s;
  undo_takeCurve(s);
  ASSERT_TRUE(undo_undo(s));
  undo_putCurve(s);
  EXPECT_EQ(shown(), reads(101, kLinear101, kLinear101)) << "after undo";

  load(curve_presetCurve2);
  EXPECT_EQ(shown(), reads(101, kCurve2At101, kCurve2At101)) << "after a preset";
}

TEST_F(Readout, ThePointersCursorStaysThePointers) {
  ASSERT_TRUE(curve_handleKey(CURVE_KEY_HOME, false, 5, label, sizeof label));
  event(CURVE_EV_MOTION, col(101), TOP);  // the pointer takes the cursor back
  ASSERT_EQ(std::string(label), reads(101, kLinear101, 4095));
  load(curve_presetCurve2);
  EXPECT_EQ(shown(), reads(101, kCurve2At101, 4095));
}
