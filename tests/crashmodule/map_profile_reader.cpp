#include "map_profile_reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Name(const std::string& path, const std::string& section, const std::string& key) {
  return Lower(path) + "|" + Lower(section) + "|" + Lower(key);
}

}  // namespace

void MapProfileReader::Set(const std::string& path, const std::string& section,
                           const std::string& key, const std::string& value) {
  values_[Name(path, section, key)] = value;
}

void MapProfileReader::Clear() {
  values_.clear();
  reads_.clear();
}

uint32_t MapProfileReader::Read(const char* section, const char* key, const char* default_value,
                                char* out, uint32_t capacity, const char* path) {
  reads_.push_back(std::string(path) + "|" + section + "|" + key);
  auto found = values_.find(Name(path, section, key));
  const std::string value =
      found != values_.end() ? found->second : std::string(default_value ? default_value : "");
  if (capacity == 0) return 0;
  const size_t length = std::min<size_t>(value.size(), capacity - 1);
  std::memcpy(out, value.data(), length);
  out[length] = '\0';
  return static_cast<uint32_t>(length);
}
