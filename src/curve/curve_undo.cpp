#include "curve/curve_undo.h"

#include <cstring>
#include <deque>

namespace {

std::deque<UndoState> undoSteps;  // newest last
std::deque<UndoState> redoSteps;  // newest last
int lastRun = 0;                  // run of the step recorded last; 0 after anything else
void (*changeHook)() = nullptr;

void changed() {
  if (changeHook) changeHook();
}

bool sameState(const UndoState& a, const UndoState& b) {
  if (memcmp(a.values, b.values, sizeof a.values) != 0) return false;
  if (!a.named || !b.named) return true;
  return strncmp(a.name, b.name, CURVE_NAME_SIZE) == 0;
}

// Moves the newest step of `from` to the caller and `current` onto `to`.
bool step(std::deque<UndoState>& from, std::deque<UndoState>& to, UndoState& state) {
  if (from.empty()) return false;
  UndoState back = from.back();
  from.pop_back();
  state.named = back.named;  // the name goes with the step it belongs to
  to.push_back(state);
  state = back;
  lastRun = 0;
  changed();
  return true;
}

}  // namespace

void undo_record(const UndoState& before, const UndoState& after, int run) {
  if (sameState(before, after)) return;
  const bool joins = run != 0 && run == lastRun && !undoSteps.empty();
  lastRun = run;
  if (!joins) {
    undoSteps.push_back(before);
    if (undoSteps.size() > UNDO_STEPS) undoSteps.pop_front();
  }
  redoSteps.clear();
  changed();
}

bool undo_undo(UndoState& state) { return step(undoSteps, redoSteps, state); }

bool undo_redo(UndoState& state) { return step(redoSteps, undoSteps, state); }

bool undo_canUndo() { return !undoSteps.empty(); }

bool undo_canRedo() { return !redoSteps.empty(); }

void undo_clear() {
  undoSteps.clear();
  redoSteps.clear();
  lastRun = 0;
  changed();
}

void undo_setChangeHook(void (*hook)()) { changeHook = hook; }

int undo_nudgeRun(int level) { return level + 1; }

void undo_takeCurve(UndoState& state) {
  memcpy(state.values, cData, sizeof state.values);
  state.named = false;
  memset(state.name, 0, sizeof state.name);
}

void undo_putCurve(const UndoState& state) {
  CurveRecord rec;
  memset(&rec, 0, sizeof rec);
  for (int i = 0; i < CURVE_POINTS; i++) rec.values[i] = (uint16_t)state.values[i];
  curve_setData(&rec);
}
