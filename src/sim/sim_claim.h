// A simulated converter claimed across processes, as the USB interface of a
// real one is: a lock on a file named after its serial number, in
// $XDG_RUNTIME_DIR (or /tmp when that is not set). The lock belongs to the
// open file, so two claims of one serial number exclude each other whether
// they are made by two processes or by two lines in one; closing the file,
// or the process's end, gives the claim back.
#pragma once

#include <string>

// The lock file of `serial`: "<dir>/tern-cable-<serial>.lock".
std::string claim_path(const std::string& serial);
// Claims `serial`: the open lock file (>= 0), CLAIM_HELD_ELSEWHERE when
// another claim holds it, CLAIM_FAILED when the file cannot be opened.
enum { CLAIM_HELD_ELSEWHERE = -1, CLAIM_FAILED = -2 };
int claim_take(const std::string& serial);
// Whether a claim other than the caller's holds `serial` now. Asks without
// taking the lock, so it never gets in another claim's way.
bool claim_heldElsewhere(const std::string& serial);
// Gives back the claim `fd` made by claim_take (negative: nothing to do).
void claim_release(int fd);
