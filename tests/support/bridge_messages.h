// The window's side of the bridge, for tests of the device workers: takes
// the message a worker left, as the window's timer does, into a list.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "device/bridge.h"

// Messages shown so far: the message type and its text.
inline std::vector<std::pair<int, std::string>> shown;

inline void takeMessages() {
  bridge_setShower([](int type, const char* text) { shown.emplace_back(type, text); });
  bridge_showPending();
  bridge_setShower(nullptr);
}
