// The JSON of the simulated line's state file, read and written with
// nlohmann-json: one type for every part, and the checked reading of a
// member that a state file may leave out (the part keeps its value then).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

// Members keep the order they were written in, so the file reads as the
// parts lay it out.
using SimJson = nlohmann::ordered_json;

// What is wrong with a state file: the member's name and why.
class SimJsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the integer member `key` of `j` into out when it is there; a value
// of another type or outside lo..hi is refused with the member's name.
template <typename T>
void simJson_int(const SimJson& j, const char* key, long long lo, long long hi, T& out) {
  auto it = j.find(key);
  if (it == j.end()) return;
  if (!it->is_number_integer())
    throw SimJsonError(std::string(key) + ": not an integer");
  const long long v = it->get<long long>();
  if (v < lo || v > hi)
    throw SimJsonError(std::string(key) + ": " + std::to_string(v) + " is not within " +
                       std::to_string(lo) + ".." + std::to_string(hi));
  out = (T)v;
}

// The same for a true/false member.
inline void simJson_bool(const SimJson& j, const char* key, bool& out) {
  auto it = j.find(key);
  if (it == j.end()) return;
  if (!it->is_boolean()) throw SimJsonError(std::string(key) + ": not true or false");
  out = it->get<bool>();
}

// A member that must be an object or an array when it is there; null when
// it is missing.
const SimJson* simJson_object(const SimJson& j, const char* key);
const SimJson* simJson_array(const SimJson& j, const char* key);
// A string member, or null when it is missing.
const std::string* simJson_string(const SimJson& j, const char* key);
// A hexadecimal number of up to `digits` digits, as the file writes UIDs
// and DALI addresses; refused with the member's name otherwise.
uint32_t simJson_hex(const std::string& text, int digits, const char* key);
