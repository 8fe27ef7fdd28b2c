// The window's choice of converter, kept for the next start, free of GTK.
// The choice is a serial number in a small settings file,
// $XDG_CONFIG_HOME/tern/tern-curve.conf (~/.config/tern/tern-curve.conf
// without XDG_CONFIG_HOME): one "key=value" a line, the choice on the line
// "cable=SERIAL". At start it is taken unless --cable or TERN_CABLE named
// a converter, and only when that converter is attached: otherwise the
// window uses the first converter, as without a choice, and shows which.
//
// Errors: the file functions return 0 or an error number; a file that
// cannot be read holds no choice.
#pragma once

#include <cstddef>

#include "link/cables.h"

enum { CABLE_CHOICE_PATH_SIZE = 4096 };

// The settings file's path; false when neither XDG_CONFIG_HOME nor HOME
// gives one.
bool cableChoice_path(char* path, size_t size);
// The serial number kept in the settings file at `path`, or false.
bool cableChoice_read(const char* path, char* serial, size_t size);
// Keeps `serial` in the settings file at `path` (its folder made when
// missing), the file's other lines as they were: 0, or an error number.
int cableChoice_write(const char* path, const char* serial);

// The converter to choose at start: the kept serial when one of the
// converters attached has it; null otherwise.
const char* cableChoice_atStart(const char* kept, const CableEntry* cables, int count);
// Applies the kept choice at the window's start, unless a converter was
// named already (--cable, TERN_CABLE). Returns whether it chose one.
bool cableChoice_applyKept();
