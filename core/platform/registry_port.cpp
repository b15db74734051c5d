#include "core/platform/registry_port.h"

#include <algorithm>

namespace calorim {

RegistryDictionary::RegistryDictionary(std::initializer_list<std::pair<std::string, RegistryValue>> entries) {
  for (const auto& [key, value] : entries) set(key, value);
}

void RegistryDictionary::set(std::string key, RegistryValue value) {
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == key; });
  if (it != entries_.end()) {
    it->second = std::move(value);
  } else {
    entries_.emplace_back(std::move(key), std::move(value));
  }
}

const RegistryValue* RegistryDictionary::find(std::string_view key) const {
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == key; });
  return it == entries_.end() ? nullptr : &it->second;
}

bool RegistryDictionary::operator==(const RegistryDictionary& other) const {
  if (entries_.size() != other.entries_.size()) return false;
  return std::all_of(entries_.begin(), entries_.end(), [&](const auto& e) {
    const RegistryValue* v = other.find(e.first);
    return v != nullptr && *v == e.second;
  });
}

}  // namespace calorim
