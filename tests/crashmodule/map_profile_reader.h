// A ProfileReader over values the test sets, with the private-profile rules the module relies
// on: case-insensitive names, the default for an absent key, values cut to the capacity.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "crashmodule/module_settings.h"

class MapProfileReader final : public ProfileReader {
 public:
  void Set(const std::string& path, const std::string& section, const std::string& key,
           const std::string& value);
  uint32_t Read(const char* section, const char* key, const char* default_value, char* out,
                uint32_t capacity, const char* path) override;

  // Every key read, in order, as "path|section|key".
  const std::vector<std::string>& reads() const { return reads_; }
  // Forgets every value and every read.
  void Clear();

 private:
  std::map<std::string, std::string> values_;
  std::vector<std::string> reads_;
};
