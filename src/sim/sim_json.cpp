#include "sim/sim_json.h"

const SimJson* simJson_object(const SimJson& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end()) return nullptr;
  if (!it->is_object()) throw SimJsonError(std::string(key) + ": not an object");
  return &*it;
}

const SimJson* simJson_array(const SimJson& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end()) return nullptr;
  if (!it->is_array()) throw SimJsonError(std::string(key) + ": not an array");
  return &*it;
}

const std::string* simJson_string(const SimJson& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end()) return nullptr;
  if (!it->is_string()) throw SimJsonError(std::string(key) + ": not a string");
  return it->get_ptr<const std::string*>();
}

uint32_t simJson_hex(const std::string& text, int digits, const char* key) {
  if (text.empty() || (int)text.size() > digits)
    throw SimJsonError(std::string(key) + ": \"" + text + "\" is not a hexadecimal number of up to " +
                       std::to_string(digits) + " digits");
  uint32_t v = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      throw SimJsonError(std::string(key) + ": \"" + text + "\" is not a hexadecimal number");
    v = v << 4 | (uint32_t)d;
  }
  return v;
}
