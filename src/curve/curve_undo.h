// Undo and redo of the changes to the current curve. A step is the state a
// change started from; undoing it brings that state back and keeps the
// state it replaced for redo. One step per mouse stroke (press to release),
// per preset, per file read, and per run of nudges on the same level. A
// step records the curve's name only when the change set the name (a
// preset, a read): undoing a stroke never touches the name being typed.
#pragma once

#include <cstdint>

#include "curve/curve.h"

enum { UNDO_STEPS = 200 };  // steps kept; the oldest go first

struct UndoState {
  int32_t values[CURVE_POINTS];
  bool named;                   // whether `name` counts
  char name[CURVE_NAME_SIZE];   // the name as the record holds it
};

// Records a change from `before` to `after`. Nothing is recorded when the
// change left the curve (and, for a named change, the name) as it was. A
// change with the same non-zero run as the step recorded just before joins
// that step. Every recorded change clears the redo steps.
void undo_record(const UndoState& before, const UndoState& after, int run);
// Undo: `state` holds the current state (its name counts); on true it holds
// the state to go back to (its name only when `named`), and the current one
// is kept for redo. False, with `state` unchanged, when there is nothing to
// undo. Redo the same the other way.
bool undo_undo(UndoState& state);
bool undo_redo(UndoState& state);
bool undo_canUndo();
bool undo_canRedo();
// Forgets every step.
void undo_clear();
// Called after every change of what can be undone or redone (null: none).
void undo_setChangeHook(void (*hook)());

// The run key of nudges on input level `level`.
int undo_nudgeRun(int level);

// The current curve with no name, for the changes that keep the name.
void undo_takeCurve(UndoState& state);
// Puts a state's values into the current curve (through curve_setData, so
// the view repaints).
void undo_putCurve(const UndoState& state);
