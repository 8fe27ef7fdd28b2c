// Which parts of the curve view a repaint has to redo. The view is cut into
// square tiles; before a repaint, every stroke the repaint will draw marks
// the tiles its ink may reach. The repaint then redoes the tiles marked for
// it and those marked for the repaint before (to wipe what was drawn there),
// and leaves every other pixel as it was: there the picture is only the
// axes, the grid and the background, which do not change between repaints.
#pragma once

#include <vector>

struct DamageBox {
  int x, y, w, h;  // pixels, within the view
};

enum { DAMAGE_TILE = 32 };  // tile edge in pixels

// A view of a new size: the next repaint redoes everything.
void damage_setSize(int w, int h);
// The next repaint redoes everything (the background changed, say).
void damage_all();
// Starts the marks of the next repaint.
void damage_begin();
// Marks what a stroked straight line from (x0, y0) to (x1, y1) with line
// width 2 * halfWidth may ink, antialiasing included.
void damage_markLine(double x0, double y0, double x1, double y1, double halfWidth);
// The tiles to redo, this repaint's and the last one's, as boxes: runs of
// neighbouring tiles in a tile row, clipped to the view. Call after the
// marks; the marks then count as the last repaint's.
const std::vector<DamageBox>& damage_end();
