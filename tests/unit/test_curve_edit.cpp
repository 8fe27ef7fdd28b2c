#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "curve/curve.h"
#include "curve/curve_edit.h"
#include "../support/curve_fixture.h"

namespace {

class CurveEdit : public CurveFixture {
 protected:
  int32_t before[CURVE_POINTS];

  void snapshot() { memcpy(before, cData, sizeof before); }
  int send(int kind, double x, double y, int button = 0, bool up = false, int approx = 5) {
    return event(kind, x, y, button, up, approx);
  }
  int press(int button, int level, double y, int approx = 5) {
    return send(CURVE_EV_PRESS, col(level), y, button, false, approx);
  }
  void move(int level, double y) { send(CURVE_EV_MOTION, col(level), y); }
  void scroll(int level, bool up, int approx = 5) {
    send(CURVE_EV_SCROLL, col(level), 100, 0, up, approx);
  }
  // Points strictly between a and b lie on the straight segment between their
  // values: truncated, or one below where extended precision lands just
  // under an integer.
  void expectSegment(int a, int b) {
    const int dir = b > a ? 1 : -1, n = (b - a) * dir;
    for (int i = a + dir, k = 1; i != b; i += dir, k++) {
      const int exact = (int)(cData[a] + (double)(cData[b] - cData[a]) * k / n + 1e-9);
      EXPECT_TRUE(cData[i] == exact || cData[i] == exact - 1) << "level " << i << ": " << cData[i];
    }
  }
  void expectUnchanged(int from, int to) {
    for (int i = from; i <= to; i++) EXPECT_EQ(cData[i], before[i]) << "level " << i;
  }
};

}  // namespace

TEST_F(CurveEdit, PixelsAndLevels) {
  EXPECT_DOUBLE_EQ(get_pointX(255), 420);
  EXPECT_DOUBLE_EQ(get_pointY(4095), 20);
  EXPECT_DOUBLE_EQ(get_pointY(-5), 320);
  EXPECT_EQ(getGraphPosX(51), 1);     // 0.69
  EXPECT_EQ(getGraphPosX(235), 127);  // 127.5: below .6 stays low
  EXPECT_EQ(getGraphPosX(236), 128);
  EXPECT_EQ(getGraphPosX(-1.0), -35);
  EXPECT_EQ(getGraphPosY(170), 2047);
  for (double d = 0; d <= 10; d += 0.5) {  // the edit margins clamp onto the plot edges
    EXPECT_EQ(getGraphPosX(pointerInGraphX(40 + d)), 0) << d;
    EXPECT_EQ(getGraphPosX(pointerInGraphX(W - 20 + d)), 255) << d;
    EXPECT_EQ(getGraphPosY(pointerInGraphY(10 + d)), 4095) << d;
    EXPECT_EQ(getGraphPosY(pointerInGraphY(H - 30 + d)), 0) << d;
  }
  EXPECT_TRUE(isInGraphCursorArea(430, 330));
  EXPECT_FALSE(isInGraphCursorArea(430.5, 100));
  EXPECT_FALSE(isInGraphPaintArea(49.9, 100));
}

TEST_F(CurveEdit, NoSizeYetMeansNoLevelsAndNoEditArea) {
  curve_setSize(0, 0);
  EXPECT_EQ(getGraphPosX(100), -1);
  EXPECT_EQ(getGraphPosY(100), -1);
  curve_setSize(60, 40);  // smaller than the margins
  snapshot();
  EXPECT_EQ(send(CURVE_EV_PRESS, 45, 15, 1), CURVE_POINTER_OUTSIDE);
  expectUnchanged(0, 255);
}

TEST_F(CurveEdit, LinearInExtendedPrecision) {
  memset(cData, 0, sizeof cData);
  linear(0, 255, 4095);
  EXPECT_EQ(cData[1], 16);
  EXPECT_EQ(cData[34], 546);
  EXPECT_EQ(cData[255], 4095);
  memset(cData, 0, sizeof cData);
  cData[0] = 4095;
  linear(0, 255, 0);
  EXPECT_EQ(cData[17], 3821) << "repeated subtraction lands one below 3822";
  EXPECT_EQ(cData[0], 4095);
  memset(cData, 0, sizeof cData);
  linear(20, 10, 1000);  // downward
  EXPECT_EQ(cData[15], 500);
  EXPECT_EQ(cData[19], 100);
  snapshot();
  linear(0, 256, 4095);
  linear(-3, 5, 9000);  // only the end point, clamped
  EXPECT_EQ(cData[5], 4095);
  expectUnchanged(0, 4);
  expectUnchanged(6, 255);
}

TEST_F(CurveEdit, LeftClickShapesTheWidthAroundThePoint) {
  snapshot();
  EXPECT_EQ(press(1, 128, TOP), CURVE_POINTER_INSIDE);
  EXPECT_EQ(cData[128], 4095);
  expectUnchanged(0, 123);  // no previous selection: nothing reaches back
  expectUnchanged(133, 255);
  expectSegment(123, 128);
  expectSegment(133, 128);
  EXPECT_EQ(std::string(label), "Curve  128:4095\nCursor 128:4095");
  send(CURVE_EV_RELEASE, col(128), TOP);
  for (int width = 0; width <= 1; width++) {
    snapshot();
    move(60, 200);  // selects 60 first, so nothing reaches back to 128
    press(1, 60, BOTTOM, width);
    send(CURVE_EV_RELEASE, col(60), BOTTOM);
    EXPECT_EQ(cData[60], 0) << "width " << width;
    expectUnchanged(0, 59);
    expectUnchanged(61, 255);
  }
}

TEST_F(CurveEdit, FastDragLeavesNoGaps) {
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
  memset(cData, 0, sizeof cData);
  snapshot();
  press(3, 0, BOTTOM);
  EXPECT_EQ(curve_getXVect(), 50.0);
  move(255, TOP);
  EXPECT_EQ(cData[0], 0);
  EXPECT_EQ(cData[255], 4095);
  expectSegment(0, 255);
  move(100, BOTTOM);
  move(200, TOP);  // back and forth: earlier positions leave no trace
  expectSegment(0, 200);
  expectUnchanged(201, 255);
  int32_t drawn[CURVE_POINTS];
  memcpy(drawn, cData, sizeof drawn);
  send(CURVE_EV_MOTION, 50.0, BOTTOM);  // the anchor's own column
  EXPECT_EQ(0, memcmp(drawn, cData, sizeof drawn));
  send(CURVE_EV_RELEASE, col(200), TOP);
  EXPECT_EQ(curve_getEditMode(), CURVE_MODE_IDLE);
  move(30, BOTTOM);
  EXPECT_EQ(0, memcmp(drawn, cData, sizeof drawn)) << "released: moving draws nothing";
}

TEST_F(CurveEdit, WheelNudgesTheSelectedPoint) {
  snapshot();
  scroll(128, true);  // no selection yet
  expectUnchanged(0, 255);
  cData[128] = 4093;
  scroll(128, true);
  EXPECT_EQ(cData[128], 4095);
  cData[128] = 3;
  scroll(128, false);
  EXPECT_EQ(cData[128], 0);
  for (int i = 0; i < CURVE_POINTS; i++) cData[i] = 1000;
  scroll(128, true, 2);  // neighbours within the width follow
  const int expect[] = {1000, 1002, 1005, 1002, 1000};
  for (int i = 0; i < 5; i++) EXPECT_EQ(cData[126 + i], expect[i]) << 126 + i;
}

TEST_F(CurveEdit, WheelEndsAStraightLineDragKeepingTheLine) {
  press(3, 0, BOTTOM);
  move(100, TOP);
  snapshot();
  scroll(100, false, 0);
  EXPECT_EQ(curve_getEditMode(), CURVE_MODE_IDLE);
  EXPECT_EQ(cData[100], 4090);
  before[100] = 4090;
  move(180, TOP);
  expectUnchanged(0, 255);
}

TEST_F(CurveEdit, LeavingTheEditAreaResetsAndEndsTheDrag) {
  press(1, 100, TOP);
  EXPECT_EQ(send(CURVE_EV_MOTION, 435, TOP), CURVE_POINTER_OUTSIDE);
  EXPECT_EQ(xSel, -1);
  EXPECT_EQ(yCursor, -1);
  EXPECT_EQ(curve_getXold(), -1.0);
  EXPECT_EQ(curve_getEditMode(), CURVE_MODE_IDLE);
  EXPECT_STREQ(label, "");
  snapshot();
  move(150, BOTTOM);  // back inside with the button still held
  expectUnchanged(0, 255);
  press(3, 20, TOP);
  send(CURVE_EV_PRESS, 100, 5, 3);  // outside ends a line drag too
  EXPECT_EQ(curve_getEditMode(), CURVE_MODE_IDLE);
  EXPECT_EQ(curve_getXVect(), -1.0);
}
