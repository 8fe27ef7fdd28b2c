// How a virtual device misbehaves, for tests that need a device that never
// mutes, never answers a kind of request, or mutes only after a while.
#pragma once

#include <cstdint>

struct SimFaults {
  // Answers probes but never takes (nor acknowledges) its mute.
  bool neverMutes = false;
  // Takes and acknowledges its mute only from this try on (1 = the first).
  int mutesOnTry = 1;
  // Answers probes while muted.
  bool probesWhileMuted = false;
  // Acknowledges a UID change under its old UID instead of the new one.
  bool acknowledgesUnderOldUid = false;
  // Bit c set: ignores every request of class c (1 settings, 3 functions).
  uint32_t silentClasses = 0;
  // Misses a probe it should answer with this chance, in per mille (a
  // device that did not hear the frame on a noisy line).
  int probeLossPerMille = 0;
};

inline bool simFaults_silent(const SimFaults& f, uint8_t cls) {
  return cls < 32 && (f.silentClasses >> cls & 1u) != 0;
}
