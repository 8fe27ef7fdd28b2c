// One user of the cable at a time. The converter, the port's and the cable
// layer's globals and the response buffer belong to whichever thread holds
// this lock. The lock is recursive: every port and cable procedure holds it
// for its own duration, and a command holds it from its open to its release
// (cable.cpp), so that two threads never interleave bytes on the line and a
// close on one thread never pulls the converter from under another.
#pragma once

// Takes the lock, waiting while another thread holds it.
void cablelock_take();
// Takes the lock only if no other thread holds it; true when taken.
bool cablelock_tryTake();
// Gives back one take.
void cablelock_give();
// Whether the calling thread holds the lock.
bool cablelock_held();

// Holds the lock for a scope.
class CableLockScope {
 public:
  CableLockScope() { cablelock_take(); }
  ~CableLockScope() { cablelock_give(); }
  CableLockScope(const CableLockScope&) = delete;
  CableLockScope& operator=(const CableLockScope&) = delete;
};
