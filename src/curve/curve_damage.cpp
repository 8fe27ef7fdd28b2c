#include "curve/curve_damage.h"

#include <cmath>

namespace {

// Pixels beyond the geometric outline of a stroke that antialiasing and
// rounding may still touch; generous on purpose.
const double kInkMargin = 2.0;

int w = 0, h = 0;
int cols = 0, rows = 0;
std::vector<unsigned char> now;   // marks for the coming repaint
std::vector<unsigned char> last;  // marks of the repaint before
std::vector<DamageBox> boxes;

int clampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

void markPixels(double left, double top, double right, double bottom) {
  if (cols == 0 || rows == 0) return;
  if (!(left <= right && top <= bottom)) return;  // also NaN
  if (right < 0 || bottom < 0 || left >= w || top >= h) return;
  left = std::fmax(left, 0);
  top = std::fmax(top, 0);
  right = std::fmin(right, w - 1);
  bottom = std::fmin(bottom, h - 1);
  const int c0 = clampInt((int)left / DAMAGE_TILE, 0, cols - 1);
  const int c1 = clampInt((int)right / DAMAGE_TILE, 0, cols - 1);
  const int r0 = clampInt((int)top / DAMAGE_TILE, 0, rows - 1);
  const int r1 = clampInt((int)bottom / DAMAGE_TILE, 0, rows - 1);
  for (int r = r0; r <= r1; r++)
    for (int c = c0; c <= c1; c++) now[(size_t)r * cols + c] = 1;
}

}  // namespace

void damage_setSize(int width, int height) {
  w = width > 0 ? width : 0;
  h = height > 0 ? height : 0;
  cols = (w + DAMAGE_TILE - 1) / DAMAGE_TILE;
  rows = (h + DAMAGE_TILE - 1) / DAMAGE_TILE;
  now.assign((size_t)cols * rows, 0);
  last.assign((size_t)cols * rows, 1);
}

void damage_all() { last.assign((size_t)cols * rows, 1); }

void damage_begin() { now.assign((size_t)cols * rows, 0); }

void damage_markLine(double x0, double y0, double x1, double y1, double halfWidth) {
  // The stroke's outline lies within the line's bounding box grown by half
  // the line width on every side, whatever its direction.
  const double grow = std::fabs(halfWidth) + kInkMargin;
  markPixels(std::fmin(x0, x1) - grow, std::fmin(y0, y1) - grow, std::fmax(x0, x1) + grow,
             std::fmax(y0, y1) + grow);
}

const std::vector<DamageBox>& damage_end() {
  boxes.clear();
  for (int r = 0; r < rows; r++) {
    for (int c = 0; c < cols;) {
      const size_t i = (size_t)r * cols;
      if (!now[i + c] && !last[i + c]) {
        c++;
        continue;
      }
      int end = c;
      while (end < cols && (now[i + end] || last[i + end])) end++;
      const int x = c * DAMAGE_TILE, y = r * DAMAGE_TILE;
      const int bw = (end * DAMAGE_TILE < w ? end * DAMAGE_TILE : w) - x;
      const int bh = ((r + 1) * DAMAGE_TILE < h ? (r + 1) * DAMAGE_TILE : h) - y;
      boxes.push_back(DamageBox{x, y, bw, bh});
      c = end;
    }
  }
  last.swap(now);
  return boxes;
}
