#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "curve/curve.h"
#include "curve/curve_edit.h"

namespace {

const int W = 440, H = 350;
const double TOP = 20, BOTTOM = 320;  // rows of output 4095 and 0

class CurveEdit : public testing::Test {
 protected:
  char label[CURVE_LABEL_SIZE];
  int32_t before[CURVE_POINTS];

  void SetUp() override {
    curve_setSize(W, H);
    curve_resetEditing();
    memset(cData, 0, sizeof cData);
  }
  void TearDown() override { curve_setSize(0, 0); }

  void loadLinear() {
    CurveRecord rec;
    curve_presetLinear(&rec);
    curve_setData(&rec);
  }
  void snapshot() { memcpy(before, cData, sizeof before); }
  // The first whole pixel column that selects `level`.
  double col(int level) {
    for (int x = 40; x <= W - 10; x++)
      if (getGraphPosX(pointerInGraphX(x)) == level) return x;
    ADD_FAILURE() << "no column for level " << level;
    return 0;
  }
  int send(int kind, double x, double y, int button = 0, bool up = false, int approx = 5) {
    CurveEvent ev{kind, x, y, button, up};
    return curve_handleEvent(ev, approx, label, sizeof label);
  }
  int press(int button, int level, double y, int approx = 5) {
    return send(CURVE_EV_PRESS, col(level), y, button, false, approx);
  }
  int move(int level, double y, int approx = 5) {
    return send(CURVE_EV_MOTION, col(level), y, 0, false, approx);
  }
  // Points strictly between a and b lie on the straight segment between
  // their values: truncated, or one below where extended precision lands
  // just under an integer.
  void expectSegment(int a, int b) {
    const double va = cData[a], vb = cData[b];
    const int dir = b > a ? 1 : -1;
    const int n = (b - a) * dir;
    for (int i = a + dir, k = 1; i != b; i += dir, k++) {
      const int exact = (int)(va + (vb - va) * k / n + 1e-9);
      EXPECT_GE(cData[i], exact - 1) << "level " << i;
      EXPECT_LE(cData[i], exact) << "level " << i;
    }
  }
  void expectUnchanged(int from, int to) {
    for (int i = from; i <= to; i++) EXPECT_EQ(cData[i], before[i]) << "level " << i;
  }
};

}  // namespace

TEST_F(CurveEdit, PlotGeometry) {
  EXPECT_DOUBLE_EQ(get_pointX(0), 50);
  EXPECT_DOUBLE_EQ(get_pointX(255), 420);
  EXPECT_DOUBLE_EQ(get_pointX(300), 420);
  EXPECT_DOUBLE_EQ(get_pointY(0), 320);
  EXPECT_DOUBLE_EQ(get_pointY(4095), 20);
  EXPECT_DOUBLE_EQ(get_pointY(-5), 320);
  EXPECT_EQ(get_spaceX(), 370);
  EXPECT_EQ(get_spaceY(), -300);
  EXPECT_TRUE(isInGraphPaintArea(50, 320));
  EXPECT_FALSE(isInGraphPaintArea(49.9, 100));
  EXPECT_TRUE(isInGraphCursorArea(40, 10));
  EXPECT_TRUE(isInGraphCursorArea(430, 330));
  EXPECT_FALSE(isInGraphCursorArea(430.5, 100));
  EXPECT_FALSE(isInGraphCursorArea(100, 9.5));
}

TEST_F(CurveEdit, ColumnToLevelRoundsUpFromPointSix) {
  EXPECT_EQ(getGraphPosX(51), 1);     // 0.69
  EXPECT_EQ(getGraphPosX(51.9), 1);   // truncated to column 51 first
  EXPECT_EQ(getGraphPosX(235), 127);  // 127.5 stays below
  EXPECT_EQ(getGraphPosX(236), 128);
  EXPECT_EQ(getGraphPosX(50), 0);
  EXPECT_EQ(getGraphPosX(49), 0);  // just left of the plot
  EXPECT_EQ(getGraphPosX(-1.0), -35);
  EXPECT_EQ(getGraphPosX(420), 255);
  // The edit margins clamp onto the plot edges.
  for (double x = 40; x <= 50; x += 0.5) EXPECT_EQ(getGraphPosX(pointerInGraphX(x)), 0) << x;
  for (double x = W - 20; x <= W - 10; x += 0.5)
    EXPECT_EQ(getGraphPosX(pointerInGraphX(x)), 255) << x;
  for (double y = 10; y <= 20; y += 0.5) EXPECT_EQ(getGraphPosY(pointerInGraphY(y)), 4095) << y;
  for (double y = H - 30; y <= H - 20; y += 0.5)
    EXPECT_EQ(getGraphPosY(pointerInGraphY(y)), 0) << y;
  EXPECT_EQ(getGraphPosY(170), 2047);  // (170 - 320) * 4095 / -300 = 2047.5
}

TEST_F(CurveEdit, NoSizeYetMeansNoLevelsAndNoEditArea) {
  curve_setSize(0, 0);
  EXPECT_EQ(getGraphPosX(100), -1);
  EXPECT_EQ(getGraphPosY(100), -1);
  EXPECT_FALSE(isInGraphCursorArea(45, 15));
  curve_setSize(60, 40);  // narrower than the margins
  EXPECT_FALSE(isInGraphCursorArea(45, 15));
  EXPECT_EQ(send(CURVE_EV_PRESS, 45, 15, 1), CURVE_POINTER_OUTSIDE);
  for (int i = 0; i < CURVE_POINTS; i++) ASSERT_EQ(cData[i], 0);
}

TEST_F(CurveEdit, LinearInExtendedPrecision) {
  linear(0, 255, 4095);
  EXPECT_EQ(cData[0], 0);
  EXPECT_EQ(cData[1], 16);
  EXPECT_EQ(cData[34], 546);
  EXPECT_EQ(cData[255], 4095);

  memset(cData, 0, sizeof cData);
  cData[0] = 4095;
  linear(0, 255, 0);
  EXPECT_EQ(cData[17], 3821) << "built by repeated subtraction, one below 3822";
  EXPECT_EQ(cData[0], 4095);
  EXPECT_EQ(cData[255], 0);

  // Walking down from a higher `from`.
  memset(cData, 0, sizeof cData);
  linear(20, 10, 1000);
  EXPECT_EQ(cData[10], 1000);
  EXPECT_EQ(cData[15], 500);
  EXPECT_EQ(cData[19], 100);
  EXPECT_EQ(cData[20], 0);
}

TEST_F(CurveEdit, LinearIgnoresLevelsOutsideTheCurve) {
  cData[5] = 100;
  snapshot();
  linear(0, 256, 4095);
  linear(0, -1, 4095);
  expectUnchanged(0, 255);
  linear(-3, 5, 9000);  // only the end point, clamped
  EXPECT_EQ(cData[5], 4095);
  linear(5, 5, -20);
  EXPECT_EQ(cData[5], 0);
  expectUnchanged(0, 4);
  expectUnchanged(6, 255);
}

TEST_F(CurveEdit, LeftClickShapesTheWidthAroundThePoint) {
  loadLinear();
  snapshot();
  EXPECT_EQ(press(1, 128, TOP), CURVE_POINTER_INSIDE);
  EXPECT_EQ(cData[128], 4095);
  expectUnchanged(0, 123);
  expectUnchanged(133, 255);
  expectSegment(123, 128);
  expectSegment(133, 128);
  EXPECT_EQ(std::string(label), "Curve  128:4095\nCursor 128:4095");
  EXPECT_EQ(curve_getEditMode(), CURVE_MODE_FREEHAND);
  send(CURVE_EV_RELEASE, col(128), TOP);
  EXPECT_EQ(curve_getEditMode(), CURVE_MODE_IDLE);
}

TEST_F(CurveEdit, WidthZeroOrOneChangesOnePoint) {
  for (int width = 0; width <= 1; width++) {
    loadLinear();
    snapshot();
    curve_resetEditing();
    move(60, BOTTOM, width);  // a previous selection at the same level
    press(1, 60, TOP, width);
    EXPECT_EQ(cData[60], 4095) << "width " << width;
    expectUnchanged(0, 59);
    expectUnchanged(61, 255);
  }
}

TEST_F(CurveEdit, FastDragLeavesNoGaps) {
  loadLinear();
  press(1, 10, 200);
  snapshot();
  move(50, BOTTOM);  // one motion event across 40 levels
  EXPECT_EQ(cData[50], 0);
  expectUnchanged(0, 10);
  expectSegment(10, 50);
  expectSegment(55, 50);
  expectUnchanged(55, 255);
}

TEST_F(CurveEdit, RightDragDrawsALineFromTheSnapshot) {
  snapshot();
  press(3, 0, BOTTOM);
  EXPECT_EQ(curve_getEditMode(), CURVE_MODE_LINE);
  EXPECT_EQ(curve_getXVect(), 50.0);
  move(255, TOP);
  EXPECT_EQ(cData[0], 0);
  EXPECT_EQ(cData[255], 4095);
  expectSegment(0, 255);

  move(100, BOTTOM);  // back and forth: each position redrawn from the snapshot
  move(200, TOP);
  EXPECT_EQ(cData[200], 4095);
  expectSegment(0, 200);
  expectUnchanged(201, 255);

  // At exactly the anchor's column nothing changes.
  int32_t drawn[CURVE_POINTS];
  memcpy(drawn, cData, sizeof drawn);
  send(CURVE_EV_MOTION, 50.0, TOP);
  EXPECT_EQ(0, memcmp(drawn, cData, sizeof drawn));

  send(CURVE_EV_RELEASE, col(200), TOP);
  EXPECT_EQ(curve_getEditMode(), CURVE_MODE_IDLE);
  EXPECT_EQ(curve_getXVect(), -1.0);
  move(30, BOTTOM);
  EXPECT_EQ(0, memcmp(drawn, cData, sizeof drawn)) << "released: moving draws nothing";
}

TEST_F(CurveEdit, WheelNudgesTheSelectedPoint) {
  cData[128] = 4093;
  move(128, 100);
  send(CURVE_EV_SCROLL, col(128), 100, 0, true);
  EXPECT_EQ(cData[128], 4095);
  cData[128] = 3;
  send(CURVE_EV_SCROLL, col(128), 100, 0, false);
  EXPECT_EQ(cData[128], 0);

  // Neighbours within the width follow.
  for (int i = 0; i < CURVE_POINTS; i++) cData[i] = 1000;
  send(CURVE_EV_SCROLL, col(128), 100, 0, true, 2);
  EXPECT_EQ(cData[128], 1005);
  EXPECT_EQ(cData[127], 1002);
  EXPECT_EQ(cData[129], 1002);
  EXPECT_EQ(cData[126], 1000);
  EXPECT_EQ(cData[130], 1000);
}

TEST_F(CurveEdit, WheelWithoutSelectionChangesNothing) {
  cData[128] = 2000;
  snapshot();
  send(CURVE_EV_SCROLL, col(128), 100, 0, true);
  expectUnchanged(0, 255);
  EXPECT_EQ(xSel, 128) << "the scroll's position selects for the next one";
}

TEST_F(CurveEdit, WheelEndsAStraightLineDragKeepingTheLine) {
  press(3, 0, BOTTOM);
  move(100, TOP);
  snapshot();
  send(CURVE_EV_SCROLL, col(100), TOP, 0, false, 0);
  EXPECT_EQ(curve_getEditMode(), CURVE_MODE_IDLE);
  EXPECT_EQ(cData[100], 4090);
  expectUnchanged(0, 99);
  expectUnchanged(101, 255);
  snapshot();
  move(180, TOP);
  expectUnchanged(0, 255);
}

TEST_F(CurveEdit, LeavingTheEditAreaResetsAndEndsTheDrag) {
  press(1, 100, TOP);
  ASSERT_EQ(curve_getEditMode(), CURVE_MODE_FREEHAND);
  EXPECT_EQ(send(CURVE_EV_MOTION, 435, TOP), CURVE_POINTER_OUTSIDE);
  EXPECT_EQ(xSel, -1);
  EXPECT_EQ(yCursor, -1);
  EXPECT_EQ(curve_getXold(), -1.0);
  EXPECT_EQ(curve_getXVect(), -1.0);
  EXPECT_EQ(curve_getEditMode(), CURVE_MODE_IDLE);
  EXPECT_STREQ(label, "");
  snapshot();
  move(150, BOTTOM);  // back inside with the button still held
  expectUnchanged(0, 255);
  EXPECT_EQ(std::string(label), "Curve  150:   0\nCursor 150:   0");

  press(3, 20, TOP);
  send(CURVE_EV_PRESS, 100, 5, 3);  // outside: also ends a line drag
  EXPECT_EQ(curve_getEditMode(), CURVE_MODE_IDLE);
}
