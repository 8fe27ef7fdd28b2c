// The curve's editing state at the view's default size with the linear
// preset loaded, and pointer events aimed at a level's column.
#pragma once

#include <gtest/gtest.h>

#include "curve/curve.h"
#include "curve/curve_edit.h"

class CurveFixture : public testing::Test {
 protected:
  static const int W = 440, H = 350;
  static constexpr double TOP = 20, BOTTOM = 320;  // rows of output 4095 and 0
  char label[CURVE_LABEL_SIZE];

  void SetUp() override {
    curve_setSize(W, H);
    curve_resetEditing();
    CurveRecord rec;
    curve_presetLinear(&rec);
    curve_setData(&rec);
  }
  void TearDown() override { curve_setSize(0, 0); }
  // The first pixel column of the edit area that selects `level`.
  double col(int level) {
    for (int x = 40; x <= W - 10; x++)
      if (getGraphPosX(pointerInGraphX(x)) == level) return x;
    ADD_FAILURE() << "no column for level " << level;
    return 0;
  }
  int event(int kind, double x, double y, int button = 0, bool up = false, int approx = 5) {
    CurveEvent ev{kind, x, y, button, up};
    return curve_handleEvent(ev, approx, label, sizeof label);
  }
};
